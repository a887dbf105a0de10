#include "platform/accounts.h"

#include "winsim/accounts.h"
#include "winsim/files.h"
#include "winsim/key_security.h"
#include "winsim/local_groups.h"
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

int32_t NetUserEnumNormal(std::vector<UserFlagsEntry>* users) {
    users->clear();
    for (winsim::UserFlags& user : winsim::NetUserEnumNormal()) users->push_back({std::move(user.name), user.flags});
    return kErrorSuccess;
}

int32_t NetUserGetLocalGroupNames(const std::u16string& user, std::vector<std::u16string>* groups) {
    return winsim::NetUserGetLocalGroups(user, groups);
}

int32_t NetLocalGroupDelMember(const std::u16string& group, const Sid& member) {
    return winsim::NetLocalGroupDelMember(group, member);
}

int32_t GetComputerNetBiosName(std::u16string* name) {
    *name = winsim::kComputerName;
    return kErrorSuccess;
}

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

int32_t CreateWellKnownSid(WellKnownSid type, const Sid& domain, Sid* sid) {
    return winsim::CreateWellKnownSid(static_cast<uint32_t>(type), domain, sid);
}

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
    for (winsim::AccessEntry& entry : parsed)
        entries->push_back({entry.type, entry.mask, std::move(entry.sid), entry.flags});
    return kErrorSuccess;
}

struct Dacl::Data {
    winsim::AccessList list;
};

Dacl::Dacl() = default;
Dacl::~Dacl() = default;
Dacl::Dacl(Dacl&&) noexcept = default;
Dacl& Dacl::operator=(Dacl&&) noexcept = default;

bool Dacl::present() const { return data_ && data_->list; }

int32_t Dacl::GetAceCount(uint32_t* count) const {
    if (!present()) return kErrorInvalidParameter;
    *count = static_cast<uint32_t>(data_->list->size());
    return kErrorSuccess;
}

int32_t Dacl::GetAce(uint32_t index, AccessEntry* entry) const {
    if (!present() || index >= data_->list->size()) return kErrorInvalidParameter;
    const winsim::AccessEntry& found = (*data_->list)[index];
    *entry = {found.type, found.mask, found.sid, found.flags};
    return kErrorSuccess;
}

int32_t Dacl::DeleteAce(uint32_t index) {
    if (!present() || index >= data_->list->size()) return kErrorInvalidParameter;
    data_->list->erase(data_->list->begin() + index);
    return kErrorSuccess;
}

int32_t GetKeyDacl(const std::u16string& object, Dacl* dacl) {
    auto data = std::make_unique<Dacl::Data>();
    if (int32_t error = winsim::GetKeyAccessList(object, &data->list)) return error;
    dacl->data_ = std::move(data);
    return kErrorSuccess;
}

int32_t SetEntriesInDacl(const ExplicitAccess& entry, const Dacl& dacl, Dacl* merged) {
    auto data = std::make_unique<Dacl::Data>();
    winsim::AccessEntry added{0, entry.permissions, entry.trustee, static_cast<uint8_t>(entry.inheritance)};
    winsim::AccessList old = dacl.data_ ? dacl.data_->list : winsim::AccessList();
    if (int32_t error = winsim::MergeAccessEntry(old, static_cast<uint32_t>(entry.mode), added, &data->list))
        return error;
    merged->data_ = std::move(data);
    return kErrorSuccess;
}

int32_t SetKeyDacl(const std::u16string& object, const Dacl& dacl) {
    return winsim::SetKeyAccessList(object, dacl.data_ ? dacl.data_->list : winsim::AccessList());
}

int32_t GetFileDacl(const std::u16string& path, Dacl* dacl) {
    winsim::FindData found{};
    if (int32_t error = winsim::FindFile(path, &found)) return error;
    auto data = std::make_unique<Dacl::Data>();
    std::u16string descriptor = winsim::FileSecurity(path);
    if (descriptor.find(u"D:") != std::u16string::npos) {
        data->list.emplace();
        if (int32_t error = winsim::ParseSecurityDescriptor(descriptor, &*data->list)) return error;
    }
    dacl->data_ = std::move(data);
    return kErrorSuccess;
}

}  // namespace vantel::platform
