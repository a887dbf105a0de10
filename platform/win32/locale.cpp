#include "platform/locale.h"

#include <windows.h>

namespace vantel::platform {

std::u16string AnsiToWide(std::string_view bytes) {
    if (bytes.empty()) return {};
    int length = MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) return {};
    std::u16string text(static_cast<size_t>(length), u'\0');
    MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                        reinterpret_cast<LPWSTR>(text.data()), length);
    return text;
}

uint64_t SystemTimeAsFileTime() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

bool FileTimeToLocalFileTime(uint64_t utcTicks, uint64_t* localTicks) {
    FILETIME utc{static_cast<DWORD>(utcTicks), static_cast<DWORD>(utcTicks >> 32)}, local{};
    if (!::FileTimeToLocalFileTime(&utc, &local)) return false;
    *localTicks = (static_cast<uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
    return true;
}

bool FileTimeToSystemTime(uint64_t ticks, SystemTime* time) {
    FILETIME file{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME system{};
    if (!::FileTimeToSystemTime(&file, &system)) return false;
    *time = {system.wYear, system.wMonth, system.wDayOfWeek, system.wDay,
             system.wHour, system.wMinute, system.wSecond, system.wMilliseconds};
    return true;
}

}  // namespace vantel::platform
