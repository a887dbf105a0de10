#include "winsim/files.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>

#include "common/text.h"
#include "winsim/directory_changes.h"

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

namespace {

constexpr int32_t kErrorFileNotFound = 2;
constexpr int32_t kErrorPathNotFound = 3;
constexpr int32_t kErrorAlreadyExists = 183;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;

std::map<std::u16string, std::u16string>& Descriptors() {  // by folded Windows path
    // Never destroyed, like the drives: the module's threads may ask while the process ends.
    static auto* const descriptors = new std::map<std::u16string, std::u16string>;
    return *descriptors;
}

std::u16string ParentPath(const std::u16string& path) {
    size_t slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

bool IsShortNameCharacter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' || c == u'-';
}

}  // namespace

bool WriteFile(const std::u16string& windowsPath, const std::string& contents, std::optional<uint64_t> lastWriteTicks) {
    std::string host = HostPath(windowsPath);
    if (host.empty()) return false;
    std::error_code error;
    bool existed = std::filesystem::exists(host, error);
    uintmax_t oldSize = existed ? std::filesystem::file_size(host, error) : 0;
    {
        std::FILE* file = std::fopen(host.c_str(), "wb");
        if (file == nullptr) return false;
        bool written = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
        if (std::fclose(file) != 0 || !written) return false;
    }
    if (lastWriteTicks) {
        uint64_t since1970 = *lastWriteTicks - kTicksTo1970;
        timespec times[2] = {{0, UTIME_OMIT},
                             {static_cast<time_t>(since1970 / 10000000), static_cast<long>(since1970 % 10000000 * 100)}};
        if (utimensat(AT_FDCWD, host.c_str(), times, 0) != 0) return false;
    }
    FileChangeBatch together;  // a new file is added and written in one moment
    if (!existed) NotifyFileChange(windowsPath, kFileAdded, kChangeFileName);
    if (existed || !contents.empty())
        NotifyFileChange(windowsPath, kFileModified, kChangeLastWrite | (oldSize != contents.size() ? kChangeSize : 0));
    return true;
}

bool DeleteFile(const std::u16string& windowsPath) {
    std::string host = HostPath(windowsPath);
    std::error_code error;
    if (host.empty() || !std::filesystem::remove(host, error)) return false;
    NotifyFileChange(windowsPath, kFileRemoved, kChangeFileName);
    return true;
}

bool RenameFile(const std::u16string& from, const std::u16string& to) {
    std::string hostFrom = HostPath(from), hostTo = HostPath(to);
    std::error_code error;
    if (hostFrom.empty() || hostTo.empty()) return false;
    std::filesystem::rename(hostFrom, hostTo, error);
    if (error) return false;
    FileChangeBatch together;
    NotifyFileChange(from, kFileRenamedOldName, kChangeFileName);
    NotifyFileChange(to, kFileRenamedNewName, kChangeFileName);
    return true;
}

void SetFileSecurity(const std::u16string& windowsPath, const std::u16string& descriptor) {
    std::lock_guard guard(DrivesLock());
    Descriptors()[vantel::FoldCase(windowsPath)] = descriptor;
}

std::u16string FileSecurity(const std::u16string& windowsPath) {
    std::lock_guard guard(DrivesLock());
    for (std::u16string path = vantel::FoldCase(windowsPath); !path.empty(); path = ParentPath(path)) {
        auto found = Descriptors().find(path);
        if (found != Descriptors().end()) return found->second;
    }
    return kDefaultFileSecurity;
}

int32_t CreateFolder(const std::u16string& windowsPath, const std::u16string& descriptor) {
    std::string host = HostPath(windowsPath);
    std::error_code error;
    if (host.empty()) return kErrorPathNotFound;
    if (std::filesystem::exists(host, error)) return kErrorAlreadyExists;
    if (!std::filesystem::create_directory(host, error)) return kErrorPathNotFound;
    if (!descriptor.empty()) SetFileSecurity(windowsPath, descriptor);
    NotifyFileChange(windowsPath, kFileAdded, kChangeDirName);
    return 0;
}

int32_t FindFile(const std::u16string& windowsPath, FindData* data) {
    std::string host = HostPath(windowsPath);
    struct stat status {};
    if (host.empty() || stat(host.c_str(), &status) != 0) return kErrorFileNotFound;
    data->attributes = S_ISDIR(status.st_mode) ? kAttributeDirectory : kAttributeArchive;
    data->lastWriteTicks = kTicksTo1970 + static_cast<uint64_t>(status.st_mtim.tv_sec) * 10000000ull +
                           static_cast<uint64_t>(status.st_mtim.tv_nsec) / 100;
    data->size = S_ISDIR(status.st_mode) ? 0 : static_cast<uint64_t>(status.st_size);
    return 0;
}

std::u16string ShortName(const std::u16string& name) {
    size_t dot = name.rfind(u'.');
    std::u16string base = name.substr(0, dot), extension = dot == std::u16string::npos ? u"" : name.substr(dot + 1);
    bool isShort = !base.empty() && base.size() <= 8 && extension.size() <= 3;
    for (char16_t c : base + extension) isShort = isShort && IsShortNameCharacter(c);
    if (isShort) return name;
    auto shortened = [](const std::u16string& part, size_t most) {
        std::u16string kept;
        for (char16_t c : part) {
            char16_t upper = vantel::FoldCase(c);
            if (IsShortNameCharacter(upper) && kept.size() < most) kept += upper;
        }
        return kept;
    };
    std::u16string extensionPart = shortened(extension, 3);
    return shortened(base, 6) + u"~1" + (extensionPart.empty() ? u"" : u"." + extensionPart);
}

int32_t LongPathName(const std::u16string& windowsPath, std::u16string* longPath) {
    size_t start = windowsPath.find(u'\\');
    if (windowsPath.size() < 2 || windowsPath[1] != u':' || start != 2) return kErrorPathNotFound;
    std::u16string path = windowsPath.substr(0, 2);
    std::error_code error;
    while (start < windowsPath.size()) {
        size_t end = windowsPath.find(u'\\', start + 1);
        std::u16string component = windowsPath.substr(start + 1, end == std::u16string::npos ? end : end - start - 1);
        start = end == std::u16string::npos ? windowsPath.size() : end;
        if (component.empty()) continue;
        std::string folder = HostPath(path + u"\\");
        std::u16string found;
        if (std::filesystem::exists(HostPath(path + u"\\" + component), error)) {
            found = component;
        } else if (component.find(u'~') != std::u16string::npos) {
            for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
                std::u16string name = vantel::FromUtf8(entry.path().filename().string());
                if (vantel::EqualsIgnoreCase(ShortName(name), component)) found = name;
            }
        }
        if (found.empty()) return end == std::u16string::npos ? kErrorFileNotFound : kErrorPathNotFound;
        path += u"\\" + found;
    }
    *longPath = path;
    return 0;
}

}  // namespace winsim
