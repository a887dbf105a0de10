#include "platform/accounts.h"

#include <windows.h>
#include <aclapi.h>
#include <lm.h>
#include <sddl.h>

#include <memory>

#include "platform/win32/access_entries.h"

namespace vantel::platform {

namespace {

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

struct NetBufferFree {
    void operator()(void* buffer) const { NetApiBufferFree(buffer); }
};

struct LocalMemoryFree {
    void operator()(void* memory) const { LocalFree(memory); }
};

}  // namespace

int32_t NetUserPrivilege(const std::u16string& server, const std::u16string& user, uint32_t* privilege) {
    BYTE* raw = nullptr;
    NET_API_STATUS status = NetUserGetInfo(server.empty() ? nullptr : Wide(server), Wide(user), 2, &raw);
    std::unique_ptr<BYTE, NetBufferFree> info(raw);
    if (status != NERR_Success) return static_cast<int32_t>(status);
    *privilege = reinterpret_cast<const USER_INFO_2*>(raw)->usri2_priv;
    return ERROR_SUCCESS;
}

int32_t NetUserGetInfo2(const std::u16string& server, const std::u16string& user, UserInfo2* info) {
    BYTE* raw = nullptr;
    NET_API_STATUS status = NetUserGetInfo(server.empty() ? nullptr : Wide(server), Wide(user), 2, &raw);
    std::unique_ptr<BYTE, NetBufferFree> owned(raw);
    if (status != NERR_Success) return static_cast<int32_t>(status);
    if (!raw) return ERROR_INVALID_DATA;
    const auto* found = reinterpret_cast<const USER_INFO_2*>(raw);
    *info = {found->usri2_priv, found->usri2_last_logon, found->usri2_bad_pw_count, found->usri2_num_logons};
    return ERROR_SUCCESS;
}

int32_t NetUserGetFlags(const std::u16string& user, uint32_t* flags) {
    BYTE* raw = nullptr;
    NET_API_STATUS status = NetUserGetInfo(nullptr, Wide(user), 1, &raw);
    std::unique_ptr<BYTE, NetBufferFree> owned(raw);
    if (status != NERR_Success) return static_cast<int32_t>(status);
    if (!raw) return ERROR_INVALID_DATA;
    *flags = reinterpret_cast<const USER_INFO_1*>(raw)->usri1_flags;
    return ERROR_SUCCESS;
}

int32_t NetUserSetFlags(const std::u16string& user, uint32_t flags) {
    // Level 1008 changes the flags alone; level 1 would also rewrite the password fields.
    USER_INFO_1008 info{flags};
    return static_cast<int32_t>(NetUserSetInfo(nullptr, Wide(user), 1008, reinterpret_cast<BYTE*>(&info), nullptr));
}

int32_t NetUserEnumNormal(std::vector<UserFlagsEntry>* users) {
    users->clear();
    BYTE* raw = nullptr;
    DWORD read = 0, total = 0, resume = 0;
    NET_API_STATUS status =
        NetUserEnum(nullptr, 1, FILTER_NORMAL_ACCOUNT, &raw, MAX_PREFERRED_LENGTH, &read, &total, &resume);
    std::unique_ptr<BYTE, NetBufferFree> owned(raw);
    if (status != NERR_Success && status != ERROR_MORE_DATA) return static_cast<int32_t>(status);
    const auto* entries = reinterpret_cast<const USER_INFO_1*>(raw);
    for (DWORD i = 0; raw != nullptr && i < read; ++i)
        users->push_back({reinterpret_cast<const char16_t*>(entries[i].usri1_name), entries[i].usri1_flags});
    return static_cast<int32_t>(status);
}

int32_t NetUserGetLocalGroupNames(const std::u16string& user, std::vector<std::u16string>* groups) {
    groups->clear();
    BYTE* raw = nullptr;
    DWORD read = 0, total = 0;
    NET_API_STATUS status =
        NetUserGetLocalGroups(nullptr, Wide(user), 0, LG_INCLUDE_INDIRECT, &raw, MAX_PREFERRED_LENGTH, &read, &total);
    std::unique_ptr<BYTE, NetBufferFree> owned(raw);
    if (status != NERR_Success) return static_cast<int32_t>(status);
    const auto* entries = reinterpret_cast<const LOCALGROUP_USERS_INFO_0*>(raw);
    for (DWORD i = 0; raw != nullptr && i < read; ++i)
        groups->push_back(reinterpret_cast<const char16_t*>(entries[i].lgrui0_name));
    return ERROR_SUCCESS;
}

int32_t NetLocalGroupDelMember(const std::u16string& group, const Sid& member) {
    if (!IsValidSid(member)) return ERROR_INVALID_SID;
    LOCALGROUP_MEMBERS_INFO_0 info{const_cast<uint8_t*>(member.data())};
    return static_cast<int32_t>(NetLocalGroupDelMembers(nullptr, Wide(group), 0, reinterpret_cast<BYTE*>(&info), 1));
}

int32_t GetComputerNetBiosName(std::u16string* name) {
    wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(buffer, &size)) return static_cast<int32_t>(GetLastError());
    *name = reinterpret_cast<const char16_t*>(buffer);
    return ERROR_SUCCESS;
}

