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

int32_t LegacyEventLog::Read(uint32_t flags, std::span<uint8_t> buffer, uint32_t* bytesRead, uint32_t* bytesNeeded) {
    DWORD read = 0, needed = 0;
    BOOL done = ReadEventLogW(handle_, flags, 0, buffer.data(), static_cast<DWORD>(buffer.size()), &read, &needed);
    *bytesRead = read;
    *bytesNeeded = needed;
    return done ? ERROR_SUCCESS : static_cast<int32_t>(GetLastError());
}

}  // namespace vantel::platform
