// The account database and security identifiers, in the shape of the Windows calls; results
// are Windows error codes.
#pragma once
#include <cstdint>
#include <memory>
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

// usri1_flags bits of a disabled account and of a password that never expires.
constexpr uint32_t kAccountDisabled = 0x2;
constexpr uint32_t kPasswordNeverExpires = 0x10000;
// The flags of NetUserGetInfo and NetUserSetInfo level 1 on this computer.
int32_t NetUserGetFlags(const std::u16string& user, uint32_t* flags);
int32_t NetUserSetFlags(const std::u16string& user, uint32_t flags);

struct UserFlagsEntry {
    std::u16string name;
    uint32_t flags;
};
// NetUserEnum level 1 of this computer's normal accounts (FILTER_NORMAL_ACCOUNT) with an
// unlimited answer: 0, or 234 (more data) with the entries of the first answer; other codes
// come with no entries.
int32_t NetUserEnumNormal(std::vector<UserFlagsEntry>* users);
// NetUserGetLocalGroups level 0 on this computer, indirect memberships included: the names of
// the account's local groups.
int32_t NetUserGetLocalGroupNames(const std::u16string& user, std::vector<std::u16string>* groups);
// NetLocalGroupDelMembers level 0 on this computer, for one member given by its identifier.
int32_t NetLocalGroupDelMember(const std::u16string& group, const Sid& member);

// GetComputerName: the computer's NetBIOS name.
int32_t GetComputerNetBiosName(std::u16string* name);
// GetComputerNameEx(ComputerNameDnsDomain) into a buffer of that many characters; 234 (more
// data) when the name does not fit.
int32_t GetComputerDnsDomain(uint32_t bufferChars, std::u16string* domain);

// LookupAccountName on the local computer. When sidBytes or domainChars is too small it answers
// 122 (buffer too small) with both set to the sizes it needs.
int32_t LookupAccountByName(const std::u16string& name, uint32_t* sidBytes, uint32_t* domainChars, Sid* sid);

bool IsValidSid(const Sid& sid);
// LookupAccountSid on the local computer: the account's name and, when asked, its domain.
int32_t LookupAccountNameOfSid(const Sid& sid, std::u16string* name, std::u16string* domain = nullptr);

// The identities CreateWellKnownSid makes; the account ones need their domain's identifier.
enum class WellKnownSid : uint32_t { World = 1, BuiltinAdministrators = 26, BuiltinGuests = 28, AccountGuest = 39 };
int32_t CreateWellKnownSid(WellKnownSid type, const Sid& domain, Sid* sid);

// One entry of a discretionary access list.
struct AccessEntry {
    uint8_t type;   // 0 allows, 1 denies
    uint32_t mask;
    Sid sid;
    uint8_t flags = 0;  // inheritance (the ACE header's flags)
};
constexpr uint8_t kAccessAllowedAce = 0;
constexpr uint8_t kAccessDeniedAce = 1;
constexpr uint8_t kInheritOnlyAce = 0x08;  // for what is created below only, not the object itself

// ConvertStringSecurityDescriptorToSecurityDescriptor (revision 1) of a descriptor in its string
// form, answering the entries of its discretionary access list in list order (none when it has
// no such list).
int32_t DaclOfSecurityDescriptor(const std::u16string& text, std::vector<AccessEntry>* entries);
// The standard string form ("S-1-5-32-544") of ConvertSidToStringSid.
int32_t SidToStringSid(const Sid& sid, std::u16string* text);

// What SetEntriesInAcl does with an entry, and how it is handed down.
enum class AccessMode : uint32_t { Grant = 1, Deny = 3 };
constexpr uint32_t kSubContainersOnlyInherit = 0x2;
constexpr uint32_t kSubContainersAndObjectsInherit = 0x3;

// One EXPLICIT_ACCESS whose trustee is a user given by its identifier.
struct ExplicitAccess {
    uint32_t permissions;
    AccessMode mode;
    uint32_t inheritance;
    Sid trustee;
};

class Dacl;
// GetNamedSecurityInfo of a registry key's discretionary access list, the key named as the
// security functions name it ("MACHINE\SAM\SAM").
int32_t GetKeyDacl(const std::u16string& object, Dacl* dacl);
// GetNamedSecurityInfo of a file's or folder's discretionary access list.
int32_t GetFileDacl(const std::u16string& path, Dacl* dacl);
// SetEntriesInAcl of one entry into a list, giving a new list.
int32_t SetEntriesInDacl(const ExplicitAccess& entry, const Dacl& dacl, Dacl* merged);
// SetNamedSecurityInfo of a registry key's discretionary access list.
int32_t SetKeyDacl(const std::u16string& object, const Dacl& dacl);

// A discretionary access list as the security functions hand it out, freed with this object.
class Dacl {
public:
    Dacl();
    ~Dacl();
    Dacl(Dacl&&) noexcept;
    Dacl& operator=(Dacl&&) noexcept;

    // False for no list at all (everyone has access).
    bool present() const;
    // GetAclInformation (size information): how many entries it holds.
    int32_t GetAceCount(uint32_t* count) const;
    // GetAce of the entry at the index.
    int32_t GetAce(uint32_t index, AccessEntry* entry) const;
    // DeleteAce: the entries after it move up.
    int32_t DeleteAce(uint32_t index);

private:
    friend int32_t GetKeyDacl(const std::u16string& object, Dacl* dacl);
    friend int32_t GetFileDacl(const std::u16string& path, Dacl* dacl);
    friend int32_t SetEntriesInDacl(const ExplicitAccess& entry, const Dacl& dacl, Dacl* merged);
    friend int32_t SetKeyDacl(const std::u16string& object, const Dacl& dacl);

    struct Data;  // the backend's form of the list
    std::unique_ptr<Data> data_;
};

}  // namespace vantel::platform
