#include "platform/profile.h"

#include "winsim/profile.h"

namespace vantel::platform {

int32_t IniWriteText(const std::u16string& file, const std::u16string& section, const std::u16string& key,
                     const std::u16string& value) {
    return winsim::WriteProfileString(file, section, key, value);
}

uint32_t IniReadInt(const std::u16string& file, const std::u16string& section, const std::u16string& key,
                    int32_t defaultValue) {
    return winsim::GetProfileInt(file, section, key, defaultValue);
}

}  // namespace vantel::platform
