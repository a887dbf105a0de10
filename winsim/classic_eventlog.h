// The classic event-log interface of the simulated machine: logs of records that the classic
// reader returns, oldest first; laying them out as EVENTLOGRECORDs is the reader's part.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace winsim {

struct ClassicRecord {
    uint32_t eventId = 0;      // the full 32-bit identifier
    uint32_t timeWritten = 0;  // seconds since 1970
    std::vector<std::u16string> strings;
    std::u16string source = u"Microsoft-Windows-Security-Auditing";
};

// Control. Log names ignore case; "Security", "System" and "Application" exist at first.
void AppendClassicRecord(const std::u16string& log, ClassicRecord record);
void ResetClassicLogs();
// Makes the next read of any log fail with the error.
void FailNextClassicRead(int32_t error);

// The machine's side: 2 (not found) for a log that does not exist.
int32_t OpenClassicLog(const std::u16string& log);
// The records of the log, oldest first (record number 1 is the first), or the injected failure.
int32_t ClassicLogRecords(const std::u16string& log, std::vector<ClassicRecord>* records);

}  // namespace winsim
