#include "winsim/security_descriptors.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "common/format.h"
#include "common/text.h"
#include "winsim/accounts.h"

namespace winsim {

namespace {

constexpr int32_t kErrorInvalidParameter = 87;
constexpr int32_t kErrorInvalidAcl = 1336;
constexpr int32_t kErrorNoneMapped = 1332;

const std::map<std::u16string, std::u16string>& SidAliases() {
    static const auto* const aliases = new std::map<std::u16string, std::u16string>{
        {u"WD", u"S-1-1-0"},      {u"CO", u"S-1-3-0"},      {u"NU", u"S-1-5-2"},      {u"IU", u"S-1-5-4"},
        {u"AU", u"S-1-5-11"},     {u"SY", u"S-1-5-18"},     {u"LS", u"S-1-5-19"},     {u"NS", u"S-1-5-20"},
        {u"BA", u"S-1-5-32-544"}, {u"BU", u"S-1-5-32-545"}, {u"BG", u"S-1-5-32-546"}, {u"PU", u"S-1-5-32-547"},
        {u"SO", u"S-1-5-32-549"}, {u"BO", u"S-1-5-32-551"}};
    return *aliases;
}

const std::map<std::u16string, std::u16string>& WellKnownNames() {
    static const auto* const names = new std::map<std::u16string, std::u16string>{
        {u"S-1-1-0", u"Everyone"},           {u"S-1-3-0", u"CREATOR OWNER"},
        {u"S-1-5-2", u"NETWORK"},            {u"S-1-5-4", u"INTERACTIVE"},
        {u"S-1-5-11", u"Authenticated Users"}, {u"S-1-5-18", u"SYSTEM"},
        {u"S-1-5-19", u"LOCAL SERVICE"},     {u"S-1-5-20", u"NETWORK SERVICE"},
        {u"S-1-5-32-544", u"Administrators"}, {u"S-1-5-32-545", u"Users"},
        {u"S-1-5-32-546", u"Guests"},        {u"S-1-5-32-547", u"Power Users"},
        {u"S-1-5-32-549", u"Server Operators"}, {u"S-1-5-32-551", u"Backup Operators"}};
    return *names;
}

// A German Windows names these differently; the rest keep their English names.
const std::map<std::u16string, std::u16string>& GermanNames() {
    static const auto* const names = new std::map<std::u16string, std::u16string>{
        {u"S-1-1-0", u"Jeder"},
        {u"S-1-5-11", u"Authentifizierte Benutzer"},
        {u"S-1-5-32-544", u"Administratoren"},
        {u"S-1-5-32-545", u"Benutzer"},
        {u"S-1-5-32-546", u"G\u00e4ste"},
        {u"S-1-5-32-547", u"Hauptbenutzer"}};
    return *names;
}

// Access rights by their two-letter codes.
const std::map<std::u16string, uint32_t>& RightCodes() {
    static const auto* const codes = new std::map<std::u16string, uint32_t>{
        {u"KA", 0x000F003F}, {u"KR", 0x00020019}, {u"KW", 0x00020006}, {u"KX", 0x00020019},
        {u"GA", 0x10000000}, {u"GR", 0x80000000}, {u"GW", 0x40000000}, {u"GX", 0x20000000},
        {u"FA", 0x001F01FF}, {u"FR", 0x00120089}, {u"FW", 0x00120116}, {u"FX", 0x001200A0},
        {u"RC", 0x00020000}, {u"SD", 0x00010000}, {u"WD", 0x00040000}, {u"WO", 0x00080000},
        {u"CC", 0x00000001}, {u"DC", 0x00000002}, {u"LC", 0x00000004}, {u"SW", 0x00000008},
        {u"RP", 0x00000010}, {u"WP", 0x00000020}, {u"DT", 0x00000040}, {u"LO", 0x00000080},
        {u"CR", 0x00000100}};
    return *codes;
}

bool ParseRights(const std::u16string& text, uint32_t* mask) {
    if (text.rfind(u"0x", 0) == 0 || text.rfind(u"0X", 0) == 0) {
        if (text.size() < 3 || text.size() > 10) return false;
        uint32_t value = 0;
        for (size_t i = 2; i < text.size(); ++i) {
            char16_t c = text[i];
            int digit = c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'f' ? c - u'a' + 10
                      : c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1;
            if (digit < 0) return false;
            value = value * 16 + static_cast<uint32_t>(digit);
        }
        *mask = value;
        return true;
    }
    if (text.size() % 2 != 0) return false;
    *mask = 0;
    for (size_t i = 0; i < text.size(); i += 2) {
        auto code = RightCodes().find(text.substr(i, 2));
        if (code == RightCodes().end()) return false;
        *mask |= code->second;
    }
    return true;
}

// Inheritance flags by their two-letter codes, in the order descriptor text writes them.
constexpr std::pair<const char16_t*, uint8_t> kFlagCodes[] = {
    {u"OI", 0x01}, {u"CI", 0x02}, {u"NP", 0x04}, {u"IO", 0x08}, {u"ID", 0x10}};

bool ParseFlags(const std::u16string& text, uint8_t* flags) {
    if (text.size() % 2 != 0) return false;
    *flags = 0;
    for (size_t i = 0; i < text.size(); i += 2) {
        auto code = std::find_if(std::begin(kFlagCodes), std::end(kFlagCodes),
                                 [&](const auto& flag) { return text.compare(i, 2, flag.first) == 0; });
        if (code == std::end(kFlagCodes)) return false;
        *flags |= code->second;
    }
    return true;
}

std::vector<std::u16string> Split(const std::u16string& text, char16_t separator) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::u16string::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

}  // namespace

int32_t ParseSecurityDescriptor(const std::u16string& text, std::vector<AccessEntry>* entries) {
    entries->clear();
    size_t dacl = text.find(u"D:");
    if (text.empty()) return kErrorInvalidParameter;
    if (dacl == std::u16string::npos) return 0;  // no discretionary list at all
    size_t pos = dacl + 2;
    while (pos < text.size() && text[pos] != u'(' && text[pos] != u'S') ++pos;  // list flags (P, AI, ...)
    while (pos < text.size() && text[pos] == u'(') {
        size_t close = text.find(u')', pos);
        if (close == std::u16string::npos) return kErrorInvalidAcl;
        std::vector<std::u16string> fields = Split(text.substr(pos + 1, close - pos - 1), u';');
        if (fields.size() != 6) return kErrorInvalidAcl;
        AccessEntry entry{};
        if (fields[0] == u"A") entry.type = 0;
        else if (fields[0] == u"D") entry.type = 1;
        else return kErrorInvalidAcl;
        if (!ParseFlags(fields[1], &entry.flags) || !ParseRights(fields[2], &entry.mask)) return kErrorInvalidAcl;
        auto alias = SidAliases().find(fields[5]);
        entry.sid = SidFromText(alias == SidAliases().end() ? fields[5] : alias->second);
        if (entry.sid.empty()) return kErrorInvalidAcl;
        entries->push_back(std::move(entry));
        pos = close + 1;
    }
    // Whatever follows the list must be another part of the descriptor.
    if (pos < text.size() && text[pos] != u'S') return kErrorInvalidParameter;
    return 0;
}

std::u16string DaclText(const std::vector<AccessEntry>& entries) {
    std::u16string text = u"D:";
    for (const AccessEntry& entry : entries) {
        std::u16string flags;
        for (const auto& [code, flag] : kFlagCodes)
            if (entry.flags & flag) flags += code;
        text += vantel::Format(u"(%s;%s;0x%X;;;%s)", entry.type == 0 ? u"A" : u"D", flags, entry.mask,
                               SidText(entry.sid));
    }
    return text;
}

int32_t LookupAccountSid(const std::vector<uint8_t>& sid, std::u16string* name, std::u16string* domain) {
    std::u16string text = SidText(sid);
    if (text.empty()) return kErrorInvalidParameter;
    if (std::u16string known = WellKnownName(text); !known.empty()) {
        *name = known;
        *domain = text.starts_with(u"S-1-5-32-") ? u"BUILTIN" : text.starts_with(u"S-1-5-") ? u"NT AUTHORITY" : u"";
        return 0;
    }
    return UserNameOfSid(text, name, domain) ? 0 : kErrorNoneMapped;
}

std::u16string WellKnownName(const std::u16string& sidText) {
    if (MachineLanguage() == Language::German) {
        auto german = GermanNames().find(sidText);
        if (german != GermanNames().end()) return german->second;
    }
    auto known = WellKnownNames().find(sidText);
    return known == WellKnownNames().end() ? std::u16string() : known->second;
}

std::u16string WellKnownSidOfName(const std::u16string& name) {
    for (const auto& entry : WellKnownNames())
        if (vantel::EqualsIgnoreCase(WellKnownName(entry.first), name)) return entry.first;
    return {};
}

}  // namespace winsim
