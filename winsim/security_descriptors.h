// Security descriptors in their string form, as the simulated machine converts them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace winsim {

struct AccessEntry {
    uint8_t type;   // 0 allows, 1 denies
    uint32_t mask;
    std::vector<uint8_t> sid;
    uint8_t flags = 0;  // inheritance: 1 objects, 2 containers, 4 no further, 8 inherit only, 0x10 inherited
};

// Parses "O:..G:..D:(A;;FA;;;WD)(A;CI;0x1200a9;;;S-1-5-32-545)..." into the entries of its
// discretionary list. Answers 0, or 1336 (a malformed list) / 87 (a malformed descriptor).
int32_t ParseSecurityDescriptor(const std::u16string& text, std::vector<AccessEntry>* entries);
// The entries as the discretionary part of a descriptor: "D:(D;CI;0x10004;;;S-1-1-0)...".
std::u16string DaclText(const std::vector<AccessEntry>& entries);

// The name of an account or well-known group by its identifier, with its domain ("WINSIM" for
// the machine's accounts, "NT AUTHORITY" or "BUILTIN" for well-known ones); 1332 when none is known.
int32_t LookupAccountSid(const std::vector<uint8_t>& sid, std::u16string* name, std::u16string* domain);
// Well-known identities (text form) and their names in the machine's language
// (winsim/accounts.h); empty when there is none.
std::u16string WellKnownName(const std::u16string& sidText);
std::u16string WellKnownSidOfName(const std::u16string& name);

}  // namespace winsim
