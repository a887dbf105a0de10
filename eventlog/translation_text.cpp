#include "eventlog/translation_text.h"

#include <array>

namespace vantel {

std::u16string RelativeIdentifier(const std::u16string& sid) {
    size_t dash = sid.rfind(u'-');
    return dash == std::u16string::npos ? sid : sid.substr(dash + 1);
}

std::u16string TextBetween(std::u16string_view text, std::u16string_view open, std::u16string_view close) {
    size_t start = text.find(open);
    size_t end = text.find(close);
    if (start == std::u16string_view::npos || end == std::u16string_view::npos) return {};
    start += open.size();
    return end > start ? std::u16string(text.substr(start, end - start)) : std::u16string();
}

std::u16string TrimCharacters(const std::u16string& text, std::u16string_view characters) {
    size_t first = text.find_first_not_of(characters);
    if (first == std::u16string::npos) return {};
    size_t last = text.find_last_not_of(characters);
    return text.substr(first, last - first + 1);
}

std::u16string ServiceTypeName(uint32_t type) {
    switch (type) {
        case 1: return u"kernel_driver";
        case 2: return u"file_system_driver";
        case 8: return u"recognizer_driver";
        case 16: return u"win32_own_process";
        case 32: return u"win32_share_process";
        case 272: return u"Interactive_Own_Process";
        case 288: return u"Interactive_Share_Process";
        default: return {};
    }
}

std::u16string StartTypeName(uint32_t type) {
    static constexpr std::array<const char16_t*, 5> kNames = {u"boot", u"system", u"automatic", u"manual", u"disabled"};
    return type < kNames.size() ? kNames[type] : std::u16string();
}

}  // namespace vantel
