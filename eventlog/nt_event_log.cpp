#include "eventlog/nt_event_log.h"

#include "common/path.h"
#include "monitors/attack_monitor.h"
#include "monitors/named_event_log.h"
#include "monitors/share_monitor.h"
#include "monitors/task_monitor.h"
#include "platform/files.h"
#include "platform/lsa.h"
#include "platform/registry.h"
#include "plugin/boundary.h"
#include "plugin/host_link.h"
#include "plugin/module_lifetime.h"
#include "plugin/singleton.h"

namespace vantel {

namespace {

constexpr char16_t kCapi2ChannelKey[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WINEVT\\Channels\\Microsoft-Windows-CAPI2/Operational";
constexpr int32_t kStatusInvalidParameter = static_cast<int32_t>(0xC000000D);
constexpr size_t kMaxPath = 260;
// How long Destroy waits for the classic readers, which leave within one wake-up once signalled.
constexpr uint32_t kLegacyReadersExitMs = 5000;
// How long Destroy waits for each change monitor's watcher, which Stop has woken.
constexpr uint32_t kWatcherEndMs = 5000;

enum AuditCategory { kAuditLogon = 1, kAuditObjectAccess = 2, kAuditAccountManagement = 6 };

}  // namespace

int32_t CNtEventLog::Install() {
    return AtBoundary(u"[CNtEventLog] Install", 0, [&] {
        TraceInfo(u"[CNtEventLog] Install");
        SetAuditPolicy(true);
        platform::RegWriteDword(platform::RegRoot::LocalMachine, kCapi2ChannelKey, u"Enabled", 1);
        return 0;
    });
}

int32_t CNtEventLog::Uninstall() {
    return AtBoundary(u"[CNtEventLog] Uninstall", 0, [&] {
        TraceInfo(u"[CNtEventLog] Uninstall");
        return 0;
    });
}

int32_t CNtEventLog::Initialize(IPluginHost* host) {
    return AtBoundary(u"[CNtEventLog] Initialize", 0, [&] {
        if (initialised_) return 0;
        TraceInfo(u"[CNtEventLog] init");
        api_.Bind();
        host_ = host;
        LL_singleton<CSpecialLog>::Instance().Start(host, u"QorExtHost", u"EventLog");
        PluginHostLink::For(pluginName())->Register(host);
        configurationKey_ = registryVariant_ == 0 ? u"SOFTWARE\\QorEntSecurity\\EventLog"
                                                  : u"SOFTWARE\\Brisel\\QorEntSecurity\\EventLog";
        std::u16string systemDirectory = platform::SystemDirectory();
        if (systemDirectory.size() <= kMaxPath) serviceHostPath_ = PathAppend(systemDirectory, u"svchost.exe");
        initialised_ = true;
        return 0;
    });
}

int32_t CNtEventLog::Start() {
    return AtBoundary(u"[CNtEventLog] Start", 0, [&] {
        TraceInfo(u"[CNtEventLog] Start");
        // The run begins before the stop is called off: a reader of an earlier run that wakes in
        // between would otherwise find neither and go back to waiting beside the new ones.
        const uint32_t run = legacyReaders_.BeginRun();
        runState().stopped.exchange(0);
        // A worker that could not start at Initialize gets another chance; a running one carries on.
        if (host_ != nullptr) LL_singleton<CSpecialLog>::Instance().Start(host_, u"QorExtHost", u"EventLog");
        if (api_.CanSubscribe()) {
            // Counted as running until it has subscribed, so that the host's wait for an idle
            // plugin before Destroy also covers it.
            ++runState().running;
            if (!QueueModuleWork(&CNtEventLog::SubscribeChannels, this)) --runState().running;
        } else {
            StartLegacyReaders(run);
            LL_singleton<CShareMonitor>::Instance().StartMonitor();
            LL_singleton<CTaskMonitor>::Instance().StartMonitor();
        }
        LL_singleton<CAttackMonitor>::Instance().StartMonitor(configurationKey_);
        return 0;
    });
}

int32_t CNtEventLog::Stop() {
    return AtBoundary(u"[CNtEventLog] Stop", 0, [&] {
        TraceInfo(u"[CNtEventLog] Stop");
        runState().stopped.exchange(1);
        channels_.Close();
        legacyReaders_.SignalAll();
        StopMonitors();
        return 0;
    });
}

int32_t CNtEventLog::SetProperty(int32_t id, void* data) {
    return AtBoundary(u"[CNtEventLog] SetProperty", 0, [&] {
        TraceInfo(u"[CNtEventLog] SetProperty %d", id);
        if (id == kPropertyProcessInfoProvider && data != nullptr)
            processInfoProvider_ = static_cast<IProcessInfoProvider**>(data)[2];
        else if (id == kPropertyDesktopProduct)
            registryVariant_ = 1;
        return 0;
    });
}

void CNtEventLog::BeforeDestroy() {
    channels_.CloseAndWait();  // no callback or retry may reach a destroyed object
    // Nor a classic reader or a monitor's watcher: told to stop as Stop does, each leaves at its
    // next wake-up.
    runState().stopped.exchange(1);
    legacyReaders_.SignalAll();
    StopMonitors();
    if (!legacyReaders_.WaitIdle(kLegacyReadersExitMs))
        TraceError(u"[CNtEventLog] the classic readers did not end within %u ms", kLegacyReadersExitMs);
    bool ended = LL_singleton<CShareMonitor>::Instance().WaitForWatcher(kWatcherEndMs);
    ended &= LL_singleton<CTaskMonitor>::Instance().WaitForWatcher(kWatcherEndMs);
    ended &= LL_singleton<CAttackMonitor>::Instance().WaitForWatcher(kWatcherEndMs);
    if (!ended) TraceError(u"[CNtEventLog] a change monitor's watcher has not ended");
    api_.Release();
    // What was committed reaches the host before the plugin is gone (or the next Start takes
    // over a worker still delivering).
    LL_singleton<CSpecialLog>::Instance().Stop(kReleaseWaitMs);
}

void CNtEventLog::StopMonitors() {
    LL_singleton<CShareMonitor>::Instance().StopMonitor();
    LL_singleton<CTaskMonitor>::Instance().StopMonitor();
    LL_singleton<CAttackMonitor>::Instance().StopMonitor();
}

bool CNtEventLog::SetAuditPolicy(bool enable) {
    platform::LsaPolicy policy;
    if (int32_t status = policy.Open(platform::kPolicyViewAuditInformation | platform::kPolicySetAuditRequirements)) {
        TraceError(u"[CNtEventLog] LsaOpenPolicy %x]", status);
        return false;
    }
    platform::AuditEventsInfo info;
    if (int32_t status = policy.QueryAuditEvents(&info)) {
        TraceError(u"[CNtEventLog] LsaQueryInformationPolicy %x]", status);
        return false;
    }
    if (info.options.empty()) {
        TraceError(u"[CNtEventLog] STATUS_INVALID_PARAMETER %x", kStatusInvalidParameter);
        return false;
    }
    for (uint32_t& option : info.options) option = platform::kAuditOptionUnchanged;
    uint32_t wanted = enable ? platform::kAuditOptionSuccessAndFailure : platform::kAuditOptionNone;
    for (size_t category : {kAuditLogon, kAuditObjectAccess, kAuditAccountManagement})
        if (category < info.options.size()) info.options[category] = wanted;
    info.auditingMode = enable;
    return policy.SetAuditEvents(info) == 0;
}


}  // namespace vantel
