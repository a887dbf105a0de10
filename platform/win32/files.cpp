#include "platform/files.h"

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <vector>

namespace vantel::platform {

namespace {

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

std::u16string Text(const wchar_t* text, size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

// Asks a folder function for the length it needs, then for the text.
std::u16string Folder(UINT(WINAPI* get)(LPWSTR, UINT)) {
    UINT length = get(nullptr, 0);
    if (length == 0) return {};
    std::vector<wchar_t> buffer(length);
    UINT written = get(buffer.data(), length);
    return written == 0 || written >= length ? std::u16string() : Text(buffer.data(), written);
}

}  // namespace

uint32_t OsMajorVersion() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return GetVersionExW(&info) ? info.dwMajorVersion : 0;
#pragma GCC diagnostic pop
}

int32_t GetFileCreationTime(const std::u16string& path, uint64_t* ticks) {
    HANDLE file = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int32_t>(GetLastError());
    FILETIME created{};
    BOOL read = GetFileTime(file, &created, nullptr, nullptr);
    int32_t error = read ? ERROR_SUCCESS : static_cast<int32_t>(GetLastError());
    CloseHandle(file);
    if (read) *ticks = uint64_t{created.dwHighDateTime} << 32 | created.dwLowDateTime;
    return error;
}

CreatedFile::~CreatedFile() {
    if (handle_) CloseHandle(handle_);
}

int32_t CreatedFile::Create(const std::u16string& path) {
    HANDLE file = CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int32_t>(GetLastError());
    if (handle_) CloseHandle(handle_);
    handle_ = file;
    return ERROR_SUCCESS;
}

int32_t CreatedFile::Write(const void* bytes, uint32_t size) {
    DWORD written = 0;
    if (!WriteFile(handle_, bytes, size, &written, nullptr)) return static_cast<int32_t>(GetLastError());
    return written == size ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

int32_t CreatedFile::Close() {
    if (!handle_) return ERROR_INVALID_HANDLE;
    int32_t error = FlushFileBuffers(handle_) ? ERROR_SUCCESS : static_cast<int32_t>(GetLastError());
    if (!CloseHandle(handle_) && error == ERROR_SUCCESS) error = static_cast<int32_t>(GetLastError());
    handle_ = nullptr;
    return error;
}

int32_t ReplaceFileWith(const std::u16string& replacement, const std::u16string& path) {
    if (MoveFileExW(Wide(replacement), Wide(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return ERROR_SUCCESS;
    return static_cast<int32_t>(GetLastError());
}

int32_t DeleteFileAt(const std::u16string& path) {
    return DeleteFileW(Wide(path)) ? ERROR_SUCCESS : static_cast<int32_t>(GetLastError());
}

int32_t QueryDosDeviceTarget(const std::u16string& name, std::u16string* target) {
    std::vector<wchar_t> buffer(32768);
    if (QueryDosDeviceW(Wide(name), buffer.data(), static_cast<DWORD>(buffer.size())) == 0)
        return static_cast<int32_t>(GetLastError());
    *target = reinterpret_cast<const char16_t*>(buffer.data());  // the first of the targets
    return ERROR_SUCCESS;
}

std::u16string WindowsDirectory() { return Folder(GetWindowsDirectoryW); }

std::u16string SystemDirectory() { return Folder(GetSystemDirectoryW); }

std::u16string CommonAppDataDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer))) return {};
    return reinterpret_cast<const char16_t*>(buffer);
}

int32_t CreateDirectoryWithSecurity(const std::u16string& path, const std::u16string& descriptor) {
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
    if (!descriptor.empty() &&
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(Wide(descriptor), SDDL_REVISION_1,
                                                              &attributes.lpSecurityDescriptor, nullptr))
        return static_cast<int32_t>(GetLastError());
    BOOL created = CreateDirectoryW(Wide(path), descriptor.empty() ? nullptr : &attributes);
    int32_t error = created ? ERROR_SUCCESS : static_cast<int32_t>(GetLastError());
    LocalFree(attributes.lpSecurityDescriptor);
    return error;
}

int32_t FindFileData(const std::u16string& path, FileFindData* data) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(Wide(path), &found);
    if (search == INVALID_HANDLE_VALUE) return static_cast<int32_t>(GetLastError());
    FindClose(search);
    *data = {found.dwFileAttributes, uint64_t{found.ftLastWriteTime.dwHighDateTime} << 32 | found.ftLastWriteTime.dwLowDateTime,
             uint64_t{found.nFileSizeHigh} << 32 | found.nFileSizeLow};
    return ERROR_SUCCESS;
}

int32_t LongPathName(const std::u16string& path, std::u16string* longPath) {
    wchar_t buffer[MAX_PATH] = {};
    DWORD length = GetLongPathNameW(Wide(path), buffer, MAX_PATH);
    if (length == 0) return static_cast<int32_t>(GetLastError());
    if (length >= MAX_PATH) return ERROR_INSUFFICIENT_BUFFER;
    *longPath = Text(buffer, length);
    return ERROR_SUCCESS;
}

int32_t ExpandEnvironmentText(const std::u16string& text, std::u16string* expanded) {
    DWORD length = ExpandEnvironmentStringsW(Wide(text), nullptr, 0);
    if (length == 0) return static_cast<int32_t>(GetLastError());
    std::vector<wchar_t> buffer(length);
    DWORD written = ExpandEnvironmentStringsW(Wide(text), buffer.data(), length);
    if (written == 0) return static_cast<int32_t>(GetLastError());
    if (written > length) return ERROR_INSUFFICIENT_BUFFER;  // the environment grew in between
    *expanded = Text(buffer.data(), written - 1);
    return ERROR_SUCCESS;
}

struct FileVersionInfo::Data {
    std::vector<BYTE> bytes;
};

FileVersionInfo::FileVersionInfo(const std::u16string& path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(Wide(path), &ignored);
    if (size == 0) {
        error_ = static_cast<int32_t>(GetLastError());
        return;
    }
    auto data = std::make_unique<Data>();
    data->bytes.resize(size);
    if (!GetFileVersionInfoW(Wide(path), 0, size, data->bytes.data())) {
        error_ = static_cast<int32_t>(GetLastError());
        return;
    }
    data_ = std::move(data);
}

FileVersionInfo::~FileVersionInfo() = default;

bool FileVersionInfo::FirstTranslation(uint16_t* language, uint16_t* codePage) const {
    void* value = nullptr;
    UINT length = 0;
    if (!data_ || !VerQueryValueW(data_->bytes.data(), L"\\VarFileInfo\\Translation", &value, &length) ||
        length < 2 * sizeof(WORD))
        return false;
    *language = static_cast<const WORD*>(value)[0];
    *codePage = static_cast<const WORD*>(value)[1];
    return true;
}

bool FileVersionInfo::QueryText(const std::u16string& subBlock, std::u16string* value) const {
    void* text = nullptr;
    UINT length = 0;
    if (!data_ || !VerQueryValueW(data_->bytes.data(), Wide(subBlock), &text, &length) || text == nullptr) return false;
    // The length counts characters, the terminator included when there is one.
    const wchar_t* characters = static_cast<const wchar_t*>(text);
    size_t count = 0;
    while (count < length && characters[count] != 0) ++count;
    *value = Text(characters, count);
    return true;
}

}  // namespace vantel::platform
