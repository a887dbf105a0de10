#include "monitors/share_monitor.h"

#include <algorithm>

#include "monitors/named_event_log.h"
#include "monitors/share_security.h"
#include "platform/registry.h"
#include "platform/shares.h"
#include "plugin/run_state.h"
#include "plugin/singleton.h"
#include "plugin/trace.h"

namespace vantel {

namespace {

constexpr char16_t kSharesKey[] = u"System\\CurrentControlSet\\Services\\LanmanServer\\Shares";

bool Contains(const std::vector<ShareRecord>& shares, const ShareRecord& share) {
    return std::find(shares.begin(), shares.end(), share) != shares.end();
}

bool ContainsName(const std::vector<ShareRecord>& shares, const std::u16string& name) {
    return std::any_of(shares.begin(), shares.end(), [&](const ShareRecord& share) { return share.name == name; });
}

// Starts a named event about a share: its name and the empty user name every one carries.
CSpecialLog& ReportOn(const char16_t* eventName, const ShareRecord& share) {
    CSpecialLog& log = LL_singleton<CSpecialLog>::Instance();
    log.SetField(u"EventName", eventName);
    log.SetField(u"user_name", u"");
    log.SetField(u"share_name", share.name);
    return log;
}

void ReportAdd(const ShareRecord& share) {
    CSpecialLog& log = ReportOn(u"NetShareAdd", share);
    log.SetField(u"share_path", share.path);
    log.SetField(u"Remark", share.remark);
    log.SetNumber(u"ShareMaxCount", share.maxUses);
    log.Commit();
}

void ReportSecurityModify(const ShareRecord& share) {
    CSpecialLog& log = ReportOn(u"NetShareSecurityModify", share);
    log.SetField(u"share_security", share.security);
    log.Commit();
}

}  // namespace

bool CShareMonitor::TakeSnapshot(std::vector<ShareRecord>* shares) {
    shares->clear();
    uint32_t resume = 0;
    int32_t status = platform::kErrorSuccess;
    do {
        std::optional<std::vector<platform::ShareInfo502>> page;
        status = platform::NetShareEnum502(platform::kMaxPreferredLength, &resume, &page);
        if (!page) {
            TraceError(u"[ShareMonitor] NetShareEnum %d", status);
            return false;
        }
        for (const platform::ShareInfo502& info : *page) {
            ShareRecord share{info.maxUses, info.path,   info.permissions,
                              info.netname, info.type,   info.remark,
                              SharePermissionText(info.dacl, u"[ShareMonitor]")};
            TraceInfoText(Format(u"[ShareMonitor] ShareName:%s,ShareSecurity:%s\n", share.name, share.security));
            if (share.name.find(u'$') != std::u16string::npos) continue;  // administrative and hidden shares
            TraceInfo(u"[ShareMonitor] NetShareEnum share name=%s, path=%s", share.name, share.path);
            shares->push_back(std::move(share));
        }
    } while (status == platform::kErrorMoreData);
    return true;
}

bool CShareMonitor::StartMonitor() {
    TraceInfo(u"[ShareMonitor] StartMonitor");
    stop_.exchange(0);
    std::vector<ShareRecord> shares;
    if (!TakeSnapshot(&shares)) return false;
    {
        std::lock_guard guard(snapshotLock_);
        snapshot_ = std::move(shares);
    }
    // Counted as the plugin's work from now, so that the host's wait for an idle plugin also
    // covers a watcher that has not begun yet.
    return watchers_.Queue([](void* self) { static_cast<CShareMonitor*>(self)->Watch(); }, this,
                           RunStateOf(u"EventLog"), u"[ShareMonitor]");
}

void CShareMonitor::StopMonitor() {
    TraceInfo(u"[ShareMonitor] StopMonitor");
    stop_.exchange(1);
    notification_.Set();
}

void CShareMonitor::Watch() {
    std::lock_guard life(lock_);
    platform::RegKey key;
    if (int32_t error = platform::OpenRegKey(platform::RegRoot::LocalMachine, kSharesKey, platform::kKeyRead, &key)) {
        TraceError(u"[ShareMonitor] RegOpenKeyEx %d", error);
        return;
    }
    auto arm = [&] {
        return platform::RegNotifyChangeKeyValue(key, true, platform::kRegNotifyChangeLastSet, &notification_, true);
    };
    bool changed = false;
    for (;;) {
        // Reset before the flag is read: a StopMonitor after the read signals it again.
        notification_.Reset();
        if (stop_) break;
        if (int32_t error = arm()) {
            TraceError(u"[ShareMonitor] RegNotifyChangeKeyValue %d", error);
            break;
        }
        if (notification_.Wait(0) == platform::WaitResult::Signaled && arm() != platform::kErrorSuccess) break;
        // Compared after arming: a change during the comparison then wakes the next wait
        // instead of going unseen until another one comes.
        if (changed) Compare();
        if (notification_.Wait(platform::kInfinite) != platform::WaitResult::Signaled) continue;
        TraceInfo(u"[ShareMonitor] RegChange");
        if (stop_) {
            TraceInfo(u"[ShareMonitor] WaitForSingleObject stop");
            break;
        }
        changed = true;
    }
}

void CShareMonitor::Compare() {
    std::vector<ShareRecord> fresh;
    // A list that cannot be read says nothing about the shares: every one would look deleted.
    if (!TakeSnapshot(&fresh)) return;
    std::vector<ShareRecord> old;
    {
        std::lock_guard guard(snapshotLock_);
        old = std::move(snapshot_);
        snapshot_ = fresh;
    }
    if (fresh.size() == old.size()) {
        for (const ShareRecord& share : fresh)
            if (!Contains(old, share)) {
                TraceInfoText(Format(u"[ShareMonitor] Found ModifyShare---------- %s\n", share.name));
                ReportSecurityModify(share);
            }
    } else if (fresh.size() > old.size()) {
        // Only shares whose names are new were added; an old share that changed too is no add.
        for (const ShareRecord& share : fresh)
            if (!ContainsName(old, share.name)) {
                TraceInfoText(Format(u"[ShareMonitor] Found New Share---------- %s\n", share.name));
                ReportAdd(share);
            }
    } else {
        for (const ShareRecord& share : old)
            if (!ContainsName(fresh, share.name)) {
                TraceInfoText(Format(u"[ShareMonitor] Found delete Share---------- %s\n", share.name));
                ReportOn(u"NetShareDelete", share).Commit();
            }
    }
}

}  // namespace vantel