int32_t GetComputerDnsDomain(uint32_t bufferChars, std::u16string* domain) {
    std::vector<wchar_t> buffer(bufferChars + 1, 0);
    DWORD size = bufferChars;
    if (!GetComputerNameExW(ComputerNameDnsDomain, buffer.data(), &size)) return static_cast<int32_t>(GetLastError());
    *domain = reinterpret_cast<const char16_t*>(buffer.data());
    return ERROR_SUCCESS;
}

int32_t LookupAccountByName(const std::u16string& name, uint32_t* sidBytes, uint32_t* domainChars, Sid* sid) {
    Sid found(*sidBytes);
    std::vector<wchar_t> domain(*domainChars);
    DWORD sidSize = *sidBytes, domainSize = *domainChars;
    SID_NAME_USE use{};
    BOOL done = LookupAccountNameW(nullptr, Wide(name), found.empty() ? nullptr : found.data(), &sidSize,
                                   domain.empty() ? nullptr : domain.data(), &domainSize, &use);
    if (!done) {
        int32_t error = static_cast<int32_t>(GetLastError());
        if (error == ERROR_INSUFFICIENT_BUFFER) {
            *sidBytes = sidSize;
            *domainChars = domainSize;
        }
        return error;
    }
    found.resize(GetLengthSid(found.data()));
    *sid = std::move(found);
    return ERROR_SUCCESS;
}

bool IsValidSid(const Sid& sid) {
    return sid.size() >= 8 && ::IsValidSid(const_cast<uint8_t*>(sid.data())) &&
           GetLengthSid(const_cast<uint8_t*>(sid.data())) <= sid.size();
}

int32_t CreateWellKnownSid(WellKnownSid type, const Sid& domain, Sid* sid) {
    if (!domain.empty() && !IsValidSid(domain)) return ERROR_INVALID_SID;
    DWORD size = SECURITY_MAX_SID_SIZE;
    Sid made(size);
    if (!::CreateWellKnownSid(static_cast<WELL_KNOWN_SID_TYPE>(type),
                              domain.empty() ? nullptr : const_cast<uint8_t*>(domain.data()), made.data(), &size))
        return static_cast<int32_t>(GetLastError());
    made.resize(size);
    *sid = std::move(made);
    return ERROR_SUCCESS;
}

int32_t SidToStringSid(const Sid& sid, std::u16string* text) {
    if (!IsValidSid(sid)) return ERROR_INVALID_SID;
    wchar_t* raw = nullptr;
    if (!ConvertSidToStringSidW(const_cast<uint8_t*>(sid.data()), &raw)) return static_cast<int32_t>(GetLastError());
    std::unique_ptr<wchar_t, LocalMemoryFree> owned(raw);
    *text = reinterpret_cast<const char16_t*>(raw);
    return ERROR_SUCCESS;
}

}  // namespace vantel::platform

namespace vantel::platform {

int32_t LookupAccountNameOfSid(const Sid& sid, std::u16string* name, std::u16string* domainName) {
    if (!IsValidSid(sid)) return ERROR_INVALID_SID;
    PSID raw = const_cast<uint8_t*>(sid.data());
    DWORD nameChars = 0, domainChars = 0;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, raw, nullptr, &nameChars, nullptr, &domainChars, &use) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return static_cast<int32_t>(GetLastError());
    std::wstring account(nameChars, L'\0'), domain(domainChars, L'\0');
    if (!LookupAccountSidW(nullptr, raw, account.data(), &nameChars, domain.data(), &domainChars, &use))
        return static_cast<int32_t>(GetLastError());
    *name = std::u16string(reinterpret_cast<const char16_t*>(account.c_str()));
    if (domainName) *domainName = std::u16string(reinterpret_cast<const char16_t*>(domain.c_str()));
    return ERROR_SUCCESS;
}

namespace {

// An entry as GetAce hands it out; entries of other kinds than allow and deny keep no rights.
AccessEntry EntryOfAce(void* ace) {
    auto* header = static_cast<ACE_HEADER*>(ace);
    AccessEntry entry{header->AceType, 0, {}, header->AceFlags};
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
        // Both kinds share the layout: header, mask, then the SID.
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        entry.mask = allowed->Mask;
        PSID sid = &allowed->SidStart;
        auto* bytes = static_cast<const uint8_t*>(sid);
        entry.sid.assign(bytes, bytes + GetLengthSid(sid));
    }
    return entry;
}

}  // namespace

