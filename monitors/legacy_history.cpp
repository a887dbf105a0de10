// History entries from classic records: the user, the level word, and the category and message
// texts from the message file the record's source registered.
#include <new>

#include "common/format.h"
#include "common/text.h"
#include "eventlog/event_values.h"
#include "monitors/history_readers.h"
#include "monitors/legacy_reader.h"
#include "platform/accounts.h"
#include "platform/legacy_eventlog.h"
#include "platform/library.h"
#include "platform/registry.h"
#include "plugin/trace.h"

namespace vantel {

namespace {

constexpr size_t kMaxPath = 260;
constexpr uint16_t kEventTypeError = 1;
// FormatMessage reads as many arguments as the message refers to, up to %99: a record with fewer
// insertion strings than its message expects gets empty ones, never a read past its list.
constexpr size_t kMostInserts = 99;

std::u16string UserOf(const LegacyEventRecord& record) {
    if (record.userSid.empty()) return {};
    std::u16string name, domain;
    int32_t error = platform::LookupAccountNameOfSid(record.userSid, &name, &domain);
    if (error) {
        TraceError(u"CNtEventLog LookupAccountSid %d", error);
        return {};
    }
    TraceInfo(u"CNtEventLog LookupAccountSid %d", error);
    return domain + u"\\" + name;
}

// The record's data read as a zero-terminated UTF-16 string.
std::u16string DataText(const std::vector<uint8_t>& data) {
    std::u16string text;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c == 0) break;
        text += c;
    }
    return text;
}

}  // namespace

std::u16string GetEventMessageFile(const std::u16string& channel, const std::u16string& source) {
    std::u16string path;
    std::u16string key;
    for (const char16_t* form : {u"SYSTEM\\CurrentControlSet\\services\\eventlog\\%s\\%s",
                                 u"SYSTEM\\CurrentControlSet\\services\\eventlog\\%s\\Microsoft-Windows-%s"}) {
        key = Format(form, channel, source);
        if (platform::ShGetTextValue(platform::RegRoot::LocalMachine, key, u"EventMessageFile", &path) == 0) break;
        path.clear();
    }
    if (path.empty()) {
        TraceError(u"[CNtEventLog] GetEventMessageFile %s ", key);
        path = Format(EqualsIgnoreCase(source, u"HHCTRL") ? u"C:\\windows\\system32\\%s.ocx"
                                                           : u"C:\\windows\\system32\\%s.dll",
                      source);
    }
    size_t separator = path.find(u';');
    if (separator != std::u16string::npos) path.erase(0, separator + 1);
    if (path.size() > kMaxPath) path.resize(kMaxPath);
    return path;
}

std::optional<std::u16string> GetMessageString(uint32_t messageId, const std::vector<std::u16string>& inserts,
                                               const std::u16string& messageFile, MessageSources& sources) {
    std::shared_ptr<void> module = sources.MessageModule(messageFile);
    if (!module) return std::nullopt;
    std::vector<std::u16string> arguments;
    bool withInserts = true;
    try {
        arguments = inserts;
        if (!arguments.empty() && arguments.size() < kMostInserts) arguments.resize(kMostInserts);
    } catch (const std::bad_alloc&) {
        TraceErrorText(u"[CNtEventLog] Failed to allocate memory for the insert string array.\n");
        withInserts = false;
    }
    std::u16string text;
    if (int32_t error = platform::FormatMessageFromLibrary(module.get(), messageId, withInserts ? &arguments : nullptr,
                                                           &text)) {
        TraceErrorText(Format(u"[CNtEventLog] Format message failed with %lu\n", error));
        return std::nullopt;
    }
    return text;
}

size_t CollectLegacyRecords(std::span<const uint8_t> buffer, const std::u16string& channel, uint64_t cutOff,
                            bool errorsOnly, MessageSources& sources, std::vector<HistoryRecord>* history) {
    size_t appended = 0;
    ForEachLegacyRecord(buffer, [&](const LegacyEventRecord& record) {
        if (cutOff != 0 && record.timeGenerated <= cutOff) return false;
        if (errorsOnly && record.eventType != kEventTypeError) return true;
        HistoryRecord entry;
        entry.Channel = channel;
        entry.EventID = record.eventId & 0xFFFF;
        entry.TimeGenerated = record.timeGenerated;
        entry.EventType = LevelName(LevelTable::Legacy, record.eventType);
        entry.SourceName = record.sourceName;
        entry.UserName = UserOf(record);
        std::u16string messageFile = GetEventMessageFile(channel, record.sourceName);
        if (record.eventCategory != 0) {
            if (auto category = GetMessageString(record.eventCategory, {}, messageFile, sources)) {
                entry.EventCategory = std::move(*category);
                TraceInfo(u"[CNtEventLog] Eventcategory: %s", entry.EventCategory);
            }
        }
        if (auto message = GetMessageString(record.eventId, record.strings, messageFile, sources)) {
            entry.Description = std::move(*message);
            TraceInfo(u"[CNtEventLog] event message: %s", entry.Description);
        }
        if (!record.data.empty() && entry.Description.empty()) {
            entry.Description = DataText(record.data);
            TraceInfoText(Format(u"[CNtEventLog] event data: %s\n", entry.Description));
        }
        history->push_back(std::move(entry));
        ++appended;
        return true;
    });
    return appended;
}

bool ReadLegacyHistory(const std::u16string& channel, uint64_t cutOff, bool errorsOnly, MessageSources& sources,
                       const std::atomic<int32_t>& stopped, std::vector<HistoryRecord>* history) {
    return ReadLegacyBatches(channel, platform::kEventLogBackwardsRead, stopped, [&](std::span<const uint8_t> batch) {
        CollectLegacyRecords(batch, channel, cutOff, errorsOnly, sources, history);
    });
}

}  // namespace vantel
