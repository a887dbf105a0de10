#include "common/system_helpers.h"

#include <chrono>
#include <mutex>

#include "common/format.h"
#include "common/path.h"
#include "platform/files.h"
#include "platform/library.h"
#include "plugin/trace.h"

namespace vantel {

namespace {

constexpr size_t kMaxPath = 260;
constexpr uint64_t kUnixEpochTicks = 0x019DB1DED53E8000;  // 100-ns ticks from 1601 to 1970
constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kTicksPerMillisecond = 10000;

// Text kept for the process once it was obtained, and asked for again while it is not.
class TextCache {
public:
    template <typename Fetch>
    std::u16string Get(Fetch fetch) {
        std::lock_guard guard(lock_);
        if (text_.empty()) text_ = fetch();
        return text_;
    }

private:
    std::mutex lock_;
    std::u16string text_;
};

}  // namespace

std::u16string GetQorEDRPath() {
    static TextCache root;
    return root.Get([] {
        std::u16string module = platform::ThisModulePath();
        if (module.empty() || module.size() >= kMaxPath) return std::u16string();
        std::u16string path = PathAppend(module, u"..\\..");
        TraceInfo(u"[Vantel] GetQorEDRPath %s", path);
        return path;
    });
}

std::u16string GetWindowsDir() {
    static TextCache folder;
    return folder.Get(platform::WindowsDirectory);
}

int64_t SystemTimeToUnixSeconds(const SystemTime& time) {
    using namespace std::chrono;
    year_month_day date{year{time.year}, month{time.month}, day{time.day}};
    // The range and fields the system's own conversion accepts.
    if (time.year < 1601 || time.year > 30827 || !date.ok() || time.hour > 23 || time.minute > 59 ||
        time.second > 59 || time.milliseconds > 999)
        return 0;
    constexpr sys_days k1601 = sys_days{year{1601} / January / 1};
    int64_t seconds = duration_cast<std::chrono::seconds>(sys_days{date} - k1601).count() +
                      time.hour * 3600 + time.minute * 60 + time.second;
    return FileTimeToUnixSeconds(static_cast<uint64_t>(seconds * kTicksPerSecond +
                                                       time.milliseconds * kTicksPerMillisecond));
}

int64_t FileTimeToUnixSeconds(uint64_t ticks) {
    return static_cast<int64_t>(ticks - kUnixEpochTicks) / kTicksPerSecond;
}

int GetFileVersionValue(const std::u16string& path, const std::u16string& valueName, char16_t* buffer,
                        size_t bufferLength) {
    if (buffer == nullptr || bufferLength == 0) return 0;
    std::u16string expanded;
    if (platform::ExpandEnvironmentText(path, &expanded) != platform::kErrorSuccess || expanded.size() > kMaxPath)
        return 0;
    platform::FileVersionInfo info(expanded);
    uint16_t language = 0, codePage = 0;
    std::u16string value;
    if (info.error() != platform::kErrorSuccess || !info.FirstTranslation(&language, &codePage) ||
        !info.QueryText(Format(u"\\StringFileInfo\\%04x%04x\\%s", language, codePage, valueName), &value))
        return 0;
    size_t copied = value.copy(buffer, bufferLength - 1);
    buffer[copied] = 0;
    return 1;
}

int IsAdminAccount(const std::u16string& server, const std::u16string& user) {
    uint32_t privilege = 0;
    return platform::NetUserPrivilege(server, user, &privilege) == platform::kErrorSuccess &&
                   privilege == platform::kUserPrivilegeAdmin
               ? 1
               : 0;
}

int IsKnownAccountName(const std::u16string& user) {
    uint32_t sidBytes = 0, domainChars = 0;
    platform::Sid sid;
    if (platform::LookupAccountByName(user, &sidBytes, &domainChars, &sid) != platform::kErrorInsufficientBuffer)
        return 0;
    return platform::LookupAccountByName(user, &sidBytes, &domainChars, &sid) == platform::kErrorSuccess &&
                   platform::IsValidSid(sid)
               ? 1
               : 0;
}

int SidToText(const platform::Sid& sid, std::u16string* text) {
    return text != nullptr && platform::SidToStringSid(sid, text) == platform::kErrorSuccess ? 1 : 0;
}

}  // namespace vantel
