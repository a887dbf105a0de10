// The classic event-log interface, in the shape of the Windows calls; results are Windows
// error codes.
#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "platform/errors.h"
#include "platform/threads.h"

namespace vantel::platform {

constexpr uint32_t kEventLogSequentialRead = 0x1;
constexpr uint32_t kEventLogSeekRead = 0x2;
constexpr uint32_t kEventLogForwardsRead = 0x4;
constexpr uint32_t kEventLogBackwardsRead = 0x8;
constexpr int32_t kErrorHandleEof = 38;
constexpr int32_t kErrorEventLogFileChanged = 1503;

// One log opened on the local computer (OpenEventLog), closed with the object.
class LegacyEventLog {
public:
    LegacyEventLog() = default;
    ~LegacyEventLog();
    LegacyEventLog(const LegacyEventLog&) = delete;
    LegacyEventLog& operator=(const LegacyEventLog&) = delete;

    int32_t Open(const std::u16string& log);
    // ReadEventLog: as many whole EVENTLOGRECORDs as fit into the buffer, from the handle's
    // position or, with the seek flag, from the record number. 122 (buffer too small) with
    // bytesNeeded when not even the first one fits; 38 at the end of the log; 1503 once the
    // log's file was cleared or replaced.
    int32_t Read(uint32_t flags, uint32_t recordNumber, std::span<uint8_t> buffer, uint32_t* bytesRead,
                 uint32_t* bytesNeeded);
    // GetOldestEventLogRecord and GetNumberOfEventLogRecords.
    int32_t OldestRecord(uint32_t* number);
    int32_t RecordCount(uint32_t* count);
    // NotifyChangeEventLog: the event is set when records are written to the log.
    int32_t NotifyChange(const Event& event);

private:
    void* handle_ = nullptr;
};

}  // namespace vantel::platform
