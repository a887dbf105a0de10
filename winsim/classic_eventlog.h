// The classic event-log interface of the simulated machine: logs of numbered records read
// through handles the way ReadEventLog reads them (sequentially or from a record, forwards or
// backwards, from a position each handle keeps); laying records out as EVENTLOGRECORDs is the
// reader's part.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "winsim/threads.h"

namespace winsim {

struct ClassicRecord {
    uint32_t eventId = 0;        // the full 32-bit identifier
    uint32_t timeGenerated = 0;  // seconds since 1970
    std::vector<std::u16string> strings{};
    std::u16string source = u"Microsoft-Windows-Security-Auditing";
    uint16_t eventType = 8;  // audit success
    uint16_t category = 0;
    std::vector<uint8_t> userSid{};  // binary form; empty for none
    std::vector<uint8_t> data{};
    std::u16string computer = u"WINSIM";
};

// ReadEventLog's flags and the errors of the classic interface.
constexpr uint32_t kClassicSequentialRead = 0x1;
constexpr uint32_t kClassicSeekRead = 0x2;
constexpr uint32_t kClassicForwardsRead = 0x4;
constexpr uint32_t kClassicBackwardsRead = 0x8;
constexpr int32_t kErrorHandleEof = 38;
constexpr int32_t kErrorEventLogFileChanged = 1503;

// Control. Log names ignore case; "Security", "System" and "Application" exist at first, empty,
// with the default maximum size (winsim/retention.h).
// Appends a record, numbered after the last one, and sets every event registered for the log.
// A full log drops its oldest records, or starts a new file when it archives (see below).
void AppendClassicRecord(const std::u16string& log, ClassicRecord record);
// Starts a new file for the log, as clearing does: numbers start at 1 again and every handle
// opened before reads 1503 from then on. The records given are written into the new file at
// once (clearing the Security log writes its 517 first).
void ClearClassicLog(const std::u16string& log, std::vector<ClassicRecord> written = {});
// The log's maximum size; when archiveWhenFull, a full log is backed up and a new file started
// (as clearing does) instead of overwriting its oldest records.
void SetClassicLogRetention(const std::u16string& log, uint64_t maximumBytes, bool archiveWhenFull);
size_t ClassicRecordCount(const std::u16string& log);
// The default logs again, no pending failure; open handles go stale.
void ResetClassicLogs();
// Makes the next read of any log fail with the error.
void FailNextClassicRead(int32_t error);
size_t OpenClassicLogHandleCount();
// Handles of the log whose change notification is registered.
size_t ClassicLogWatcherCount(const std::u16string& log);
// Whether every handle watching the log has read its last record and waits for the next change
// (true when none watches).
bool ClassicLogWatchersCaughtUp(const std::u16string& log);

// The machine's side, with the Windows errors. A log that does not exist answers 2.
int32_t OpenClassicLog(const std::u16string& log, uintptr_t* handle);
bool CloseClassicLog(uintptr_t handle);
// One ReadEventLog: offers the records the read returns, in its direction, to take, which
// answers false for one that does not fit (it stays unread and the read ends). A read moves the
// handle's position behind the last record taken; a handle's first sequential read starts at
// the oldest record (forwards) or the newest (backwards). Answers 38 when there is no record
// where the read starts, 87 for a seek to a record the log lacks or bad flags, 1503 when the
// log's file changed since the handle was opened.
using ClassicRecordTaker = std::function<bool(uint32_t number, const ClassicRecord& record)>;
int32_t ReadClassicLog(uintptr_t handle, uint32_t flags, uint32_t recordNumber, const ClassicRecordTaker& take);
// What GetOldestEventLogRecord and GetNumberOfEventLogRecords answer for the log's current
// file: the oldest record's number and the count of records (0 and 0 when empty).
int32_t ClassicLogExtent(uintptr_t handle, uint32_t* oldest, uint32_t* count);
// NotifyChangeEventLog: the event is set whenever a record is appended, until the handle closes.
int32_t NotifyClassicLogChange(uintptr_t handle, const KernelEvent& event);

}  // namespace winsim
