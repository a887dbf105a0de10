#include "platform/registry.h"

#include <windows.h>

#include <vector>

namespace vantel::platform {

namespace {

HKEY RootKey(RegRoot root) { return root == RegRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_USERS; }

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

class RegKey {
public:
    RegKey() = default;
    ~RegKey() {
        if (key_) RegCloseKey(key_);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY* put() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace

int32_t RegReadString(RegRoot root, const std::u16string& subkey, const std::u16string& value,
                      std::u16string* data) {
    RegKey key;
    if (LONG error = RegOpenKeyExW(RootKey(root), Wide(subkey), 0, KEY_QUERY_VALUE, key.put())) return error;
    DWORD type = 0, bytes = 0;
    if (LONG error = RegQueryValueExW(key.get(), Wide(value), nullptr, &type, nullptr, &bytes)) return error;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, 0);
    if (LONG error = RegQueryValueExW(key.get(), Wide(value), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes))
        return error;
    buffer.back() = 0;  // stored strings need not end with a terminator
    *data = reinterpret_cast<const char16_t*>(buffer.data());
    return ERROR_SUCCESS;
}

int32_t RegReadDword(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint32_t* data) {
    RegKey key;
    if (LONG error = RegOpenKeyExW(RootKey(root), Wide(subkey), 0, KEY_QUERY_VALUE, key.put())) return error;
    DWORD type = 0, number = 0, bytes = sizeof(number);
    if (LONG error = RegQueryValueExW(key.get(), Wide(value), nullptr, &type, reinterpret_cast<BYTE*>(&number), &bytes))
        return error;
    if (type != REG_DWORD) return ERROR_INVALID_DATA;
    *data = number;
    return ERROR_SUCCESS;
}

int32_t RegReadValue(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint32_t* type,
                     std::vector<uint8_t>* data) {
    RegKey key;
    if (LONG error = RegOpenKeyExW(RootKey(root), Wide(subkey), 0, KEY_READ | KEY_WOW64_64KEY, key.put())) return error;
    DWORD stored = 0, bytes = 0;
    if (LONG error = RegQueryValueExW(key.get(), Wide(value), nullptr, &stored, nullptr, &bytes)) return error;
    data->assign(bytes, 0);
    if (LONG error = RegQueryValueExW(key.get(), Wide(value), nullptr, &stored, data->data(), &bytes)) return error;
    data->resize(bytes);
    *type = stored;
    return ERROR_SUCCESS;
}

int32_t RegWriteDword(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint32_t data) {
    RegKey key;
    if (LONG error = RegCreateKeyExW(RootKey(root), Wide(subkey), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr))
        return error;
    DWORD number = data;
    return RegSetValueExW(key.get(), Wide(value), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
}

}  // namespace vantel::platform
