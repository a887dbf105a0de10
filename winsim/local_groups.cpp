#include "winsim/local_groups.h"

#include <algorithm>
#include <mutex>

#include "common/format.h"
#include "common/text.h"
#include "winsim/accounts.h"
#include "winsim/registry.h"
#include "winsim/security_descriptors.h"

namespace winsim {

namespace {

constexpr int32_t kErrorMemberNotInAlias = 1377;
constexpr int32_t kErrorMemberInAlias = 1378;
constexpr int32_t kErrorNoSuchMember = 1387;
constexpr int32_t kNerrGroupNotFound = 2220;
constexpr int32_t kNerrUserNotFound = 2221;
constexpr char16_t kAliases[] = u"SAM\\SAM\\Domains\\Builtin\\Aliases";

struct Group {
    std::u16string sid;
    std::vector<std::u16string> members;  // identifiers in text form
};

std::vector<Group> BuiltInGroups() {
    std::u16string domain = AccountDomainSid();
    return {{u"S-1-5-32-544", {domain + u"-500"}}, {u"S-1-5-32-545", {}}, {u"S-1-5-32-546", {domain + u"-501"}}};
}

uint32_t RelativeId(const std::u16string& sid) {
    uint32_t rid = 0;
    for (char16_t c : sid.substr(sid.rfind(u'-') + 1)) rid = rid * 10 + (c - u'0');
    return rid;
}

// The group's members as the SAM keeps them: their binary identifiers one after the other.
void WriteMembers(const Group& group) {
    std::vector<uint8_t> members;
    for (const std::u16string& member : group.members) {
        std::vector<uint8_t> sid = SidFromText(member);
        members.insert(members.end(), sid.begin(), sid.end());
    }
    RegSetValue(Hive::LocalMachine, kAliases + vantel::Format(u"\\%08X", RelativeId(group.sid)), u"C",
                {ValueType::Binary, std::move(members)});
}

void WriteGroup(const Group& group) {
    RegSetValue(Hive::LocalMachine, kAliases + (u"\\Names\\" + WellKnownName(group.sid)), u"",
                {static_cast<ValueType>(RelativeId(group.sid)), {}});
    WriteMembers(group);
}

struct Groups {
    std::mutex lock;
    std::vector<Group> groups;
    bool written = false;
};

// The groups, their SAM keys written on first use.
Groups& TheGroups(std::unique_lock<std::mutex>* guard) {
    static Groups* groups = new Groups{{}, BuiltInGroups()};
    *guard = std::unique_lock(groups->lock);
    if (!groups->written) {
        groups->written = true;
        for (const Group& group : groups->groups) WriteGroup(group);
    }
    return *groups;
}

Group* FindGroup(Groups& groups, const std::u16string& name) {
    for (Group& group : groups.groups)
        if (vantel::EqualsIgnoreCase(WellKnownName(group.sid), name)) return &group;
    return nullptr;
}

std::u16string SidOfName(const std::u16string& name) {
    std::vector<uint8_t> sid;
    std::u16string domain;
    return LookupAccountName(name, &sid, &domain) == 0 ? SidText(sid) : std::u16string();
}

}  // namespace

void ResetLocalGroups() {
    std::unique_lock<std::mutex> guard;
    Groups& groups = TheGroups(&guard);
    groups.groups = BuiltInGroups();
    for (const Group& group : groups.groups) WriteGroup(group);
}

int32_t AddLocalGroupMember(const std::u16string& group, const std::u16string& member) {
    std::u16string sid = SidOfName(member);
    std::unique_lock<std::mutex> guard;
    Groups& groups = TheGroups(&guard);
    Group* found = FindGroup(groups, group);
    if (found == nullptr) return kNerrGroupNotFound;
    if (sid.empty()) return kErrorNoSuchMember;
    if (std::find(found->members.begin(), found->members.end(), sid) != found->members.end()) return kErrorMemberInAlias;
    found->members.push_back(sid);
    WriteMembers(*found);
    return 0;
}

std::vector<std::pair<std::u16string, std::vector<std::u16string>>> LocalGroupMembers() {
    std::vector<Group> copy;
    {
        std::unique_lock<std::mutex> guard;
        copy = TheGroups(&guard).groups;
    }
    std::vector<std::pair<std::u16string, std::vector<std::u16string>>> listed;
    for (const Group& group : copy) {
        std::vector<std::u16string> names;
        for (const std::u16string& member : group.members) {
            std::u16string name, domain;
            names.push_back(LookupAccountSid(SidFromText(member), &name, &domain) == 0 ? name : member);
        }
        listed.emplace_back(WellKnownName(group.sid), std::move(names));
    }
    return listed;
}

int32_t NetUserGetLocalGroups(const std::u16string& user, std::vector<std::u16string>* groups) {
    std::u16string sid = SidOfName(user);
    if (sid.empty()) return kNerrUserNotFound;
    std::unique_lock<std::mutex> guard;
    Groups& all = TheGroups(&guard);
    groups->clear();
    for (const Group& group : all.groups)
        if (std::find(group.members.begin(), group.members.end(), sid) != group.members.end())
            groups->push_back(WellKnownName(group.sid));
    return 0;
}

int32_t NetLocalGroupDelMember(const std::u16string& group, const std::vector<uint8_t>& member) {
    std::u16string sid = SidText(member);
    std::unique_lock<std::mutex> guard;
    Groups& groups = TheGroups(&guard);
    Group* found = FindGroup(groups, group);
    if (found == nullptr) return kNerrGroupNotFound;
    auto position = std::find(found->members.begin(), found->members.end(), sid);
    if (position == found->members.end()) return kErrorMemberNotInAlias;
    found->members.erase(position);
    WriteMembers(*found);
    return 0;
}

}  // namespace winsim
