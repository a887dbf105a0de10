#include "winsim/locale.h"

#include <atomic>

#include "common/text.h"

namespace winsim {

namespace {

std::atomic<uint32_t> g_codePage{kCodePageWindows1252};
std::atomic<int32_t> g_timeZoneOffset{0};

// Windows-1252's 0x80 to 0x9F; the five holes map to the C1 controls, as Windows maps them.
constexpr char16_t k1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

void SetAnsiCodePage(uint32_t codePage) { g_codePage = codePage; }

void SetTimeZoneOffset(int32_t minutes) { g_timeZoneOffset = minutes; }

std::u16string AnsiToWide(std::string_view bytes) {
    if (g_codePage == kCodePageUtf8) return vantel::FromUtf8(bytes);
    std::u16string text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        auto byte = static_cast<uint8_t>(c);
        text += byte >= 0x80 && byte < 0xA0 ? k1252High[byte - 0x80] : static_cast<char16_t>(byte);
    }
    return text;
}

int32_t TimeZoneOffset() { return g_timeZoneOffset; }

}  // namespace winsim
