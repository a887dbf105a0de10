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
