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
};

// Parses "O:..G:..D:(A;;FA;;;WD)(A;;0x1200a9;;;S-1-5-32-545)..." into the entries of its
// discretionary list. Answers 0, or 1336 (a malformed list) / 87 (a malformed descriptor).
int32_t ParseSecurityDescriptor(const std::u16string& text, std::vector<AccessEntry>* entries);

// The name of an account or well-known group by its identifier, with its domain ("WINSIM" for
// the machine's accounts, "NT AUTHORITY" or "BUILTIN" for well-known ones); 1332 when none is known.
int32_t LookupAccountSid(const std::vector<uint8_t>& sid, std::u16string* name, std::u16string* domain);

}  // namespace winsim
