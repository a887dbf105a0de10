// The live subscription to the six channels and the routing of each record to its translator.
#include "eventlog/channel_subscription.h"
#include "eventlog/nt_event_log.h"
#include "eventlog/rendering.h"
#include "monitors/named_event_log.h"
#include "platform/library.h"
#include "plugin/boundary.h"
#include "plugin/singleton.h"

namespace vantel {

namespace {

constexpr uint32_t kErrorNotReady = 21;

}  // namespace

void CNtEventLog::SubscribeChannels(void* instance) {
    AtBoundary(u"[CNtEventLog] SubscribeChannels", [instance] {
        auto* self = static_cast<CNtEventLog*>(instance);
        if (self == nullptr) return;
        struct Done {
            PluginRunState& state;
            ~Done() { --state.running; }
        } done{self->runState()};
        self->channels_.Open();
    });
}

uint32_t CNtEventLog::OnSubscriptionEvent(uint32_t action, void* instance, evt::Handle event) {
    return AtBoundary(u"[CNtEventLog] OnSubscriptionEvent", 0u, [&]() -> uint32_t {
        auto* self = static_cast<CNtEventLog*>(instance);
        if (action == evt::kActionError) {
            auto error = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(event));
            if (error == evt::kErrorQueryResultStale)
                TraceError(u"[CNtEventLog] The subscription callback was notified that event records are missing.");
            else
                TraceError(u"[CNtEventLog] The subscription callback received the following Win32 error: %lu", error);
            if (self != nullptr) self->channels_.Failed(error);
            return 0;
        }
        if (action != evt::kActionDeliver || self == nullptr) return 0;
        std::lock_guard guard(self->translationLock_);
        return self->HandleEventRecord(event);
    });
}

uint32_t CNtEventLog::HandleEventRecord(evt::Handle event) {
    if (runState().stopped) return kErrorNotReady;
    std::optional<RenderedValues> renderedSystem = RenderEventValues(api_, event, evt::kRenderContextSystem);
    if (!renderedSystem) return 0;
    EventValues system = renderedSystem->values();
    if (system.count() < evt::kSystemPropertyCount) return 0;
    uint32_t eventId = system.UInt16(evt::kSystemEventID);
    uint64_t time = EventTimeSeconds(system.FileTime(evt::kSystemTimeCreated));
    currentComputerName_ = system.Text(evt::kSystemComputer);
    std::u16string_view channel = system.Text(evt::kSystemChannel);
    channels_.Handled(channel, system.UInt64(evt::kSystemEventRecordId));

    CSpecialLog& specialLog = LL_singleton<CSpecialLog>::Instance();
    specialLog.SetNumber(u"event_id", eventId);

    if (channel == kChannelCapi2) {
        if (std::optional<std::u16string> xml = RenderEventXml(api_, event)) TranslateCapi2Event(eventId, *xml, time);
    }
    std::optional<RenderedValues> user = RenderEventValues(api_, event, evt::kRenderContextUser);
    if (!user) {
        TraceErrorText(u"[CNtEventLog] pRenderedUserValues failed\n");
        return 0;
    }
    EventValues values = user->values();
    if (channel == kChannelSystem) {
        TranslateSystemEvent(eventId, values, time);
    } else if (channel == kChannelSecurity) {
        TranslateSecurityEvent(eventId, values, time);
    } else if (channel == kChannelAppLocker) {
        if (values.count() >= 11) TranslateAppLockerEvent(eventId, values, time);
    } else if (channel == kChannelFirewall) {
        if (std::optional<std::u16string> xml = RenderEventXml(api_, event))
            TranslateFirewallEvent(eventId, values, time, *xml);
    } else if (channel == kChannelCodeIntegrity) {
        TranslateCodeIntegrityEvent(eventId, values, time);
    }
    return 0;
}

}  // namespace vantel
