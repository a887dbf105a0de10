// Ini files on the simulated drives, kept with the rules of the system's profile-string
// functions: sections and keys compare ignoring case, a key written again is replaced where it
// stands, a new key goes to the end of its section and a new section to the end of the file.
// Files are read as UTF-16LE when they start with its byte-order mark, else as UTF-8; a file
// keeps its encoding when written, and a new one is UTF-8.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace winsim {

// WritePrivateProfileString: creates a missing file (3 when its folder is missing).
int32_t WriteProfileString(const std::u16string& file, const std::u16string& section, const std::u16string& key,
                           const std::u16string& value);
// GetPrivateProfileString of one key: its value without surrounding blanks and quotes; none
// when the file, the section or the key is missing.
std::optional<std::u16string> GetProfileString(const std::u16string& file, const std::u16string& section,
                                               const std::u16string& key);
// GetPrivateProfileInt: blanks, a sign and the digits of the value as far as they go ("0x"
// for hexadecimal); the default when the key is missing or its value is empty.
uint32_t GetProfileInt(const std::u16string& file, const std::u16string& section, const std::u16string& key,
                       int32_t defaultValue);

// A whole file of sections and keys, written in one go (as a program that exports settings
// does) in UTF-16LE with its byte-order mark. 3 when the folder is missing.
using ProfileSection = std::pair<std::u16string, std::vector<std::pair<std::u16string, std::u16string>>>;
int32_t WriteUnicodeProfile(const std::u16string& file, const std::vector<ProfileSection>& sections);

}  // namespace winsim
