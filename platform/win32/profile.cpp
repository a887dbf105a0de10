#include "platform/profile.h"

#include <windows.h>

namespace vantel::platform {

namespace {
const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
}  // namespace

int32_t IniWriteText(const std::u16string& file, const std::u16string& section, const std::u16string& key,
                     const std::u16string& value) {
    if (WritePrivateProfileStringW(Wide(section), Wide(key), Wide(value), Wide(file))) return ERROR_SUCCESS;
    return static_cast<int32_t>(GetLastError());
}

uint32_t IniReadInt(const std::u16string& file, const std::u16string& section, const std::u16string& key,
                    int32_t defaultValue) {
    return GetPrivateProfileIntW(Wide(section), Wide(key), defaultValue, Wide(file));
}

}  // namespace vantel::platform
