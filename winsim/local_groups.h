// The simulated machine's local groups: the built-in Administrators (S-1-5-32-544), Users (545)
// and Guests (546), named in the machine's language, with their members. Each group keeps its
// members in the SAM as Windows does ("SAM\SAM\Domains\Builtin\Aliases\<RID as 8 hex digits>",
// value "C"), so that every change of members wakes the SAM's watchers.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace winsim {

// Control: the built-in groups with their built-in members, Administrator in Administrators
// and the Guest account in Guests (winsim::ResetAccounts does this).
void ResetLocalGroups();
// Control: NetLocalGroupAddMembers of an account or well-known identity by name to a group by
// name: 2220 for no such group, 1387 for no such member, 1378 when it is a member already.
int32_t AddLocalGroupMember(const std::u16string& group, const std::u16string& member);
// Every group by name with the names of its members, in the groups' order.
std::vector<std::pair<std::u16string, std::vector<std::u16string>>> LocalGroupMembers();

// The machine's side. NetUserGetLocalGroups of this computer's account: the names of its groups
// (2221 for no such account).
int32_t NetUserGetLocalGroups(const std::u16string& user, std::vector<std::u16string>* groups);
// NetLocalGroupDelMembers of one member by identifier: 2220 for no such group, 1377 when it is
// no member.
int32_t NetLocalGroupDelMember(const std::u16string& group, const std::vector<uint8_t>& member);

}  // namespace winsim
