// The thread's code page and the local time zone, in the shape of the Windows calls.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vantel::platform {

// MultiByteToWideChar with the thread's ANSI code page; empty text when it cannot convert.
std::u16string AnsiToWide(std::string_view bytes);

// A calendar time laid out as Windows' SYSTEMTIME.
struct SystemTime {
    uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};

// GetSystemTimeAsFileTime: the current time in 100-ns ticks since 1601-01-01 UTC.
uint64_t SystemTimeAsFileTime();

// FileTimeToLocalFileTime and FileTimeToSystemTime over 100-ns ticks since 1601-01-01.
bool FileTimeToLocalFileTime(uint64_t utcTicks, uint64_t* localTicks);
bool FileTimeToSystemTime(uint64_t ticks, SystemTime* time);

}  // namespace vantel::platform
