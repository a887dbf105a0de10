// The simulated machine's ANSI code page and time zone.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace winsim {

constexpr uint32_t kCodePageWindows1252 = 1252;
constexpr uint32_t kCodePageUtf8 = 65001;

// Control: the threads' ANSI code page (1252 or 65001; by default 1252) and the local time's
// offset from UTC in minutes (by default 0).
void SetAnsiCodePage(uint32_t codePage);
void SetTimeZoneOffset(int32_t minutes);

// The machine's side.
std::u16string AnsiToWide(std::string_view bytes);
int32_t TimeZoneOffset();

}  // namespace winsim
