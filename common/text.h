// UTF-16 text helpers shared by the module and its supporting targets.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "vantel/abi.h"

namespace vantel {

inline std::u16string FromWide(const WChar* text) {
    return text ? std::u16string(reinterpret_cast<const char16_t*>(text)) : std::u16string();
}
inline const WChar* ToWide(const std::u16string& text) { return reinterpret_cast<const WChar*>(text.c_str()); }
inline const WChar* ToWide(const char16_t* text) { return reinterpret_cast<const WChar*>(text); }

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// Case-insensitive comparison the way Windows compares names: ASCII letters fold.
char16_t FoldCase(char16_t c);
std::u16string FoldCase(std::u16string text);
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
bool StartsWithIgnoreCase(std::u16string_view text, std::u16string_view prefix);

// The leading decimal number of a text, as the C runtime reads it (blanks, a sign, digits);
// none gives 0.
int64_t LeadingInt64(std::u16string_view text);

}  // namespace vantel
