// The WQL texts of the user inventory: object paths of Win32_SystemUsers and query literals.
#pragma once
#include <string>

namespace vantel {

// Name and domain of an account path such as
// \\HOST\root\cimv2:Win32_UserAccount.Name="alice",Domain="HOST"; a part that is missing or
// cut short is empty.
void ParseUserAccountPath(const std::u16string& path, std::u16string* name, std::u16string* domain);

// The text for inside a single-quoted WQL literal: apostrophes and backslashes escaped.
std::u16string EscapeWqlLiteral(const std::u16string& text);

}  // namespace vantel
