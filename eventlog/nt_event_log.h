// The event-log plugin: binds the modern event-log library, subscribes to the channels (or, on
// systems without it, falls back to the classic readers) and translates records into named
// events; holds the state the translators share between records.
#pragma once
#include <map>
#include <mutex>
#include <string>

#include "common/system_helpers.h"
#include "eventlog/event_log_api.h"
#include "eventlog/event_values.h"
#include "eventlog/failed_logon_counts.h"
#include "plugin/plugin_base.h"

namespace vantel {

class CNtEventLog : public PluginBase {
public:
    static constexpr PluginClass kClass = PluginClass::EventLog;
    static constexpr int32_t kPropertyProcessInfoProvider = 3;
    static constexpr int32_t kPropertyDesktopProduct = 5;

    CNtEventLog() : PluginBase(kClass) {}

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
    void TranslateAppLockerEvent(uint32_t eventId, const EventValues& values, uint64_t time);
    void TranslateFirewallEvent(uint32_t eventId, const EventValues& values, uint64_t time, const std::u16string& xml);
    void TranslateCodeIntegrityEvent(uint32_t eventId, const EventValues& values, uint64_t time);
    void TranslateCapi2Event(uint32_t eventId, const std::u16string& xml, uint64_t time);

    // Answers the server's request for the event history; the history reader comes later, so
    // for now it only says so and sends no reply.
    void ReFresh(const std::u16string& freshList, bool all, const std::u16string& lastDays);

    // Switches the audit of logon, object access and account management on or off.
    bool SetAuditPolicy(bool enable);

    const EventLogApi& api() const { return api_; }
    std::recursive_mutex& translationLock() { return translationLock_; }
    IProcessInfoProvider* processInfoProvider() const { return processInfoProvider_; }
    bool desktopProduct() const { return registryVariant_ != 0; }
    const std::u16string& configurationKey() const { return configurationKey_; }
    const std::u16string& serviceHostPath() const { return serviceHostPath_; }

    // The subscription work item, its callback and the per-record handling.
    static void SubscribeChannels(void* instance);
    static uint32_t VANTEL_WINAPI OnSubscriptionEvent(uint32_t action, void* instance, evt::Handle event);
    uint32_t HandleEventRecord(evt::Handle event);

private:
    void BeforeDestroy() override;
    void CloseSubscription();
    void TranslateModernLogon(uint32_t eventId, const EventValues& values, uint64_t time);
    void TranslateLegacyLogon(uint32_t eventId, const LegacyEventRecord& record, uint64_t time);
    // False for a scheduled task in an excluded folder, which gives no record at all.
    bool TranslateModernAccountEvent(uint32_t eventId, const EventValues& values, uint64_t time);
    void TranslateLegacyAccountEvent(uint32_t eventId, const LegacyEventRecord& record, uint64_t time);
    void TranslateServiceInstall(const EventValues& values);
    void TranslateServiceStateChange(const EventValues& values);

    EventLogApi api_;
    std::recursive_mutex translationLock_;
    std::mutex subscriptionLock_;  // guards the handle between Start's work item and Stop
    evt::Handle subscription_ = nullptr;
    std::u16string currentComputerName_;
    IProcessInfoProvider* processInfoProvider_ = nullptr;
    std::map<std::u16string, ServiceInfo> runningServices_;  // services seen starting, by name
    FailedLogonCounts failedLogonCounts_;
    int32_t registryVariant_ = 0;
    std::u16string configurationKey_;
    std::u16string serviceHostPath_;
};

}  // namespace vantel
