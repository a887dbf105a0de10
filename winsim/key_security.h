// Access lists of the simulated machine's registry keys, read and written by name as the
// security functions name a key ("MACHINE\SAM\SAM", "USERS\...").
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "winsim/registry.h"
#include "winsim/security_descriptors.h"

namespace winsim {

// A discretionary access list; none for a key without one (everyone has access).
using AccessList = std::optional<std::vector<AccessEntry>>;

// GetNamedSecurityInfo's list: the key's explicit entries, then, unless its list is protected,
// the entries its ancestors hand down to containers, marked inherited; above them all, SYSTEM
// and administrators have every right and users may read. 2 for a missing key, the key's
// injected failure (RegFailKey), 87 for a name outside "MACHINE" and "USERS".
int32_t GetKeyAccessList(const std::u16string& object, AccessList* list);
// SetNamedSecurityInfo's list: its explicit entries become the key's; inherited ones are left
// to the keys above, as Windows does.
int32_t SetKeyAccessList(const std::u16string& object, const AccessList& list);

// SetEntriesInAcl of one explicit entry whose trustee is given by its identifier, mode 1
// (grant) or 3 (deny); 87 for other modes. The rights join those of an explicit entry of the
// same kind, trustee and inheritance when there is one; a new denying entry goes first, a new
// allowing one after the explicit denying entries. No list gives a list of the entry alone.
int32_t MergeAccessEntry(const AccessList& list, uint32_t mode, const AccessEntry& entry, AccessList* merged);

// Control: a key's own list, from the discretionary part of a descriptor ("D:P(A;CI;KA;;;SY)",
// "P" for a list that takes nothing from above).
void SetKeyAccessText(Hive hive, const std::u16string& key, const std::u16string& descriptor);
// The list GetKeyAccessList shows, as descriptor text ("D:(D;CI;0x10004;;;S-1-1-0)..."); empty
// when it cannot be read.
std::u16string KeyAccessText(Hive hive, const std::u16string& key);
// Control: forgets the lists of the key and of every key below it.
void ForgetKeyAccessLists(Hive hive, const std::u16string& key);
// Control: while held, SetKeyAccessList waits until released; how many wait now.
void HoldAccessListWrites(bool hold);
size_t HeldAccessListWrites();

}  // namespace winsim
