// Ini files through the system's profile-string functions; results are Windows error codes.
#pragma once
#include <cstdint>
#include <string>

namespace vantel::platform {

// WritePrivateProfileString: the key is replaced where it stands or added to its section, which
// is added when missing; a missing file is created, a missing folder is not.
int32_t IniWriteText(const std::u16string& file, const std::u16string& section, const std::u16string& key,
                     const std::u16string& value);
// GetPrivateProfileInt: the key's value read as a number, the default when the file, the
// section or the key is missing.
uint32_t IniReadInt(const std::u16string& file, const std::u16string& section, const std::u16string& key,
                    int32_t defaultValue);

}  // namespace vantel::platform
