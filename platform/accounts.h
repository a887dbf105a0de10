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

// LookupAccountName on the local computer. When sidBytes or domainChars is too small it answers
// 122 (buffer too small) with both set to the sizes it needs.
int32_t LookupAccountByName(const std::u16string& name, uint32_t* sidBytes, uint32_t* domainChars, Sid* sid);

bool IsValidSid(const Sid& sid);
// The standard string form ("S-1-5-32-544") of ConvertSidToStringSid.
int32_t SidToStringSid(const Sid& sid, std::u16string* text);

}  // namespace vantel::platform
