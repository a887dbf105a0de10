#include "platform/registry.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "platform/threads.h"

namespace vantel::platform {

namespace {

HKEY RootKey(RegRoot root) { return root == RegRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_USERS; }

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

HKEY Raw(const RegKey& key) { return static_cast<HKEY>(key.get()); }

// Keys are opened and created in the 64-bit view: without it, a 32-bit process on 64-bit Windows
// reaches the redirected copies under WOW6432Node, which Windows' own components never read.
constexpr REGSAM k64BitView = KEY_WOW64_64KEY;

// RegOpenKeyEx into an owned key.
LONG Open(HKEY root, const std::u16string& subkey, REGSAM access, RegKey* key) {
    HKEY raw = nullptr;
    LONG error = RegOpenKeyExW(root, Wide(subkey), 0, access | k64BitView, &raw);
    if (error == ERROR_SUCCESS) *key = RegKey(raw);
    return error;
}

// RegSetValueEx under a key created when missing.
LONG SetValue(RegRoot root, const std::u16string& subkey, const std::u16string& value, DWORD type, const void* data,
              DWORD bytes) {
    HKEY raw = nullptr;
    if (LONG error = RegCreateKeyExW(RootKey(root), Wide(subkey), 0, nullptr, 0, KEY_SET_VALUE | k64BitView, nullptr,
                                     &raw, nullptr))
        return error;
    RegKey key(raw);
    return RegSetValueExW(raw, Wide(value), 0, type, static_cast<const BYTE*>(data), bytes);
}

}  // namespace

int32_t RegReadString(RegRoot root, const std::u16string& subkey, const std::u16string& value,
                      std::u16string* data) {
    RegKey key;
    if (LONG error = Open(RootKey(root), subkey, KEY_QUERY_VALUE, &key)) return error;
    DWORD type = 0, bytes = 0;
    if (LONG error = RegQueryValueExW(Raw(key), Wide(value), nullptr, &type, nullptr, &bytes)) return error;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, 0);
    if (LONG error = RegQueryValueExW(Raw(key), Wide(value), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes))
        return error;
    buffer.back() = 0;  // stored strings need not end with a terminator
    *data = reinterpret_cast<const char16_t*>(buffer.data());
    return ERROR_SUCCESS;
}

int32_t RegReadDword(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint32_t* data) {
    RegKey key;
    if (LONG error = Open(RootKey(root), subkey, KEY_QUERY_VALUE, &key)) return error;
    DWORD type = 0, number = 0, bytes = sizeof(number);
    if (LONG error = RegQueryValueExW(Raw(key), Wide(value), nullptr, &type, reinterpret_cast<BYTE*>(&number), &bytes))
        return error;
    if (type != REG_DWORD) return ERROR_INVALID_DATA;
    *data = number;
    return ERROR_SUCCESS;
}

int32_t RegReadValue(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint32_t* type,
                     std::vector<uint8_t>* data) {
    RegKey key;
    if (LONG error = Open(RootKey(root), subkey, KEY_READ, &key)) return error;
    DWORD stored = 0, bytes = 0;
    if (LONG error = RegQueryValueExW(Raw(key), Wide(value), nullptr, &stored, nullptr, &bytes)) return error;
    data->assign(bytes, 0);
    if (LONG error = RegQueryValueExW(Raw(key), Wide(value), nullptr, &stored, data->data(), &bytes)) return error;
    data->resize(bytes);
    *type = stored;
    return ERROR_SUCCESS;
}

int32_t RegWriteDword(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint32_t data) {
    DWORD number = data;
    return SetValue(root, subkey, value, REG_DWORD, &number, sizeof(number));
}

int32_t RegWriteString(RegRoot root, const std::u16string& subkey, const std::u16string& value,
                       const std::u16string& data) {
    return SetValue(root, subkey, value, REG_SZ, data.c_str(), static_cast<DWORD>((data.size() + 1) * sizeof(char16_t)));
}

void RegCloseKeyHandle(void* key) { RegCloseKey(static_cast<HKEY>(key)); }

int32_t OpenRegKey(RegRoot root, const std::u16string& subkey, uint32_t access, RegKey* key) {
    return Open(RootKey(root), subkey, access, key);
}

int32_t RegNotifyChangeKeyValue(const RegKey& key, bool watchSubtree, uint32_t filter, Event* event,
                                bool asynchronous) {
    return ::RegNotifyChangeKeyValue(Raw(key), watchSubtree, filter, event ? static_cast<HANDLE>(event->native()) : nullptr,
                                     asynchronous);
}

int32_t RegReadQword(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint64_t* data) {
    RegKey key;
    if (LONG error = Open(RootKey(root), subkey, KEY_QUERY_VALUE, &key)) return error;
    DWORD type = 0, bytes = sizeof(*data);
    uint64_t number = 0;
    if (LONG error = RegQueryValueExW(Raw(key), Wide(value), nullptr, &type, reinterpret_cast<BYTE*>(&number), &bytes))
        return error == ERROR_MORE_DATA ? ERROR_INVALID_DATA : error;
    if (type != REG_QWORD || bytes != sizeof(number)) return ERROR_INVALID_DATA;
    *data = number;
    return ERROR_SUCCESS;
}

int32_t RegWriteQword(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint64_t data) {
    return SetValue(root, subkey, value, REG_QWORD, &data, sizeof(data));
}

int32_t ShGetTextValue(RegRoot root, const std::u16string& subkey, const std::u16string& value,
                       std::u16string* data) {
    DWORD type = 0, bytes = 0;
    if (DWORD error = SHGetValueW(RootKey(root), Wide(subkey), Wide(value), &type, nullptr, &bytes)) return error;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    // The size asked for may be that of the text before expansion: a text that fills the buffer
    // may have been cut, so it is read again with more room.
    constexpr size_t kMostChars = 32768;
    for (size_t chars = std::max<size_t>(bytes / sizeof(wchar_t), MAX_PATH) + 1;; chars *= 2) {
        std::vector<wchar_t> buffer(chars, 0);
        bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        DWORD error = SHGetValueW(RootKey(root), Wide(subkey), Wide(value), &type, buffer.data(), &bytes);
        if (error && error != ERROR_MORE_DATA) return error;
        buffer.back() = 0;
        size_t length = wcslen(buffer.data());
        if (!error && length + 1 < chars) {
            *data = reinterpret_cast<const char16_t*>(buffer.data());
            return ERROR_SUCCESS;
        }
        if (chars >= kMostChars) return ERROR_MORE_DATA;
    }
}

}  // namespace vantel::platform
