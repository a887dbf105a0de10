#include "platform/legacy_eventlog.h"

#include <windows.h>

namespace vantel::platform {

LegacyEventLog::~LegacyEventLog() {
    if (handle_) CloseEventLog(handle_);
}

int32_t LegacyEventLog::Open(const std::u16string& log) {
    HANDLE opened = OpenEventLogW(nullptr, reinterpret_cast<const wchar_t*>(log.c_str()));
    if (!opened) return static_cast<int32_t>(GetLastError());
    if (handle_) CloseEventLog(handle_);
    handle_ = opened;
    return ERROR_SUCCESS;
}

int32_t LegacyEventLog::Read(uint32_t flags, uint32_t recordNumber, std::span<uint8_t> buffer, uint32_t* bytesRead,
                             uint32_t* bytesNeeded) {
    DWORD read = 0, needed = 0;
    BOOL done = ReadEventLogW(handle_, flags, recordNumber, buffer.data(), static_cast<DWORD>(buffer.size()), &read,
                              &needed);
    *bytesRead = read;
    *bytesNeeded = needed;
    return done ? ERROR_SUCCESS : static_cast<int32_t>(GetLastError());
}

int32_t LegacyEventLog::OldestRecord(uint32_t* number) {
    DWORD oldest = 0;
    if (!GetOldestEventLogRecord(handle_, &oldest)) return static_cast<int32_t>(GetLastError());
    *number = oldest;
    return ERROR_SUCCESS;
}

int32_t LegacyEventLog::RecordCount(uint32_t* count) {
    DWORD records = 0;
    if (!GetNumberOfEventLogRecords(handle_, &records)) return static_cast<int32_t>(GetLastError());
    *count = records;
    return ERROR_SUCCESS;
}

int32_t LegacyEventLog::NotifyChange(const Event& event) {
    return NotifyChangeEventLog(handle_, event.native()) ? ERROR_SUCCESS : static_cast<int32_t>(GetLastError());
}

}  // namespace vantel::platform
