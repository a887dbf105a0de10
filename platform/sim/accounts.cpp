#include "platform/accounts.h"

#include "winsim/accounts.h"
#include "winsim/security_descriptors.h"

namespace vantel::platform {

int32_t NetUserPrivilege(const std::u16string& server, const std::u16string& user, uint32_t* privilege) {
    return winsim::NetUserPrivilege(server, user, privilege);
}

int32_t NetUserGetInfo2(const std::u16string& server, const std::u16string& user, UserInfo2* info) {
    winsim::UserInfo2 found{};
    if (int32_t error = winsim::NetUserGetInfo2(server, user, &found)) return error;
    *info = {found.privilege, found.lastLogon, found.badPwCount, found.numLogons};
    return kErrorSuccess;
}

int32_t NetUserGetFlags(const std::u16string& user, uint32_t* flags) { return winsim::NetUserGetFlags(user, flags); }

int32_t NetUserSetFlags(const std::u16string& user, uint32_t flags) { return winsim::NetUserSetFlags(user, flags); }

int32_t GetComputerDnsDomain(uint32_t bufferChars, std::u16string* domain) {
    return winsim::GetDnsDomain(bufferChars, domain);
}

int32_t LookupAccountByName(const std::u16string& name, uint32_t* sidBytes, uint32_t* domainChars, Sid* sid) {
    Sid found;
    std::u16string domain;
    if (int32_t error = winsim::LookupAccountName(name, &found, &domain)) return error;
    uint32_t neededSid = static_cast<uint32_t>(found.size());
    uint32_t neededDomain = static_cast<uint32_t>(domain.size() + 1);
    bool fits = *sidBytes >= neededSid && *domainChars >= neededDomain;
    *sidBytes = neededSid;
    *domainChars = neededDomain;
    if (!fits) return kErrorInsufficientBuffer;
    *sid = std::move(found);
    return kErrorSuccess;
}

bool IsValidSid(const Sid& sid) { return winsim::IsValidSid(sid); }

int32_t SidToStringSid(const Sid& sid, std::u16string* text) {
    std::u16string converted = winsim::SidText(sid);
    if (converted.empty()) return kErrorInvalidSid;
    *text = std::move(converted);
    return kErrorSuccess;
}

}  // namespace vantel::platform

namespace vantel::platform {

int32_t LookupAccountNameOfSid(const Sid& sid, std::u16string* name, std::u16string* domain) {
    std::u16string ignored;
    return winsim::LookupAccountSid(sid, name, domain ? domain : &ignored);
}

int32_t DaclOfSecurityDescriptor(const std::u16string& text, std::vector<AccessEntry>* entries) {
    std::vector<winsim::AccessEntry> parsed;
    if (int32_t error = winsim::ParseSecurityDescriptor(text, &parsed)) return error;
    entries->clear();
    for (winsim::AccessEntry& entry : parsed) entries->push_back({entry.type, entry.mask, std::move(entry.sid)});
    return kErrorSuccess;
}

}  // namespace vantel::platform
