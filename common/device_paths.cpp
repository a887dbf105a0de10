#include <mutex>

#include "common/system_helpers.h"
#include "common/text.h"
#include "platform/files.h"

namespace vantel {

namespace {

constexpr std::u16string_view kMupDrivePrefix = u"\\Device\\Mup\\;";   // a file of a mapped network drive
constexpr std::u16string_view kMupPrefix = u"\\Device\\Mup\\";         // any network file
constexpr std::u16string_view kVolumePrefix = u"\\Device\\HarddiskVolume";
constexpr size_t kDeviceFolderLength = 8;                                // "\Device\"

struct DriveMapState {
    std::mutex lock;
    DriveMap drives;
    platform::Token consoleToken;  // kept once found
};

DriveMapState& State() {
    // Never destroyed: the console token is closed by ReleaseDriveMap, not at unload.
    static DriveMapState* const state = new DriveMapState;
    return *state;
}

DriveMap BuildDriveMap(platform::Token* consoleToken) {
    if (!*consoleToken) *consoleToken = GetCurUserToken(platform::ActiveConsoleSessionId());
    // Network drives exist in the logon session of the user who mapped them.
    platform::Impersonation asConsoleUser(*consoleToken);
    DriveMap drives;
    for (char16_t letter = u'A'; letter <= u'Z'; ++letter) {
        std::u16string name{letter, u':'};
        std::u16string target;
        if (platform::QueryDosDeviceTarget(name, &target) == platform::kErrorSuccess) drives.emplace(name, target);
    }
    return drives;
}

}  // namespace

std::u16string DosPathFromDriveMap(const DriveMap& drives, std::u16string_view path) {
    bool mappedNetwork = StartsWithIgnoreCase(path, kMupDrivePrefix);
    bool volume = StartsWithIgnoreCase(path, kVolumePrefix);
    for (const auto& [drive, target] : drives) {
        if (mappedNetwork) {
            // "\Device\Mup\;LanmanRedirector\;Z:0...\server\share\x" on "\Device\LanmanRedirector\;Z:0...\server\share"
            if (target.size() <= kDeviceFolderLength) continue;
            std::u16string_view share = std::u16string_view(target).substr(kDeviceFolderLength);
            size_t end = kMupDrivePrefix.size() + share.size();
            // The share must end where a path component ends: "share" is no prefix of "share2".
            if (StartsWithIgnoreCase(path.substr(kMupDrivePrefix.size()), share) &&
                (path.size() == end || path[end] == u'\\'))
                return drive + std::u16string(path.substr(end));
        } else if (volume) {
            // The whole volume name must match: "HarddiskVolume1" is no prefix of "HarddiskVolume10".
            size_t slash = path.find(u'\\', kVolumePrefix.size());
            if (slash != std::u16string_view::npos && EqualsIgnoreCase(path.substr(0, slash), target))
                return drive + std::u16string(path.substr(slash));
        }
    }
    // An unmapped network path keeps its server and share: "\\server\share\x".
    if (StartsWithIgnoreCase(path, kMupPrefix)) return u"\\" + std::u16string(path.substr(kMupPrefix.size() - 1));
    return {};
}

void ReleaseDriveMap() {
    DriveMapState& state = State();
    std::lock_guard guard(state.lock);
    state.drives.clear();
    state.consoleToken = platform::Token();
}

std::u16string DevicePathToDosPath(const char16_t* devicePath) {
    if (devicePath == nullptr) return {};
    DriveMapState& state = State();
    // The first callers may come from several worker threads at once.
    std::lock_guard guard(state.lock);
    if (state.drives.empty()) state.drives = BuildDriveMap(&state.consoleToken);
    return DosPathFromDriveMap(state.drives, devicePath);
}

}  // namespace vantel
