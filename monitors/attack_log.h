// The remote-logon attack entries that another component of the agent writes to "AtLog.xml".
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "vantel/companion_abi.h"

namespace vantel {

struct AttackRecord {
    std::u16string id;
    std::u16string type;
    std::u16string time;
    std::u16string ip;
};

// The entries of the file whose "id" is greater than the last id (both read as leading decimal
// numbers), in document order, read through the companion library's XML document. 0 when the
// document cannot be made or loaded; otherwise 1, with the entries read before an incomplete
// one.
int ParseAttackLog(const std::u16string& lastId, const std::u16string& path, std::vector<AttackRecord>* attacks);
// The same over a loaded document.
int ReadAttackEntries(IRapidXMLDOMDocument* document, int64_t lastId, std::vector<AttackRecord>* attacks);

// The attacker's address in an entry's "log" text: what stands between the first "ip:" and the
// last ","; the whole text when either mark is missing, nothing when the "," comes first.
std::u16string AttackAddress(const std::u16string& log);

}  // namespace vantel
