#include "platform/legacy_eventlog.h"

#include <cstring>
#include <vector>

#include "eventlog/event_values.h"
#include "winsim/classic_eventlog.h"

namespace vantel::platform {

namespace {

// The open log: its name and the record number the next sequential read starts from.
struct OpenLog {
    std::u16string name;
    bool started = false;
    uint32_t next = 0;
};

}  // namespace

LegacyEventLog::~LegacyEventLog() { delete static_cast<OpenLog*>(handle_); }

int32_t LegacyEventLog::Open(const std::u16string& log) {
    if (int32_t error = winsim::OpenClassicLog(log)) return error;
    delete static_cast<OpenLog*>(handle_);
    handle_ = new OpenLog{log};
    return kErrorSuccess;
}

int32_t LegacyEventLog::Read(uint32_t flags, std::span<uint8_t> buffer, uint32_t* bytesRead, uint32_t* bytesNeeded) {
    auto* log = static_cast<OpenLog*>(handle_);
    if (!log || !(flags & kEventLogSequentialRead)) return kErrorInvalidParameter;
    std::vector<winsim::ClassicRecord> records;
    if (int32_t error = winsim::ClassicLogRecords(log->name, &records)) return error;
    const bool backwards = flags & kEventLogBackwardsRead;
    const uint32_t count = static_cast<uint32_t>(records.size());
    if (!log->started) log->next = backwards ? count : 1;
    log->started = true;
    *bytesRead = 0;
    while (log->next >= 1 && log->next <= count) {
        const winsim::ClassicRecord& source = records[log->next - 1];
        LegacyEventRecord record;
        record.recordNumber = log->next;
        record.timeGenerated = record.timeWritten = source.timeWritten;
        record.eventId = source.eventId;
        record.eventType = 8;  // audit success
        record.strings = source.strings;
        record.sourceName = source.source;
        record.computerName = u"WINSIM";
        std::vector<uint8_t> bytes = record.Serialize();
        if (*bytesRead + bytes.size() > buffer.size()) {
            if (*bytesRead != 0) break;
            *bytesNeeded = static_cast<uint32_t>(bytes.size());
            return kErrorInsufficientBuffer;
        }
        std::memcpy(buffer.data() + *bytesRead, bytes.data(), bytes.size());
        *bytesRead += static_cast<uint32_t>(bytes.size());
        log->next = backwards ? log->next - 1 : log->next + 1;
    }
    return *bytesRead ? kErrorSuccess : kErrorHandleEof;
}

}  // namespace vantel::platform
