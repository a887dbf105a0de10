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
    std::u16string description{};
    uint32_t flags = 0x201;  // NetUserGetInfo's usri1_flags: script, normal account
    std::u16string domain{};  // empty for an account of this computer
    uint32_t lastLogon = 0;  // seconds since 1970, 0 when never
    uint32_t badPwCount = 0;
    uint32_t numLogons = 0;
    uint64_t createdTicks = 0;  // the SAM's creation FILETIME, 0 when it records none
};

constexpr uint32_t kAccountDisabled = 0x2;
constexpr uint32_t kAccountLockedOut = 0x10;

// NetUserGetInfo level 2 of an account.
struct UserInfo2 {
    uint32_t privilege, lastLogon, badPwCount, numLogons;
};

// The machine's name, which is also the domain of its accounts.
constexpr char16_t kComputerName[] = u"WINSIM";

// The language the machine names its built-in accounts and groups in.
enum class Language { English, German };

// Control: adds or replaces a user (names ignore case). A local account also gets its SAM keys:
// "SAM\SAM\Domains\Account\Users\Names\<name>", whose default value's type is the relative
// identifier, and "...\Users\<RID as 8 hex digits>" with "F" holding createdTicks at offset 24.
void AddUser(const UserAccount& user);
// Back to a fresh machine in that language: the two built-in users, "Administrator" (relative
// id 500) and "Guest" (501, "Gast" in German), the built-in groups (winsim/local_groups.h), the
// SAM's keys and access lists, and no DNS domain.
void ResetAccounts(Language language = Language::English);
Language MachineLanguage();
// Every account, in name order: those of this computer first, then the domain's.
std::vector<UserAccount> ListUsers();
// Gives the account of that identifier a profile: its "ProfileList" key, whose
// "ProfileImagePath" is the folder, and the folder with that creation time.
void SetUserProfile(const std::u16string& sid, const std::u16string& folder, uint64_t createdTicks);
// The DNS domain the machine belongs to; empty for none.
void SetDnsDomain(const std::u16string& domain);

// Security identifiers: binary from text ("S-1-5-32-544"), empty when malformed; text from
// binary, empty when invalid.
std::vector<uint8_t> SidFromText(const std::u16string& text);
std::u16string SidText(const std::vector<uint8_t>& sid);
void AppendSidText(std::u16string& text, const std::vector<uint8_t>& sid);
bool IsValidSid(const std::vector<uint8_t>& sid);

// The machine's side. The server is this computer when empty or named, with or without "\\".
int32_t NetUserPrivilege(const std::u16string& server, const std::u16string& user, uint32_t* privilege);
// A domain's accounts answer when the server is their domain.
int32_t NetUserGetInfo2(const std::u16string& server, const std::u16string& user, UserInfo2* info);
// NetUserGetInfo and NetUserSetInfo level 1 on this computer: the account's flags. Setting them
// rewrites the account's SAM keys, which wakes their watchers.
int32_t NetUserGetFlags(const std::u16string& user, uint32_t* flags);
int32_t NetUserSetFlags(const std::u16string& user, uint32_t flags);
// NetUserEnum level 1 with the filter for normal accounts: this computer's accounts whose flags
// have UF_NORMAL_ACCOUNT (0x200), in name order.
struct UserFlags {
    std::u16string name;
    uint32_t flags;
};
std::vector<UserFlags> NetUserEnumNormal();
// GetComputerNameEx(ComputerNameDnsDomain) into a buffer of that many characters: 234 (more
// data) when the name and its terminator do not fit.
int32_t GetDnsDomain(uint32_t bufferChars, std::u16string* domain);
// The name and domain of the user with that identifier (text form); false when there is none.
bool UserNameOfSid(const std::u16string& sidText, std::u16string* name, std::u16string* domain);
// A user's identifier by name, alone or as "WINSIM\name"; a well-known group's by its name in
// the machine's language.
int32_t LookupAccountName(const std::u16string& name, std::vector<uint8_t>* sid, std::u16string* domain);
// The identifier of this computer's account domain (text form), which its accounts' identifiers
// extend by their relative identifier.
std::u16string AccountDomainSid();
// CreateWellKnownSid: WinWorldSid (1), WinBuiltinAdministratorsSid (26), WinBuiltinGuestsSid (28),
// and, with the domain's identifier, WinAccountGuestSid (39); 87 otherwise.
int32_t CreateWellKnownSid(uint32_t type, const std::vector<uint8_t>& domainSid, std::vector<uint8_t>* sid);

}  // namespace winsim
