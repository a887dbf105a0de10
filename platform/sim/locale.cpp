#include "platform/locale.h"

#include <chrono>

#include "winsim/event_record.h"
#include "winsim/locale.h"

namespace vantel::platform {

namespace {

constexpr int64_t kTicksPerMinute = 600000000;
constexpr int64_t kTicksPerDay = 1440 * kTicksPerMinute;

}  // namespace

std::u16string AnsiToWide(std::string_view bytes) { return winsim::AnsiToWide(bytes); }

uint64_t SystemTimeAsFileTime() { return winsim::FileTimeNow(); }

bool FileTimeToLocalFileTime(uint64_t utcTicks, uint64_t* localTicks) {
    int64_t local = static_cast<int64_t>(utcTicks) + winsim::TimeZoneOffset() * kTicksPerMinute;
    if (local < 0) return false;
    *localTicks = static_cast<uint64_t>(local);
    return true;
}

bool FileTimeToSystemTime(uint64_t ticks, SystemTime* time) {
    using namespace std::chrono;
    if (ticks >= 0x8000000000000000ull) return false;
    constexpr sys_days k1601 = sys_days{year{1601} / January / 1};
    auto days = static_cast<int64_t>(ticks / kTicksPerDay);
    int64_t rest = static_cast<int64_t>(ticks % kTicksPerDay);
    sys_days date = k1601 + std::chrono::days{days};
    year_month_day civil{date};
    time->year = static_cast<uint16_t>(static_cast<int>(civil.year()));
    time->month = static_cast<uint16_t>(static_cast<unsigned>(civil.month()));
    time->day = static_cast<uint16_t>(static_cast<unsigned>(civil.day()));
    time->dayOfWeek = static_cast<uint16_t>(weekday{date}.c_encoding());
    time->hour = static_cast<uint16_t>(rest / (60 * kTicksPerMinute));
    time->minute = static_cast<uint16_t>(rest / kTicksPerMinute % 60);
    time->second = static_cast<uint16_t>(rest / 10000000 % 60);
    time->milliseconds = static_cast<uint16_t>(rest / 10000 % 1000);
    return true;
}

}  // namespace vantel::platform
