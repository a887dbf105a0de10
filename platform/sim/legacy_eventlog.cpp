#include "platform/legacy_eventlog.h"

#include <cstring>
#include <vector>

#include "eventlog/event_values.h"
#include "winsim/classic_eventlog.h"

namespace vantel::platform {

namespace {

uintptr_t HandleValue(void* handle) { return reinterpret_cast<uintptr_t>(handle); }

}  // namespace

LegacyEventLog::~LegacyEventLog() {
    if (handle_) winsim::CloseClassicLog(HandleValue(handle_));
}

int32_t LegacyEventLog::Open(const std::u16string& log) {
    uintptr_t opened = 0;
    if (int32_t error = winsim::OpenClassicLog(log, &opened)) return error;
    if (handle_) winsim::CloseClassicLog(HandleValue(handle_));
    handle_ = reinterpret_cast<void*>(opened);
    return kErrorSuccess;
}

int32_t LegacyEventLog::Read(uint32_t flags, uint32_t recordNumber, std::span<uint8_t> buffer, uint32_t* bytesRead,
                             uint32_t* bytesNeeded) {
    *bytesRead = 0;
    uint32_t needed = 0;
    int32_t error = winsim::ReadClassicLog(
        HandleValue(handle_), flags, recordNumber, [&](uint32_t number, const winsim::ClassicRecord& source) {
            LegacyEventRecord record;
            record.recordNumber = number;
            record.timeGenerated = record.timeWritten = source.timeGenerated;
            record.eventId = source.eventId;
            record.eventType = source.eventType;
            record.eventCategory = source.category;
            record.strings = source.strings;
            record.userSid = source.userSid;
            record.data = source.data;
            record.sourceName = source.source;
            record.computerName = source.computer;
            std::vector<uint8_t> bytes = record.Serialize();
            if (*bytesRead + bytes.size() > buffer.size()) {
                if (*bytesRead == 0) needed = static_cast<uint32_t>(bytes.size());
                return false;
            }
            std::memcpy(buffer.data() + *bytesRead, bytes.data(), bytes.size());
            *bytesRead += static_cast<uint32_t>(bytes.size());
            return true;
        });
    if (error) return error;
    if (*bytesRead == 0) {
        *bytesNeeded = needed;
        return kErrorInsufficientBuffer;
    }
    return kErrorSuccess;
}

int32_t LegacyEventLog::OldestRecord(uint32_t* number) {
    uint32_t count = 0;
    return winsim::ClassicLogExtent(HandleValue(handle_), number, &count);
}

int32_t LegacyEventLog::RecordCount(uint32_t* count) {
    uint32_t oldest = 0;
    return winsim::ClassicLogExtent(HandleValue(handle_), &oldest, count);
}

int32_t LegacyEventLog::NotifyChange(const Event& event) {
    return winsim::NotifyClassicLogChange(HandleValue(handle_), *static_cast<const winsim::KernelEvent*>(event.native()));
}

}  // namespace vantel::platform
