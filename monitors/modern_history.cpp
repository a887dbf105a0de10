// History entries from modern records: their system values, the user, and the task and message
// texts from the publisher's metadata, or the record's own values joined when it has none.
#include <optional>
#include <string>

#include "common/format.h"
#include "common/text.h"
#include "eventlog/rendering.h"
#include "monitors/history_readers.h"
#include "platform/accounts.h"
#include "platform/library.h"
#include "platform/threads.h"
#include "plugin/trace.h"

namespace vantel {

namespace {

constexpr uint32_t kEventsPerNext = 10;
constexpr uint32_t kErrorMessageIdNotFound = 15028;

// "domain\name" of the record's user; empty without one or when it cannot be resolved.
std::u16string UserOf(const EventValues& system) {
    std::optional<platform::Sid> sid = system.SidBytes(evt::kSystemUserID);
    // A SID without sub-authorities names nobody.
    if (!sid || (*sid)[1] == 0) return {};
    std::u16string name, domain;
    if (int32_t error = platform::LookupAccountNameOfSid(*sid, &name, &domain)) {
        TraceError(u"[CNtEventLog] LookupAccountSid %d", error);
        return {};
    }
    return domain + u"\\" + name;
}

// The publisher's text of the event for the flags (its message, or its task's name); empty when
// the publisher has none.
std::u16string FormatEventMessage(const EventLogApi& api, evt::Handle metadata, evt::Handle event, uint32_t flags) {
    uint32_t used = 0;
    if (api.formatMessage(metadata, event, 0, 0, nullptr, flags, 0, nullptr, &used)) return {};
    uint32_t error = platform::LastError();
    if (error == evt::kErrorInsufficientBuffer) {
        std::u16string text;
        try {
            text.resize(used);
        } catch (const std::bad_alloc&) {
            TraceErrorText(u"[EventLog] malloc failed\n");
            return {};
        }
        if (api.formatMessage(metadata, event, 0, 0, nullptr, flags, used, reinterpret_cast<WChar*>(text.data()), &used)) {
            text.resize(std::char_traits<char16_t>::length(text.c_str()));
            return text;
        }
        error = platform::LastError();
    }
    if (error != evt::kErrorMessageNotFound && error != kErrorMessageIdNotFound)
        TraceErrorText(Format(u"[EventLog] EvtFormatMessage failed with %u\n", error));
    return {};
}

// The event's own values, each followed by a line break: unsigned 32-bit numbers in decimal,
// strings as they are, any other value as nothing.
std::u16string JoinedValues(const EventLogApi& api, evt::Handle event) {
    std::optional<RenderedValues> rendered = RenderEventValues(api, event, evt::kRenderContextUser);
    if (!rendered) return {};
    EventValues values = rendered->values();
    std::u16string text;
    for (uint32_t i = 0; i < values.count(); ++i) {
        uint32_t type = values.At(i)->type;
        if (type == evt::kTypeUInt32) text += Format(u"%d", static_cast<int32_t>(values.UInt32(i)));
        else if (type == evt::kTypeString) text += values.Text(i);
        text += u"\r\n";
    }
    return text;
}

void AppendModernRecord(const EventLogApi& api, evt::Handle event, MessageSources& sources,
                        std::vector<HistoryRecord>* history) {
    std::optional<RenderedValues> rendered = RenderEventValues(api, event, evt::kRenderContextSystem);
    if (!rendered) return;
    EventValues system = rendered->values();
    if (system.count() < evt::kSystemPropertyCount) return;
    HistoryRecord entry;
    entry.SourceName = system.Text(evt::kSystemProviderName);
    entry.EventID = system.UInt16(evt::kSystemEventID);
    entry.EventType = LevelName(LevelTable::Modern, system.Byte(evt::kSystemLevel));
    entry.Channel = system.Text(evt::kSystemChannel);
    entry.TimeGenerated = EventTimeSeconds(system.FileTime(evt::kSystemTimeCreated));
    entry.UserName = UserOf(system);
    if (std::shared_ptr<void> metadata = sources.PublisherMetadata(entry.SourceName)) {
        if (system.UInt16(evt::kSystemTask) != 0)
            entry.EventCategory = FormatEventMessage(api, metadata.get(), event, evt::kFormatMessageTask);
        entry.Description = FormatEventMessage(api, metadata.get(), event, evt::kFormatMessageEvent);
    }
    if (entry.Description.empty()) entry.Description = JoinedValues(api, event);
    history->push_back(std::move(entry));
}

}  // namespace

bool ReadModernHistory(const EventLogApi& api, const std::u16string& channel, const std::u16string& query,
                       MessageSources& sources, const std::atomic<int32_t>& stopped,
                       std::vector<HistoryRecord>* history) {
    EvtHandle results(api, api.query(nullptr, ToWide(channel), ToWide(query),
                                     evt::kQueryChannelPath | evt::kQueryReverseDirection));
    if (results.get() == nullptr) {
        TraceError(u"[CNtEventLog] EvtQuery failed with %lu, channel=%s", platform::LastError(), channel);
        return false;
    }
    while (!stopped) {
        evt::Handle events[kEventsPerNext] = {};
        uint32_t returned = 0;
        if (!api.next(results.get(), kEventsPerNext, events, platform::kInfinite, 0, &returned)) {
            // The end of the results comes this way too.
            TraceError(u"[CNtEventLog] EvtNext failed: err=%lu, channel=%s", platform::LastError(), channel);
            break;
        }
        std::optional<EvtHandle> owned[kEventsPerNext];
        for (uint32_t i = 0; i < returned && i < kEventsPerNext; ++i) owned[i].emplace(api, events[i]);
        for (uint32_t i = 0; i < returned && i < kEventsPerNext; ++i)
            AppendModernRecord(api, owned[i]->get(), sources, history);
    }
    return true;
}

}  // namespace vantel
