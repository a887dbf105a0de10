// The account database and security identifiers, in the shape of the Windows calls; results
// are Windows error codes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace vantel::platform {

// A security identifier in its binary form.
using Sid = std::vector<uint8_t>;

// The privilege level of administrators (guests are 0, users 1).
constexpr uint32_t kUserPrivilegeAdmin = 2;

// The privilege level of a user from NetUserGetInfo level 2; an empty server is this computer.
int32_t NetUserPrivilege(const std::u16string& server, const std::u16string& user, uint32_t* privilege);

// NetUserGetInfo level 2: what the user inventory reads of an account.
struct UserInfo2 {
    uint32_t privilege = 1;
    uint32_t lastLogon = 0;  // seconds since 1970, 0 when never
    uint32_t badPwCount = 0;
    uint32_t numLogons = 0;
};
int32_t NetUserGetInfo2(const std::u16string& server, const std::u16string& user, UserInfo2* info);

// usri1_flags bit of a disabled account.
constexpr uint32_t kAccountDisabled = 0x2;
// The flags of NetUserGetInfo and NetUserSetInfo level 1 on this computer.
int32_t NetUserGetFlags(const std::u16string& user, uint32_t* flags);
int32_t NetUserSetFlags(const std::u16string& user, uint32_t flags);

// GetComputerNameEx(ComputerNameDnsDomain) into a buffer of that many characters; 234 (more
// data) when the name does not fit.
int32_t GetComputerDnsDomain(uint32_t bufferChars, std::u16string* domain);

// LookupAccountName on the local computer. When sidBytes or domainChars is too small it answers
// 122 (buffer too small) with both set to the sizes it needs.
int32_t LookupAccountByName(const std::u16string& name, uint32_t* sidBytes, uint32_t* domainChars, Sid* sid);

bool IsValidSid(const Sid& sid);
// LookupAccountSid on the local computer: the account's name and, when asked, its domain.
int32_t LookupAccountNameOfSid(const Sid& sid, std::u16string* name, std::u16string* domain = nullptr);

// One entry of a discretionary access list.
struct AccessEntry {
    uint8_t type;   // 0 allows, 1 denies
    uint32_t mask;
    Sid sid;
};
constexpr uint8_t kAccessAllowedAce = 0;

// ConvertStringSecurityDescriptorToSecurityDescriptor (revision 1) of a descriptor in its string
// form, answering the entries of its discretionary access list in list order (none when it has
// no such list).
int32_t DaclOfSecurityDescriptor(const std::u16string& text, std::vector<AccessEntry>* entries);
// The standard string form ("S-1-5-32-544") of ConvertSidToStringSid.
int32_t SidToStringSid(const Sid& sid, std::u16string* text);

}  // namespace vantel::platform
