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

// Replaces "%name%" references with the values of environment variables (ExpandEnvironmentStrings).
int32_t ExpandEnvironmentText(const std::u16string& text, std::u16string* expanded);

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
