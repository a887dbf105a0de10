// Drives, the Windows folders, environment expansion and version resources, in the shape of
// the Windows calls; results are Windows error codes.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/errors.h"

namespace vantel::platform {

// The device a drive name such as "C:" stands for (the first target QueryDosDevice reports).
int32_t QueryDosDeviceTarget(const std::u16string& name, std::u16string* target);

// GetWindowsDirectory and GetSystemDirectory; empty text on failure.
std::u16string WindowsDirectory();
std::u16string SystemDirectory();
// SHGetFolderPath of CSIDL_COMMON_APPDATA; empty text on failure.
std::u16string CommonAppDataDirectory();

// CreateDirectory with a security descriptor in its string form (empty: the one it inherits).
// 183 when the folder exists, 3 when its parent does not.
int32_t CreateDirectoryWithSecurity(const std::u16string& path, const std::u16string& descriptor);

// FindFirstFile of one file or folder (no wildcards), closed again.
struct FileFindData {
    uint32_t attributes = 0;
    uint64_t lastWriteTicks = 0;  // 100-ns ticks since 1601
    uint64_t size = 0;
    bool operator==(const FileFindData&) const = default;
};
int32_t FindFileData(const std::u16string& path, FileFindData* data);

// GetLongPathName into 260 characters: short 8.3 components replaced by their long names.
int32_t LongPathName(const std::u16string& path, std::u16string* longPath);

// Replaces "%name%" references with the values of environment variables (ExpandEnvironmentStrings).
int32_t ExpandEnvironmentText(const std::u16string& text, std::u16string* expanded);

// The system's major version (GetVersionEx).
uint32_t OsMajorVersion();

// The creation time of a file or folder (opened with backup semantics), in 100-ns ticks since 1601.
int32_t GetFileCreationTime(const std::u16string& path, uint64_t* ticks);

// A file created for reading and writing, shared for reading, always replacing one that exists
// (CreateFile with CREATE_ALWAYS).
class CreatedFile {
public:
    CreatedFile() = default;
    ~CreatedFile();
    CreatedFile(const CreatedFile&) = delete;
    CreatedFile& operator=(const CreatedFile&) = delete;

    int32_t Create(const std::u16string& path);
    // WriteFile of the bytes, all of them or an error.
    int32_t Write(const void* bytes, uint32_t size);
    // FlushFileBuffers, then CloseHandle: what was written is on the disk, or an error.
    int32_t Close();

private:
    void* handle_ = nullptr;
};

// MoveFileEx with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH: the file takes the place of
// the one at the path in one step; readers see the old file or the new one, never a part.
int32_t ReplaceFileWith(const std::u16string& replacement, const std::u16string& path);
int32_t DeleteFileAt(const std::u16string& path);

// A file's version resource, read whole (GetFileVersionInfoSize, GetFileVersionInfo) and then
// queried by sub-block (VerQueryValue).
class FileVersionInfo {
public:
    explicit FileVersionInfo(const std::u16string& path);
    ~FileVersionInfo();
    FileVersionInfo(const FileVersionInfo&) = delete;
    FileVersionInfo& operator=(const FileVersionInfo&) = delete;

    // 0 when the resource was read, else why not.
    int32_t error() const { return error_; }
    // The first language and code page pair of "\VarFileInfo\Translation".
    bool FirstTranslation(uint16_t* language, uint16_t* codePage) const;
    // A text value such as "\StringFileInfo\040904b0\FileDescription".
    bool QueryText(const std::u16string& subBlock, std::u16string* value) const;

private:
    struct Data;  // the backend's form of the resource
    std::unique_ptr<Data> data_;
    int32_t error_ = kErrorSuccess;
};

}  // namespace vantel::platform