void AccessEntriesOf(PACL dacl, std::vector<AccessEntry>* entries) {
    entries->clear();
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (::GetAce(dacl, i, &ace)) entries->push_back(EntryOfAce(ace));
    }
}

int32_t DaclOfSecurityDescriptor(const std::u16string& text, std::vector<AccessEntry>* entries) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(reinterpret_cast<const wchar_t*>(text.c_str()),
                                                              SDDL_REVISION_1, &descriptor, nullptr))
        return static_cast<int32_t>(GetLastError());
    std::unique_ptr<void, LocalMemoryFree> owned(descriptor);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    entries->clear();
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return static_cast<int32_t>(GetLastError());
    if (present) AccessEntriesOf(dacl, entries);
    return ERROR_SUCCESS;
}

struct Dacl::Data {
    HLOCAL owner = nullptr;  // the descriptor the list lies in, or the list itself
    PACL acl = nullptr;
    ~Data() {
        if (owner) LocalFree(owner);
    }
};

Dacl::Dacl() = default;
Dacl::~Dacl() = default;
Dacl::Dacl(Dacl&&) noexcept = default;
Dacl& Dacl::operator=(Dacl&&) noexcept = default;

bool Dacl::present() const { return data_ && data_->acl; }

int32_t Dacl::GetAceCount(uint32_t* count) const {
    if (!present()) return ERROR_INVALID_PARAMETER;
    ACL_SIZE_INFORMATION info{};
    if (!GetAclInformation(data_->acl, &info, sizeof info, AclSizeInformation))
        return static_cast<int32_t>(GetLastError());
    *count = info.AceCount;
    return ERROR_SUCCESS;
}

int32_t Dacl::GetAce(uint32_t index, AccessEntry* entry) const {
    void* ace = nullptr;
    if (!present()) return ERROR_INVALID_PARAMETER;
    if (!::GetAce(data_->acl, index, &ace)) return static_cast<int32_t>(GetLastError());
    *entry = EntryOfAce(ace);
    return ERROR_SUCCESS;
}

int32_t Dacl::DeleteAce(uint32_t index) {
    if (!present()) return ERROR_INVALID_PARAMETER;
    return ::DeleteAce(data_->acl, index) ? ERROR_SUCCESS : static_cast<int32_t>(GetLastError());
}

// The SAM hive is one for the 32- and the 64-bit view, so a key's name reaches the same key
// from this 32-bit module as from a 64-bit process.
namespace {

// GetNamedSecurityInfo of an object's list into the descriptor it lies in, which the caller frees.
DWORD NamedDacl(const std::u16string& object, SE_OBJECT_TYPE type, HLOCAL* descriptor, PACL* acl) {
    PSECURITY_DESCRIPTOR found = nullptr;
    DWORD error =
        GetNamedSecurityInfoW(Wide(object), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr, &found);
    *descriptor = found;
    return error;
}

}  // namespace

int32_t GetKeyDacl(const std::u16string& object, Dacl* dacl) {
    auto data = std::make_unique<Dacl::Data>();
    if (DWORD error = NamedDacl(object, SE_REGISTRY_KEY, &data->owner, &data->acl)) return static_cast<int32_t>(error);
    dacl->data_ = std::move(data);
    return ERROR_SUCCESS;
}

int32_t GetFileDacl(const std::u16string& path, Dacl* dacl) {
    auto data = std::make_unique<Dacl::Data>();
    if (DWORD error = NamedDacl(path, SE_FILE_OBJECT, &data->owner, &data->acl)) return static_cast<int32_t>(error);
    dacl->data_ = std::move(data);
    return ERROR_SUCCESS;
}

int32_t SetEntriesInDacl(const ExplicitAccess& entry, const Dacl& dacl, Dacl* merged) {
    if (!IsValidSid(entry.trustee)) return ERROR_INVALID_SID;
    EXPLICIT_ACCESS_W access{};
    access.grfAccessPermissions = entry.permissions;
    access.grfAccessMode = static_cast<ACCESS_MODE>(entry.mode);
    access.grfInheritance = entry.inheritance;
    access.Trustee.pMultipleTrustee = nullptr;
    access.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_USER;
    access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(const_cast<uint8_t*>(entry.trustee.data()));
    auto data = std::make_unique<Dacl::Data>();
    DWORD error = SetEntriesInAclW(1, &access, dacl.present() ? dacl.data_->acl : nullptr, &data->acl);
    data->owner = data->acl;
    if (error != ERROR_SUCCESS) return static_cast<int32_t>(error);
    merged->data_ = std::move(data);
    return ERROR_SUCCESS;
}

int32_t SetKeyDacl(const std::u16string& object, const Dacl& dacl) {
    return static_cast<int32_t>(SetNamedSecurityInfoW(const_cast<wchar_t*>(Wide(object)), SE_REGISTRY_KEY,
                                                      DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                                      dacl.present() ? dacl.data_->acl : nullptr, nullptr));
}

}  // namespace vantel::platform
