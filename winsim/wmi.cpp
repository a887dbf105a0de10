#include "winsim/wmi.h"

#include <atomic>
#include <optional>

#include "common/text.h"
#include "winsim/accounts.h"

namespace winsim {

namespace {

std::atomic<int32_t> connectFailure{0};

// Consumes a keyword (ignoring case) followed by what stands after it.
bool Take(std::u16string_view& text, std::u16string_view word) {
    while (!text.empty() && text[0] == u' ') text.remove_prefix(1);
    if (!vantel::StartsWithIgnoreCase(text, word)) return false;
    text.remove_prefix(word.size());
    return true;
}

// A single-quoted WQL literal.
std::optional<std::u16string> TakeLiteral(std::u16string_view& text) {
    if (!Take(text, u"'")) return std::nullopt;
    std::u16string value;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size()) {
            value += text[++i];
        } else if (text[i] == u'\'') {
            text.remove_prefix(i + 1);
            return value;
        } else {
            value += text[i];
        }
    }
    return std::nullopt;
}

std::u16string DomainOf(const UserAccount& user) { return user.domain.empty() ? kComputerName : user.domain; }

WmiObject SystemUsersObject(const UserAccount& user) {
    return {{u"GroupComponent", u"\\\\WINSIM\\root\\cimv2:Win32_ComputerSystem.Name=\"WINSIM\""},
            {u"PartComponent", u"\\\\WINSIM\\root\\cimv2:Win32_UserAccount.Name=\"" + user.name + u"\",Domain=\"" +
                                   DomainOf(user) + u"\""}};
}

WmiObject UserAccountObject(const UserAccount& user) {
    return {{u"Name", user.name},
            {u"Domain", DomainOf(user)},
            {u"LocalAccount", user.domain.empty() ? 1 : 0},
            {u"Caption", DomainOf(user) + u"\\" + user.name},
            {u"Description", user.description},
            {u"Disabled", (user.flags & kAccountDisabled) ? 1 : 0},
            {u"Lockout", (user.flags & kAccountLockedOut) ? 1 : 0},
            {u"SID", user.sid}};
}

}  // namespace

void SetWmiConnectFailure(int32_t result) { connectFailure = result; }

int32_t WmiConnect(const std::u16string& nameSpace) {
    if (!vantel::EqualsIgnoreCase(nameSpace, u"ROOT\\CIMV2")) return kWbemInvalidNamespace;
    return connectFailure.load();
}

int32_t WmiExecQuery(const std::u16string& wql, std::vector<WmiObject>* objects) {
    std::u16string_view text = wql;
    if (!Take(text, u"SELECT * FROM ")) return kWbemInvalidQuery;
    objects->clear();
    if (Take(text, u"Win32_SystemUsers")) {
        if (!text.empty()) return kWbemInvalidQuery;
        for (const UserAccount& user : ListUsers()) objects->push_back(SystemUsersObject(user));
        return 0;
    }
    if (!Take(text, u"Win32_UserAccount where Name=")) return kWbemInvalidQuery;
    std::optional<std::u16string> name = TakeLiteral(text);
    if (!name || !Take(text, u"and Domain=")) return kWbemInvalidQuery;
    std::optional<std::u16string> domain = TakeLiteral(text);
    if (!domain || !text.empty()) return kWbemInvalidQuery;
    for (const UserAccount& user : ListUsers())
        if (vantel::EqualsIgnoreCase(user.name, *name) && vantel::EqualsIgnoreCase(DomainOf(user), *domain))
            objects->push_back(UserAccountObject(user));
    return 0;
}

}  // namespace winsim
