// The event-log plugin: binds the modern event-log library, subscribes to the channels (or, on
// systems without it, falls back to the classic readers) and translates records into named
// events; holds the state the translators share between records.
#pragma once
#include <atomic>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/system_helpers.h"
#include "eventlog/channel_subscription.h"
#include "eventlog/event_log_api.h"
#include "eventlog/event_values.h"
#include "eventlog/failed_logon_counts.h"
#include "monitors/history_record.h"
#include "monitors/legacy_reader.h"
#include "plugin/plugin_base.h"

namespace vantel {

class CNtEventLog : public PluginBase {
public:
    static constexpr PluginClass kClass = PluginClass::EventLog;
    static constexpr int32_t kPropertyProcessInfoProvider = 3;
    static constexpr int32_t kPropertyDesktopProduct = 5;

    CNtEventLog() : PluginBase(kClass), channels_(api_, runState(), this, &CNtEventLog::OnSubscriptionEvent) {}

    int32_t VANTEL_CALL Install() override;
    int32_t VANTEL_CALL Uninstall() override;
    int32_t VANTEL_CALL Initialize(IPluginHost* host) override;
    int32_t VANTEL_CALL Start() override;
    int32_t VANTEL_CALL Stop() override;
    int32_t VANTEL_CALL SetProperty(int32_t id, void* data) override;

    // Translators; each commits at most one named event. Callers hold the translation lock.
    void TranslateSecurityEvent(uint32_t eventId, const EventValues& values, uint64_t time);
    void TranslateSecurityEvent(uint32_t eventId, const LegacyEventRecord& record, uint64_t time);
    void TranslateSystemEvent(uint32_t eventId, const EventValues& values, uint64_t time);
    void TranslateSystemEvent(uint32_t eventId, const LegacyEventRecord& record, uint64_t time);
    void TranslateAppLockerEvent(uint32_t eventId, const EventValues& values, uint64_t time);
    void TranslateFirewallEvent(uint32_t eventId, const EventValues& values, uint64_t time, const std::u16string& xml);
    void TranslateCodeIntegrityEvent(uint32_t eventId, const EventValues& values, uint64_t time);
    void TranslateCapi2Event(uint32_t eventId, const std::u16string& xml, uint64_t time);

    // Answers the server's request for the history of one channel with the records newer than
    // the channel's refresh mark, or those of the last days when days are given, newest first,
    // in batches of items of the reply.
    void ReFresh(const std::u16string& channel, bool errorsOnly, const std::u16string& days);

    // Switches the audit of logon, object access and account management on or off.
    bool SetAuditPolicy(bool enable);

    const EventLogApi& api() const { return api_; }
    std::recursive_mutex& translationLock() { return translationLock_; }
    IProcessInfoProvider* processInfoProvider() const { return processInfoProvider_.load(); }
    bool desktopProduct() const { return registryVariant_ != 0; }
    const std::u16string& configurationKey() const { return configurationKey_; }
    const std::u16string& serviceHostPath() const { return serviceHostPath_; }

    // The subscription work item, its callback and the per-record handling.
    static void SubscribeChannels(void* instance);
    static uint32_t VANTEL_WINAPI OnSubscriptionEvent(uint32_t action, void* instance, evt::Handle event);
    uint32_t HandleEventRecord(evt::Handle event);

    // The classic readers of systems without the modern interface: one long-running work item
    // per channel watches it, translating what is written, and rescans it when its file changed.
    static void LegacyChannelWorker(void* context);
    // 0, 21 (stop requested), 1503 (the log file changed) or another Windows error. The run is
    // the Start that queued the worker.
    uint32_t WatchLegacyChannel(const std::u16string& channel, uint32_t run);
    bool RescanLegacyChannel(const std::u16string& channel);
    // Translates every record written since the handle's position, under the translation lock.
    int32_t DumpNewRecords(platform::LegacyEventLog& log);
    bool LegacySlotOpen(const std::u16string& channel) {
        return legacyReaders_.Open(LegacyReaderSlots::SlotOf(channel));
    }

private:
    // The history readers, over the modern query interface and over the classic records; they
    // fill the history list and answer false when the channel cannot be read.
    bool GetEvtLog2(const std::u16string& channel, bool errorsOnly, bool* markFound, const std::u16string& days);
    bool GetEvtLog(const std::u16string& channel, bool errorsOnly, bool* markFound, const std::u16string& days);
    void BeforeDestroy() override;
    // Queues the readers of the run begun for this Start.
    void StartLegacyReaders(uint32_t run);
    bool LegacyReaderStopped(uint32_t run) const;
    // Hands a classic record to its translator when its identifier is one of the ids given for
    // the Security log, or 7036.
    void TranslateLegacyRecord(const LegacyEventRecord& record, std::initializer_list<uint32_t> securityIds);
    // The share, task and attack monitors; each one's watcher leaves at once.
    void StopMonitors();
    void TranslateModernLogon(uint32_t eventId, const EventValues& values, uint64_t time);
    void TranslateLegacyLogon(uint32_t eventId, const LegacyEventRecord& record, uint64_t time);
    // False for a scheduled task in an excluded folder, which gives no record at all.
    bool TranslateModernAccountEvent(uint32_t eventId, const EventValues& values, uint64_t time);
    void TranslateLegacyAccountEvent(uint32_t eventId, const LegacyEventRecord& record, uint64_t time);
    void TranslateServiceInstall(const EventValues& values);
    void TranslateServiceStateChange(const EventValues& values);
    struct ServiceStateChange {
        std::u16string_view displayName, stateText, serviceName;  // read while the record's values last
        std::optional<uint32_t> state;  // from the modern record's "name/N"; none: the state words decide
    };
    // Services seen starting are kept under runningKey: the service name, or before Vista, whose
    // records carry none, the display name.
    void ReportServiceStateChange(const ServiceStateChange& change, const ServiceInfo& info,
                                  const std::u16string& runningKey);

    EventLogApi api_;
    std::recursive_mutex translationLock_;
    ChannelSubscription channels_;
    std::u16string currentComputerName_;
    std::atomic<IProcessInfoProvider*> processInfoProvider_{nullptr};  // set by the host while records arrive
    IPluginHost* host_ = nullptr;  // from Initialize, for the named-event worker
    std::map<std::u16string, ServiceInfo> runningServices_;  // services seen starting, by runningKey
    FailedLogonCounts failedLogonCounts_;
    int32_t registryVariant_ = 0;
    std::u16string configurationKey_;
    std::u16string serviceHostPath_;
    LegacyReaderSlots legacyReaders_;
    std::vector<HistoryRecord> historyRecords_;  // newest first, while a refresh runs
};

}  // namespace vantel
