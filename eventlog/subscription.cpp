// The live subscription to the six channels and the routing of each record to its translator.
#include "eventlog/nt_event_log.h"
#include "eventlog/rendering.h"
#include "monitors/named_event_log.h"
#include "platform/library.h"
#include "plugin/boundary.h"
#include "plugin/singleton.h"

namespace vantel {

namespace {

// One line as the service takes it; a tab and two blanks stand before the second Security select.
constexpr char16_t kSubscriptionQuery[] =
    u"<QueryList>  <Query Id='0'>    <Select Path='Security'>*[System[(EventID=4624 or EventID=4648 or "
    u"EventID=4625 or EventID=4647 or EventID=4720 or EventID=4723 or EventID=4724 or EventID=4726 or "
    u"EventID=4740 or EventID=4732 or EventID=4738 or EventID=5136 or EventID=5137 or EventID=5138 or "
    u"EventID=5139 or EventID=5141 or EventID=1102 or EventID=4702 or EventID=4698 or EventID=4699 or "
    u"EventID=5142 or EventID=5143 or EventID=5144)]]</Select>    <Select Path='System'>*[System[(EventID=7036 "
    u"or EventID=7045 or EventID=104)]]</Select>    <Select Path='Microsoft-Windows-AppLocker/EXE and "
    u"DLL'>*[System[(EventID=8004)]]</Select>    <Select Path='Microsoft-Windows-Windows Firewall With Advanced "
    u"Security/Firewall'>*[System[(EventID=2003 or EventID=2004 or EventID=2005 or EventID=2006)]]</Select>    "
    u"<Select Path='Microsoft-Windows-CAPI2/Operational'>*[System[(EventID=81)]]</Select>    <Select "
    u"Path='Microsoft-Windows-CodeIntegrity/Operational'>*[System[(EventID=3033)]]</Select>\t  <Select "
    u"Path='Security'>*[System[(EventID=4697)]]</Select>  </Query></QueryList>";
static_assert(sizeof(kSubscriptionQuery) / sizeof(char16_t) - 1 == 1060, "the query is 1,060 characters");

constexpr uint32_t kErrorNotReady = 21;

constexpr char16_t kChannelSecurity[] = u"Security";
constexpr char16_t kChannelSystem[] = u"System";
constexpr char16_t kChannelAppLocker[] = u"Microsoft-Windows-AppLocker/EXE and DLL";
constexpr char16_t kChannelFirewall[] = u"Microsoft-Windows-Windows Firewall With Advanced Security/Firewall";
constexpr char16_t kChannelCapi2[] = u"Microsoft-Windows-CAPI2/Operational";
constexpr char16_t kChannelCodeIntegrity[] = u"Microsoft-Windows-CodeIntegrity/Operational";

}  // namespace

void CNtEventLog::SubscribeChannels(void* instance) {
    AtBoundary(u"[CNtEventLog] SubscribeChannels", [instance] {
        auto* self = static_cast<CNtEventLog*>(instance);
        if (self == nullptr) return;
        struct Done {
            PluginRunState& state;
            ~Done() { --state.running; }
        } done{self->runState()};
        std::lock_guard guard(self->subscriptionLock_);
        // A Stop that came first wins: no subscription outlives it.
        if (self->runState().stopped) return;
        if (self->subscription_ != nullptr) {
            self->api_.close(self->subscription_);
            self->subscription_ = nullptr;
        }
        self->subscription_ = self->api_.subscribe(nullptr, nullptr, ToWide(kChannelSystem), ToWide(kSubscriptionQuery),
                                                   nullptr, self, &CNtEventLog::OnSubscriptionEvent,
                                                   evt::kSubscribeToFutureEvents);
        if (self->subscription_ != nullptr) return;
        uint32_t error = platform::LastError();
        if (error == evt::kErrorChannelNotFound)
            TraceError(u"[CNtEventLog] Channel %s was not found.", kChannelSystem);
        else if (error == evt::kErrorInvalidQuery)
            TraceError(u"[CNtEventLog] The query \"%s\" is not valid.", kSubscriptionQuery);
        else
            TraceError(u"[CNtEventLog] EvtSubscribe failed with %lu.", error);
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
    std::u16string channel = system.Text(evt::kSystemChannel);

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
