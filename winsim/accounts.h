// The local account database of the simulated machine and security identifiers.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace winsim {

struct UserAccount {
    std::u16string name;
    uint32_t privilege;  // 0 guest, 1 user, 2 administrator
    std::u16string sid;  // text form
};

// The machine's name, which is also the domain of its accounts.
constexpr char16_t kComputerName[] = u"WINSIM";

// Control: adds or replaces a user (names ignore case).
void AddUser(const UserAccount& user);
// Back to the two built-in users, "Administrator" (relative id 500) and "Guest" (501).
void ResetAccounts();

// Security identifiers: binary from text ("S-1-5-32-544"), empty when malformed; text from
// binary, empty when invalid.
std::vector<uint8_t> SidFromText(const std::u16string& text);
std::u16string SidText(const std::vector<uint8_t>& sid);
bool IsValidSid(const std::vector<uint8_t>& sid);

// The machine's side. The server is this computer when empty or named, with or without "\\".
int32_t NetUserPrivilege(const std::u16string& server, const std::u16string& user, uint32_t* privilege);
// A user's identifier by name, alone or as "WINSIM\name".
int32_t LookupAccountName(const std::u16string& name, std::vector<uint8_t>* sid, std::u16string* domain);

}  // namespace winsim
