// Small text rules the translators share.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vantel {

// The text after the last "-" of an identifier ("S-1-5-21-1-2-3-1005" gives "1005"), all of it
// when there is none.
std::u16string RelativeIdentifier(const std::u16string& sid);
// The text strictly between the first opening and the first closing tag, both searched from the
// start; empty when either is missing.
std::u16string TextBetween(std::u16string_view text, std::u16string_view open, std::u16string_view close);
// The text without any of the characters at either end.
std::u16string TrimCharacters(const std::u16string& text, std::u16string_view characters);

// The names of service types and start types; empty for a number without one.
std::u16string ServiceTypeName(uint32_t type);
std::u16string StartTypeName(uint32_t type);

}  // namespace vantel
