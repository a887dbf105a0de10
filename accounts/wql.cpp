#include "accounts/wql.h"

namespace vantel {

void ParseUserAccountPath(const std::u16string& path, std::u16string* name, std::u16string* domain) {
    name->clear();
    domain->clear();
    // The name runs from its opening quote to the quote before the last comma, the domain from
    // its opening quote to the last quote; a path without them gives no part.
    constexpr std::u16string_view kName = u"Win32_UserAccount.Name=\"";
    size_t p = path.find(kName.substr(0, kName.size() - 1));
    size_t c = path.rfind(u',');
    if (p != std::u16string::npos && c != std::u16string::npos && c >= p + kName.size() + 1)
        *name = path.substr(p + kName.size(), c - p - kName.size() - 1);
    constexpr std::u16string_view kDomain = u"Domain=\"";
    size_t q = path.find(kDomain.substr(0, kDomain.size() - 1));
    size_t d = path.rfind(u'"');
    if (q != std::u16string::npos && d != std::u16string::npos && d >= q + kDomain.size())
        *domain = path.substr(q + kDomain.size(), d - q - kDomain.size());
}

std::u16string EscapeWqlLiteral(const std::u16string& text) {
    std::u16string escaped;
    for (char16_t c : text) {
        if (c == u'\'' || c == u'\\') escaped += u'\\';
        escaped += c;
    }
    return escaped;
}

}  // namespace vantel
