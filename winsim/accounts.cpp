#include "winsim/accounts.h"

#include <atomic>
#include <charconv>
#include <map>
#include <mutex>

#include "common/format.h"
#include "common/text.h"
#include "platform/errors.h"
#include "winsim/files.h"
#include "winsim/key_security.h"
#include "winsim/local_groups.h"
#include "winsim/registry.h"
#include "winsim/security_descriptors.h"
#include "winsim/system.h"

namespace winsim {

using namespace vantel::platform;  // the Windows error codes

namespace {

constexpr size_t kMaxSubAuthorities = 15;
constexpr char16_t kMachineSid[] = u"S-1-5-21-1004336348-1177238915-682003330";

std::atomic<Language> g_language{Language::English};

std::map<std::u16string, UserAccount> BuiltInUsers(Language language) {
    std::u16string machine = kMachineSid;
    std::u16string guest = language == Language::German ? u"Gast" : u"Guest";
    return {{u"ADMINISTRATOR", {u"Administrator", 2, machine + u"-500"}},
            {vantel::FoldCase(guest), {guest, 0, machine + u"-501"}}};
}

constexpr char16_t kSamUsers[] = u"SAM\\SAM\\Domains\\Account\\Users";
constexpr char16_t kProfileList[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

struct Accounts {
    std::mutex lock;
    std::map<std::u16string, UserAccount> users = BuiltInUsers(Language::English);  // by folded name
    std::u16string dnsDomain;
    bool samWritten = false;
};

Accounts& TheAccounts() {
    static Accounts* accounts = new Accounts;
    return *accounts;
}

// The account's SAM keys, as the machine keeps them for its local accounts.
void WriteSamKeys(const UserAccount& user) {
    if (!user.domain.empty()) return;
    uint32_t rid = 0;
    for (char16_t c : user.sid.substr(user.sid.rfind(u'-') + 1)) rid = rid * 10 + (c - u'0');
    RegSetValue(Hive::LocalMachine, kSamUsers + std::u16string(u"\\Names\\") + user.name, u"",
                {static_cast<ValueType>(rid), {}});
    std::vector<uint8_t> f(80, 0);
    for (int i = 0; i < 8; ++i) f[24 + i] = static_cast<uint8_t>(user.createdTicks >> (8 * i));
    RegSetValue(Hive::LocalMachine, kSamUsers + vantel::Format(u"\\%08X", rid), u"F", {ValueType::Binary, f});
}

// The built-in accounts' keys and the SAM's own access list, written on first use.
void EnsureSam(Accounts& accounts) {
    if (accounts.samWritten) return;
    accounts.samWritten = true;
    for (const auto& entry : accounts.users) WriteSamKeys(entry.second);
    // As on Windows: SYSTEM has the SAM, administrators may only read and change its access list.
    SetKeyAccessText(Hive::LocalMachine, u"SAM\\SAM", u"D:P(A;CI;KA;;;SY)(A;CI;RCWD;;;BA)");
}

const UserAccount* Find(Accounts& accounts, const std::u16string& user) {
    auto found = accounts.users.find(vantel::FoldCase(user));
    return found == accounts.users.end() ? nullptr : &found->second;
}

bool IsThisComputer(std::u16string server) {
    if (server.rfind(u"\\\\", 0) == 0) server.erase(0, 2);
    return server.empty() || vantel::EqualsIgnoreCase(server, kComputerName);
}

// A decimal number up to the limit, or a "0x" hexadecimal one when hexadecimal is allowed.
bool ParseNumber(std::u16string_view text, uint64_t limit, bool allowHex, uint64_t* value) {
    unsigned base = 10;
    if (allowHex && text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    *value = 0;
    for (char16_t c : text) {
        unsigned digit = c >= u'0' && c <= u'9'   ? c - u'0'
                         : c >= u'a' && c <= u'f' ? c - u'a' + 10
                         : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                  : 99;
        if (digit >= base || *value > (limit - digit) / base) return false;
        *value = *value * base + digit;
    }
    return true;
}

}  // namespace

void AddUser(const UserAccount& user) {
    Accounts& accounts = TheAccounts();
    std::lock_guard guard(accounts.lock);
    EnsureSam(accounts);
    accounts.users[vantel::FoldCase(user.name)] = user;
    WriteSamKeys(user);
}

void ResetAccounts(Language language) {
    Accounts& accounts = TheAccounts();
    {
        std::lock_guard guard(accounts.lock);
        g_language = language;
        RegDeleteTree(Hive::LocalMachine, u"SAM\\SAM");
        ForgetKeyAccessLists(Hive::LocalMachine, u"SAM");
        RegDeleteTree(Hive::LocalMachine, kProfileList);
        accounts.users = BuiltInUsers(language);
        accounts.dnsDomain.clear();
        accounts.samWritten = false;
        EnsureSam(accounts);
    }
    // Outside the lock: the groups look their members' names up here.
    ResetLocalGroups();
}

Language MachineLanguage() { return g_language.load(); }

std::vector<UserAccount> ListUsers() {
    Accounts& accounts = TheAccounts();
    std::lock_guard guard(accounts.lock);
    EnsureSam(accounts);
    std::vector<UserAccount> local, domain;
    for (const auto& entry : accounts.users) (entry.second.domain.empty() ? local : domain).push_back(entry.second);
    local.insert(local.end(), domain.begin(), domain.end());
    return local;
}

void SetUserProfile(const std::u16string& sid, const std::u16string& folder, uint64_t createdTicks) {
    std::u16string key = kProfileList + (u"\\" + sid);
    std::vector<uint8_t> bytes;
    for (char16_t c : folder + u'\0') {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    RegSetValue(Hive::LocalMachine, key, u"ProfileImagePath", {ValueType::ExpandString, bytes});
    SetFileCreationTime(ExpandEnvironmentStrings(folder), createdTicks);
}

void SetDnsDomain(const std::u16string& domain) {
    Accounts& accounts = TheAccounts();
    std::lock_guard guard(accounts.lock);
    accounts.dnsDomain = domain;
}

std::vector<uint8_t> SidFromText(const std::u16string& text) {
    if (text.size() < 4 || vantel::FoldCase(text.substr(0, 4)) != u"S-1-") return {};
    std::vector<std::u16string_view> parts;
    std::u16string_view rest = std::u16string_view(text).substr(4);
    for (size_t dash; (dash = rest.find(u'-')) != std::u16string_view::npos; rest.remove_prefix(dash + 1))
        parts.push_back(rest.substr(0, dash));
    parts.push_back(rest);
    uint64_t authority = 0;
    if (parts.size() - 1 > kMaxSubAuthorities || !ParseNumber(parts[0], 0xFFFFFFFFFFFFull, true, &authority))
        return {};
    std::vector<uint8_t> sid{1, static_cast<uint8_t>(parts.size() - 1)};
    for (int shift = 40; shift >= 0; shift -= 8) sid.push_back(static_cast<uint8_t>(authority >> shift));
    for (size_t i = 1; i < parts.size(); ++i) {
        uint64_t sub = 0;
        if (!ParseNumber(parts[i], 0xFFFFFFFFu, false, &sub)) return {};
        for (int shift = 0; shift < 32; shift += 8) sid.push_back(static_cast<uint8_t>(sub >> shift));
    }
    return sid;
}

bool IsValidSid(const std::vector<uint8_t>& sid) {
    return sid.size() >= 8 && sid[0] == 1 && sid[1] <= kMaxSubAuthorities && sid.size() >= 8 + 4 * size_t{sid[1]};
}

void AppendSidText(std::u16string& text, const std::vector<uint8_t>& sid) {
    if (!IsValidSid(sid)) return;
    uint64_t authority = 0;
    for (int i = 2; i < 8; ++i) authority = authority << 8 | sid[i];
    // Decimal numbers straight into the text: event records carry SIDs by the thousand.
    text += u"S-1-";
    auto appendDecimal = [&](uint64_t number) {
        char digits[20];
        text.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
    };
    // Authorities beyond 32 bits are written in hexadecimal, as Windows writes them.
    if (authority >> 32) text += vantel::Format(u"0x%012llX", authority);
    else appendDecimal(authority);
    for (size_t i = 0; i < sid[1]; ++i) {
        const uint8_t* sub = &sid[8 + 4 * i];
        text += u'-';
        appendDecimal(sub[0] | sub[1] << 8 | sub[2] << 16 | uint32_t{sub[3]} << 24);
    }
}

std::u16string SidText(const std::vector<uint8_t>& sid) {
    std::u16string text;
    text.reserve(64);  // a domain account's SID, five sub-authorities, without growing
    AppendSidText(text, sid);
    return text;
}

int32_t NetUserPrivilege(const std::u16string& server, const std::u16string& user, uint32_t* privilege) {
    if (!IsThisComputer(server)) return kErrorBadNetPath;
    Accounts& accounts = TheAccounts();
    std::lock_guard guard(accounts.lock);
    auto found = accounts.users.find(vantel::FoldCase(user));
    if (found == accounts.users.end()) return kNerrUserNotFound;
    *privilege = found->second.privilege;
    return kErrorSuccess;
}

int32_t NetUserGetInfo2(const std::u16string& server, const std::u16string& user, UserInfo2* info) {
    Accounts& accounts = TheAccounts();
    std::lock_guard guard(accounts.lock);
    const UserAccount* account = Find(accounts, user);
    bool reachable = account && (account->domain.empty() ? IsThisComputer(server)
                                                         : vantel::EqualsIgnoreCase(server, account->domain));
    if (!reachable) return account || IsThisComputer(server) ? kNerrUserNotFound : kErrorBadNetPath;
    *info = {account->privilege, account->lastLogon, account->badPwCount, account->numLogons};
    return kErrorSuccess;
}

int32_t NetUserGetFlags(const std::u16string& user, uint32_t* flags) {
    Accounts& accounts = TheAccounts();
    std::lock_guard guard(accounts.lock);
    const UserAccount* account = Find(accounts, user);
    if (!account || !account->domain.empty()) return kNerrUserNotFound;
    *flags = account->flags;
    return kErrorSuccess;
}

int32_t NetUserSetFlags(const std::u16string& user, uint32_t flags) {
    Accounts& accounts = TheAccounts();
    std::lock_guard guard(accounts.lock);
    EnsureSam(accounts);
    auto found = accounts.users.find(vantel::FoldCase(user));
    if (found == accounts.users.end() || !found->second.domain.empty()) return kNerrUserNotFound;
    found->second.flags = flags;
    WriteSamKeys(found->second);
    return kErrorSuccess;
}

std::vector<UserFlags> NetUserEnumNormal() {
    constexpr uint32_t kNormalAccount = 0x200;
    Accounts& accounts = TheAccounts();
    std::lock_guard guard(accounts.lock);
    std::vector<UserFlags> users;
    for (const auto& entry : accounts.users) {
        const UserAccount& user = entry.second;
        if (user.domain.empty() && (user.flags & kNormalAccount) != 0) users.push_back({user.name, user.flags});
    }
    return users;
}

int32_t GetDnsDomain(uint32_t bufferChars, std::u16string* domain) {
    Accounts& accounts = TheAccounts();
    std::lock_guard guard(accounts.lock);
    if (accounts.dnsDomain.size() + 1 > bufferChars) return kErrorMoreData;
    *domain = accounts.dnsDomain;
    return kErrorSuccess;
}

int32_t LookupAccountName(const std::u16string& name, std::vector<uint8_t>* sid, std::u16string* domain) {
    std::u16string user = name;
    size_t slash = name.find(u'\\');
    if (slash != std::u16string::npos) {
        if (!vantel::EqualsIgnoreCase(name.substr(0, slash), kComputerName)) return kErrorNoneMapped;
        user = name.substr(slash + 1);
    }
    if (slash == std::u16string::npos) {
        if (std::u16string wellKnown = WellKnownSidOfName(user); !wellKnown.empty()) {
            *sid = SidFromText(wellKnown);
            *domain = wellKnown.rfind(u"S-1-5-32-", 0) == 0 ? u"BUILTIN" : u"";
            return kErrorSuccess;
        }
    }
    Accounts& accounts = TheAccounts();
    std::lock_guard guard(accounts.lock);
    auto found = accounts.users.find(vantel::FoldCase(user));
    if (found == accounts.users.end()) return kErrorNoneMapped;
    *sid = SidFromText(found->second.sid);
    *domain = kComputerName;
    return kErrorSuccess;
}

std::u16string AccountDomainSid() { return kMachineSid; }

int32_t CreateWellKnownSid(uint32_t type, const std::vector<uint8_t>& domainSid, std::vector<uint8_t>* sid) {
    constexpr uint32_t kWorld = 1, kBuiltinAdministrators = 26, kBuiltinGuests = 28, kAccountGuest = 39;
    switch (type) {
        case kWorld: *sid = SidFromText(u"S-1-1-0"); return kErrorSuccess;
        case kBuiltinAdministrators: *sid = SidFromText(u"S-1-5-32-544"); return kErrorSuccess;
        case kBuiltinGuests: *sid = SidFromText(u"S-1-5-32-546"); return kErrorSuccess;
        case kAccountGuest: {
            std::u16string domain = SidText(domainSid);
            if (domain.empty()) return kErrorInvalidParameter;
            *sid = SidFromText(domain + u"-501");
            return kErrorSuccess;
        }
        default: return kErrorInvalidParameter;
    }
}

bool UserNameOfSid(const std::u16string& sidText, std::u16string* name, std::u16string* domain) {
    Accounts& accounts = TheAccounts();
    std::lock_guard guard(accounts.lock);
    for (const auto& [folded, user] : accounts.users) {
        if (vantel::EqualsIgnoreCase(user.sid, sidText)) {
            *name = user.name;
            *domain = user.domain.empty() ? kComputerName : user.domain;
            return true;
        }
    }
    return false;
}

}  // namespace winsim
