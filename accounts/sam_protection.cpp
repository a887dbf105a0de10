// The account database's protection: the SAM watch that keeps the Guest account out of every
// group but Guests, and the Everyone deny entry on the account names.
#include <chrono>

#include "accounts/account_policy.h"
#include "common/text.h"
#include "platform/lsa.h"
#include "platform/registry.h"
#include "platform/threads.h"
#include "plugin/boundary.h"
#include "plugin/module_lifetime.h"
#include "plugin/run_state.h"
#include "plugin/trace.h"

namespace vantel {

namespace {

constexpr char16_t kSamKey[] = u"MACHINE\\SAM\\SAM";
constexpr char16_t kSamDomains[] = u"SAM\\SAM\\Domains";
constexpr uint32_t kKeyAllAccess = 0xF003F;
constexpr uint32_t kDeleteAndCreateSubKey = 0x10004;
// How long the last Destroy waits for the SAM watch to end.
constexpr auto kMonitorEndWait = std::chrono::seconds(5);

// The identities by their well-known identifiers, so that a Windows in any language finds them.
platform::Sid WellKnown(platform::WellKnownSid type) {
    platform::Sid sid;
    platform::CreateWellKnownSid(type, {}, &sid);
    return sid;
}

// The Guest account: relative identifier 501 of this computer's account domain, whatever its name.
int32_t FindGuestAccount(std::u16string* name, platform::Sid* sid) {
    platform::LsaPolicy lsa;
    platform::Sid domain;
    if (int32_t status = lsa.Open(platform::kPolicyViewLocalInformation)) return status;
    if (int32_t status = lsa.QueryAccountDomainSid(&domain)) return status;
    if (int32_t error = platform::CreateWellKnownSid(platform::WellKnownSid::AccountGuest, domain, sid)) return error;
    return platform::LookupAccountNameOfSid(*sid, name);
}

}  // namespace

// One count of running work of "NtUsers", taken when a start of the watch is queued and given
// back once its loop watches or it has given up.
class AccountPolicy::StartingCount {
public:
    explicit StartingCount(PluginRunState* state) : state_(state) {}
    ~StartingCount() { Done(); }
    StartingCount(const StartingCount&) = delete;
    StartingCount& operator=(const StartingCount&) = delete;
    void Done() {
        if (state_) --state_->running;
        state_ = nullptr;
    }

private:
    PluginRunState* state_;
};

void AccountPolicy::QueueSamMonitor() {
    PluginRunState* state = RunStateOf(u"NtUsers");
    {
        std::lock_guard guard(monitorLock_);
        ++queuedMonitors_;
    }
    if (state) ++state->running;
    if (QueueModuleWork(&AccountPolicy::SamMonitorWorkItem, state)) return;
    if (state) --state->running;
    std::lock_guard guard(monitorLock_);
    --queuedMonitors_;
    monitorEnded_.notify_all();
    TraceInfo(u"[Vantel]queue SAM monitor failed");
}

void AccountPolicy::SamMonitorWorkItem(void* context) {
    AccountPolicy& policy = Instance();
    {
        StartingCount starting(static_cast<PluginRunState*>(context));
        AtBoundary(u"[Vantel]EnableSamMonitor", [&] { policy.EnableSamMonitor(true, &starting); });
    }
    std::lock_guard guard(policy.monitorLock_);
    --policy.queuedMonitors_;
    policy.monitorEnded_.notify_all();
}

int32_t AccountPolicy::EnableSamMonitor(bool enable) { return EnableSamMonitor(enable, nullptr); }

int32_t AccountPolicy::EnableSamMonitor(bool enable, StartingCount* starting) {
    samMonitorEnabled_ = enable ? 1 : 0;
    if (!enable) {
        TraceInfoText(u"[Vantel]Disable reg monitor\n");
        return 1;
    }
    // Claimed in one step, so that two enables at once start one loop.
    if (samMonitorRunning_.exchange(1) != 0) return 1;
    struct LoopEnd {
        AccountPolicy& policy;
        ~LoopEnd() {
            std::lock_guard guard(policy.monitorLock_);
            policy.samMonitorRunning_ = 0;
            policy.monitorEnded_.notify_all();
        }
    } end{*this};
    return WatchSam(starting);
}

int32_t AccountPolicy::WatchSam(StartingCount* starting) {
    if (!GrantAdministratorsOnSam()) {
        TraceInfoText(u"[Vantel]Add monitor Ace Failed\n");
        return 0;
    }
    platform::RegKey key;
    if (int32_t error = platform::OpenRegKey(platform::RegRoot::LocalMachine, kSamDomains,
                                             platform::kKeyNotify | platform::kKeyWow6464Key, &key)) {
        TraceInfoText(Format(u"[Vantel]open SAM reg key failed,err=%d\n", error));
        return 0;
    }
    platform::Event changed(true, false);
    // The last Destroy wakes the loop through its event.
    struct Published {
        AccountPolicy& policy;
        Published(AccountPolicy& owner, platform::Event* event) : policy(owner) {
            std::lock_guard guard(policy.monitorLock_);
            policy.watchEvent_ = event;
        }
        ~Published() {
            std::lock_guard guard(policy.monitorLock_);
            policy.watchEvent_ = nullptr;
        }
    } published(*this, &changed);
    for (;;) {
        {
            std::lock_guard guard(monitorLock_);
            if (releasing_) break;
            // Cleared before each registration, so that each wait ends only at a change made
            // after it.
            changed.Reset();
        }
        if (int32_t error = platform::RegNotifyChangeKeyValue(key, true, platform::kRegNotifyChangeLastSet, &changed,
                                                              true)) {
            TraceInfoText(Format(u"[Vantel]register regnotify failed,err=%d \n", error));
            return 0;
        }
        if (starting) starting->Done();
        starting = nullptr;
        if (changed.Wait(platform::kInfinite) != platform::WaitResult::Signaled) return 0;
        {
            std::lock_guard guard(monitorLock_);
            if (releasing_) break;
        }
        TraceInfoText(u"[Vantel]Sam change detected\n");
        if (samMonitorEnabled_ == 0) break;
        RemoveGuestFromGroups();
    }
    TraceInfoText(u"[Vantel]Exit reg monitor thread\n");
    return 0;
}

void AccountPolicy::ReleaseSamMonitor() {
    std::unique_lock guard(monitorLock_);
    releasing_ = true;
    if (watchEvent_) watchEvent_->Set();
    if (monitorEnded_.wait_for(guard, kMonitorEndWait,
                               [&] { return queuedMonitors_ == 0 && samMonitorRunning_ == 0; })) {
        releasing_ = false;  // a later plugin object may start it again
    } else {
        TraceInfo(u"[Vantel]SAM monitor did not end within %d ms",
                  static_cast<int32_t>(std::chrono::milliseconds(kMonitorEndWait).count()));
    }
}

int32_t AccountPolicy::RemoveGuestFromGroups() {
    std::u16string guest;
    platform::Sid guestSid;
    std::vector<std::u16string> groups;
    int32_t status = FindGuestAccount(&guest, &guestSid);
    if (status == 0) status = platform::NetUserGetLocalGroupNames(guest, &groups);
    if (status != 0) TraceInfoText(Format(u"[Vantel]Get Local Groups failed, %d\n", status));
    std::u16string guests;
    if (platform::LookupAccountNameOfSid(WellKnown(platform::WellKnownSid::BuiltinGuests), &guests) != 0)
        guests = u"guests";
    for (size_t i = 0; i < groups.size(); ++i) {
        TraceInfoText(Format(u"[Vantel]group_%d, %s \n", static_cast<int32_t>(i), groups[i]));
        if (!EqualsIgnoreCase(groups[i], guests)) platform::NetLocalGroupDelMember(groups[i], guestSid);
    }
    return 1;
}

bool AccountPolicy::GrantAdministratorsOnSam() {
    platform::Sid administrators;
    if (!LookupAdministratorsSid(&administrators)) return false;
    return AddAceToObject(kSamKey, administrators, kKeyAllAccess, platform::AccessMode::Grant,
                          platform::kSubContainersAndObjectsInherit) == 0;
}

bool AccountPolicy::LookupAdministratorsSid(platform::Sid* sid) {
    return platform::CreateWellKnownSid(platform::WellKnownSid::BuiltinAdministrators, {}, sid) == 0;
}

bool AccountPolicy::AddEveryOneDenyDACL(const std::u16string& object) {
    TraceInfoText(u"[Vantel]AddEveryOneDenyDACL\n");
    return AddAceToObject(object, WellKnown(platform::WellKnownSid::World), kDeleteAndCreateSubKey,
                          platform::AccessMode::Deny, platform::kSubContainersOnlyInherit) == 0;
}

int32_t AccountPolicy::RemoveEveryOneDenyDACL(const std::u16string& object) {
    TraceInfo(u"[Vantel] Remove Dacl on %s", object);
    return RemoveAceFromObject(object, WellKnown(platform::WellKnownSid::World), kDeleteAndCreateSubKey);
}

namespace {

constexpr uint8_t kInheritedAce = 0x10;

// Whether the list holds an explicit entry of that kind, identifier, rights and inheritance.
bool HoldsEntry(const platform::Dacl& dacl, const platform::ExplicitAccess& wanted) {
    uint32_t count = 0;
    if (!dacl.present() || dacl.GetAceCount(&count) != 0) return false;
    uint8_t type = wanted.mode == platform::AccessMode::Deny ? platform::kAccessDeniedAce : platform::kAccessAllowedAce;
    for (uint32_t i = 0; i < count; ++i) {
        platform::AccessEntry entry{};
        if (dacl.GetAce(i, &entry) == 0 && entry.type == type && entry.sid == wanted.trustee &&
            entry.mask == wanted.permissions && entry.flags == (wanted.inheritance & ~kInheritedAce))
            return true;
    }
    return false;
}

}  // namespace

int32_t AccountPolicy::AddAceToObject(const std::u16string& object, const platform::Sid& sid, uint32_t rights,
                                      platform::AccessMode mode, uint32_t inheritance) {
    if (object.empty()) return platform::kErrorInvalidParameter;
    platform::Dacl dacl;
    if (int32_t status = platform::GetKeyDacl(object, &dacl)) {
        TraceInfoText(Format(u"[Vantel]GetNamedSecurityInfo Error %u\n", status));
        return status;
    }
    platform::ExplicitAccess entry{rights, mode, inheritance, sid};
    // A system whose merge appends would otherwise grow the list at every Start and leave a
    // second deny entry behind when one is removed.
    if (HoldsEntry(dacl, entry)) return platform::kErrorSuccess;
    platform::Dacl merged;
    if (int32_t status = platform::SetEntriesInDacl(entry, dacl, &merged)) {
        // Nothing is written then: an empty new list would open the key to everyone.
        TraceInfoText(Format(u"[Vantel]SetEntriesInAcl Error %u\n", status));
        return status;
    }
    int32_t status = platform::SetKeyDacl(object, merged);
    if (status != 0) TraceInfoText(Format(u"[Vantel]SetNamedSecurityInfo Error %u\n", status));
    return status;
}

int32_t AccountPolicy::RemoveAceFromObject(const std::u16string& object, const platform::Sid& sid, uint32_t rights) {
    if (object.empty()) return platform::kErrorInvalidParameter;
    platform::Dacl dacl;
    int32_t status = platform::GetKeyDacl(object, &dacl);
    if (status != 0 || !dacl.present()) return status;
    uint32_t count = 0;
    if ((status = dacl.GetAceCount(&count)) != 0) {
        TraceInfoText(Format(u"GetAclInformation Error %u\n", status));
        return status;
    }
    // Every entry of that identifier and those rights goes, so that duplicates left by an
    // appending merge do not keep the lock in place.
    for (uint32_t i = count; i-- > 0;) {
        platform::AccessEntry entry{};
        if (dacl.GetAce(i, &entry) == 0 && (entry.flags & kInheritedAce) == 0 && entry.sid == sid &&
            entry.mask == rights)
            dacl.DeleteAce(i);
    }
    if ((status = platform::SetKeyDacl(object, dacl)) != 0)
        TraceInfoText(Format(u"SetNamedSecurityInfo Error %u\n", status));
    return status;
}

}  // namespace vantel
