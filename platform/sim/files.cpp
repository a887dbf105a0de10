#include "platform/files.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/accounts.h"
#include "platform/library.h"
#include "winsim/devices.h"
#include "winsim/files.h"
#include "winsim/system.h"
#include "winsim/version_info.h"

namespace vantel::platform {

int32_t QueryDosDeviceTarget(const std::u16string& name, std::u16string* target) {
    return winsim::QueryDosDevice(name, target);
}

std::u16string WindowsDirectory() { return winsim::WindowsDirectory(); }

std::u16string SystemDirectory() { return winsim::SystemDirectory(); }

std::u16string CommonAppDataDirectory() { return winsim::CommonAppDataDirectory(); }

int32_t CreateDirectoryWithSecurity(const std::u16string& path, const std::u16string& descriptor) {
    if (!descriptor.empty()) {
        std::vector<AccessEntry> entries;
        if (int32_t error = DaclOfSecurityDescriptor(descriptor, &entries)) return error;
    }
    return winsim::CreateFolder(path, descriptor);
}

int32_t FindFileData(const std::u16string& path, FileFindData* data) {
    winsim::FindData found{};
    if (int32_t error = winsim::FindFile(path, &found)) return error;
    *data = {found.attributes, found.lastWriteTicks, found.size};
    return kErrorSuccess;
}

int32_t LongPathName(const std::u16string& path, std::u16string* longPath) {
    std::u16string found;
    if (int32_t error = winsim::LongPathName(path, &found)) return error;
    if (found.size() >= 260) return kErrorInsufficientBuffer;
    *longPath = found;
    return kErrorSuccess;
}

int32_t ExpandEnvironmentText(const std::u16string& text, std::u16string* expanded) {
    *expanded = winsim::ExpandEnvironmentStrings(text);
    return kErrorSuccess;
}

uint32_t OsMajorVersion() { return winsim::OsMajorVersion(); }

int32_t GetFileCreationTime(const std::u16string& path, uint64_t* ticks) {
    return winsim::FileCreationTime(path, ticks);
}

CreatedFile::~CreatedFile() {
    if (handle_) std::fclose(static_cast<FILE*>(handle_));
}

int32_t CreatedFile::Create(const std::u16string& path) {
    std::string host = winsim::HostPath(path);
    FILE* file = host.empty() ? nullptr : std::fopen(host.c_str(), "w+b");
    if (!file) return kErrorPathNotFound;  // the path's folder is missing
    handle_ = file;
    return kErrorSuccess;
}

int32_t CreatedFile::Write(const void* bytes, uint32_t size) {
    if (!handle_) return kErrorInvalidHandle;
    if (int32_t failure = winsim::TakeFileWriteFailure()) return failure;
    bool written = std::fwrite(bytes, 1, size, static_cast<FILE*>(handle_)) == size &&
                   std::fflush(static_cast<FILE*>(handle_)) == 0;
    return written ? kErrorSuccess : kErrorDiskFull;
}

int32_t CreatedFile::Close() {
    if (!handle_) return kErrorInvalidHandle;
    auto* file = static_cast<FILE*>(handle_);
    handle_ = nullptr;
    bool flushed = std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0;
    return std::fclose(file) == 0 && flushed ? kErrorSuccess : kErrorDiskFull;
}

int32_t ReplaceFileWith(const std::u16string& replacement, const std::u16string& path) {
    std::string from = winsim::HostPath(replacement), to = winsim::HostPath(path);
    if (from.empty() || to.empty()) return kErrorPathNotFound;
    std::error_code error;
    std::filesystem::rename(from, to, error);  // one step on a POSIX file system, as MoveFileEx on one volume
    return error ? kErrorAccessDenied : kErrorSuccess;
}

int32_t DeleteFileAt(const std::u16string& path) {
    std::string host = winsim::HostPath(path);
    std::error_code error;
    return !host.empty() && std::filesystem::remove(host, error) ? kErrorSuccess : kErrorFileNotFound;
}

struct FileVersionInfo::Data {
    winsim::VersionResource resource;
};

FileVersionInfo::FileVersionInfo(const std::u16string& path) {
    if (!FileExists(path)) {
        error_ = kErrorFileNotFound;
        return;
    }
    std::optional<winsim::VersionResource> resource = winsim::FileVersionResource(winsim::HostPath(path));
    if (!resource) {
        error_ = kErrorResourceTypeNotFound;
        return;
    }
    data_ = std::make_unique<Data>(Data{std::move(*resource)});
}

FileVersionInfo::~FileVersionInfo() = default;

bool FileVersionInfo::FirstTranslation(uint16_t* language, uint16_t* codePage) const {
    if (!data_ || data_->resource.empty()) return false;
    *language = data_->resource.front().language;
    *codePage = data_->resource.front().codePage;
    return true;
}

bool FileVersionInfo::QueryText(const std::u16string& subBlock, std::u16string* value) const {
    std::optional<std::u16string> text = data_ ? winsim::QueryVersionText(data_->resource, subBlock) : std::nullopt;
    if (text) *value = *text;
    return text.has_value();
}

}  // namespace vantel::platform
