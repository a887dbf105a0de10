#include "platform/accounts.h"

#include <windows.h>
#include <lm.h>
#include <sddl.h>

#include <memory>

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
    if (!present || dacl == nullptr) return ERROR_SUCCESS;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) continue;
        auto* header = static_cast<ACE_HEADER*>(ace);
        AccessEntry entry{header->AceType, 0, {}};
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
            // Both kinds share the layout: header, mask, then the SID.
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            entry.mask = allowed->Mask;
            PSID sid = &allowed->SidStart;
            auto* bytes = static_cast<const uint8_t*>(sid);
            entry.sid.assign(bytes, bytes + GetLengthSid(sid));
        }
        entries->push_back(std::move(entry));
    }
    return ERROR_SUCCESS;
}

}  // namespace vantel::platform
