#include "winsim/files.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <utility>

#include <sys/stat.h>

#include "common/text.h"

namespace winsim {

namespace {

std::mutex& DrivesLock() {
    // Never destroyed, like all of the machine: the module's threads may use it while the process ends.
    static auto* const lock = new std::mutex;
    return *lock;
}

std::map<char16_t, std::string>& Drives() {
    static auto* const drives = new std::map<char16_t, std::string>{{u'Z', "/"}};
    return *drives;
}

char16_t Upper(char16_t c) { return vantel::FoldCase(c); }

std::map<std::u16string, uint64_t>& CreationTimes() {  // by folded Windows path
    static auto* const times = new std::map<std::u16string, uint64_t>;
    return *times;
}

constexpr uint64_t kTicksTo1970 = 0x019DB1DED53E8000ull;

struct WriteFailure {
    uint32_t writesBefore = 0;
    int32_t error = 0;
};

WriteFailure& PendingWriteFailure() {  // guarded by the drives' lock
    static WriteFailure failure;
    return failure;
}

}  // namespace

void MapDrive(char16_t letter, const std::string& hostFolder) {
    std::filesystem::create_directories(hostFolder);
    std::lock_guard guard(DrivesLock());
    Drives()[Upper(letter)] = std::filesystem::absolute(hostFolder).lexically_normal().string();
}

std::string HostPath(const std::u16string& windowsPath) {
    if (windowsPath.size() < 2 || windowsPath[1] != u':') return std::string();
    std::string folder;
    {
        std::lock_guard guard(DrivesLock());
        auto found = Drives().find(Upper(windowsPath[0]));
        if (found == Drives().end()) return std::string();
        folder = found->second;
    }
    std::string rest = vantel::ToUtf8(windowsPath.substr(2));
    for (char& c : rest)
        if (c == '\\') c = '/';
    while (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder + rest;
}

std::u16string WindowsPath(const std::string& hostPath) {
    std::string normal = std::filesystem::path(hostPath).lexically_normal().string();
    std::lock_guard guard(DrivesLock());
    char16_t bestLetter = 0;
    size_t bestLength = 0;
    for (const auto& [letter, folder] : Drives()) {
        std::string prefix = folder.back() == '/' ? folder : folder + '/';
        bool inside = normal.rfind(prefix, 0) == 0 || normal == folder;
        if (inside && folder.size() >= bestLength) {
            bestLetter = letter;
            bestLength = folder.size();
        }
    }
    if (bestLetter == 0) return std::u16string();
    std::string rest = normal.substr(std::min(normal.size(), bestLength));
    for (char& c : rest)
        if (c == '/') c = '\\';
    std::u16string path{bestLetter, u':'};
    if (rest.empty() || rest[0] != '\\') path += u'\\';
    return path + vantel::FromUtf8(rest);
}

std::string CanonicalHostPath(const std::string& hostPath) {
    std::error_code error;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(hostPath, error);
    return error ? hostPath : canonical.string();
}

}  // namespace winsim

namespace winsim {

void SetFileCreationTime(const std::u16string& windowsPath, uint64_t ticks) {
    std::lock_guard guard(DrivesLock());
    CreationTimes()[vantel::FoldCase(windowsPath)] = ticks;
}

int32_t FileCreationTime(const std::u16string& windowsPath, uint64_t* ticks) {
    {
        std::lock_guard guard(DrivesLock());
        auto found = CreationTimes().find(vantel::FoldCase(windowsPath));
        if (found != CreationTimes().end()) {
            *ticks = found->second;
            return 0;
        }
    }
    struct stat status {};
    std::string host = HostPath(windowsPath);
    if (host.empty() || stat(host.c_str(), &status) != 0) return 2;
    *ticks = kTicksTo1970 + static_cast<uint64_t>(status.st_mtime) * 10000000ull;
    return 0;
}

}  // namespace winsim

namespace winsim {

void FailFileWrite(uint32_t writesBefore, int32_t error) {
    std::lock_guard guard(DrivesLock());
    PendingWriteFailure() = {writesBefore, error};
}

int32_t TakeFileWriteFailure() {
    std::lock_guard guard(DrivesLock());
    WriteFailure& failure = PendingWriteFailure();
    if (failure.error == 0) return 0;
    if (failure.writesBefore > 0) {
        --failure.writesBefore;
        return 0;
    }
    return std::exchange(failure.error, 0);
}

}  // namespace winsim
