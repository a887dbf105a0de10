// The server's request for the history of one channel: the records since the channel's refresh
// mark, or of the last days, newest first, sent back in batches of reply items.
#include <algorithm>

#include "common/system_helpers.h"
#include "eventlog/nt_event_log.h"
#include "monitors/history_readers.h"
#include "platform/locale.h"
#include "platform/registry.h"
#include "plugin/host_link.h"
#include "plugin/trace.h"

namespace vantel {

namespace {

constexpr uint64_t kSecondsPerDay = 86'400;
constexpr uint64_t kMillisecondsPerDay = 86'400'000;
// More days than any log holds; keeps the window's arithmetic inside 64 bits.
constexpr uint64_t kMostDays = 100'000'000;
// The first batch holds 5,000 items, every later one 4,999.
constexpr size_t kItemsPerLaterBatch = 4999;

constexpr char16_t kWindowQuery[] = u"*[System[TimeCreated[timediff(@SystemTime) <= %llu]]]";
constexpr char16_t kErrorsWindowQuery[] = u"*[System[(Level=2) and TimeCreated[timediff(@SystemTime) <= %llu]]]";

uint64_t NowSeconds() { return static_cast<uint64_t>(FileTimeToUnixSeconds(platform::SystemTimeAsFileTime())); }

// The leading decimal digits of the days text; text that does not start with one counts as 0.
uint64_t DaysOf(const std::u16string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    if (i < text.size() && text[i] == u'+') ++i;
    uint64_t days = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        days = std::min(kMostDays, days * 10 + (text[i] - u'0'));
    return days;
}

}  // namespace

std::optional<uint64_t> ReadRefreshMark(const std::u16string& key, const std::u16string& channel) {
    uint64_t mark = 0;
    if (platform::RegReadQword(platform::RegRoot::LocalMachine, key, channel, &mark)) return std::nullopt;
    return mark;
}

void WriteRefreshMark(const std::u16string& key, const std::u16string& channel, uint64_t time) {
    platform::RegWriteQword(platform::RegRoot::LocalMachine, key, channel, time);
}

bool CNtEventLog::GetEvtLog2(const std::u16string& channel, bool errorsOnly, bool* markFound,
                             const std::u16string& days) {
    const char16_t* windowQuery = errorsOnly ? kErrorsWindowQuery : kWindowQuery;
    std::u16string query;
    if (!days.empty()) {
        query = Format(windowQuery, DaysOf(days) * kMillisecondsPerDay);
    } else if (std::optional<uint64_t> mark = ReadRefreshMark(configurationKey_, channel)) {
        // A mark in the future (the clock was set back) leaves no time to look back over.
        uint64_t now = NowSeconds();
        query = Format(windowQuery, *mark < now ? (now - *mark) * 1000 : uint64_t{0});
        *markFound = true;
    } else {
        query = errorsOnly ? u"*[System[Level=2]]" : u"*";
    }
    TraceInfoText(Format(u"[CNtEventLog] GetEvtLog2 %s\n", query));
    MessageSources sources(api_, MessageSources::Caching::PerRefresh);
    if (!ReadModernHistory(api_, channel, query, sources, runState().stopped, &historyRecords_)) return false;
    if (!historyRecords_.empty() && days.empty())
        WriteRefreshMark(configurationKey_, historyRecords_.front().Channel, historyRecords_.front().TimeGenerated);
    return true;
}

bool CNtEventLog::GetEvtLog(const std::u16string& channel, bool errorsOnly, bool* markFound,
                            const std::u16string& days) {
    const uint64_t now = NowSeconds();
    uint64_t cutOff = 0;
    if (std::optional<uint64_t> mark = ReadRefreshMark(configurationKey_, channel)) {
        cutOff = *mark;
        *markFound = true;
    }
    if (!days.empty()) {
        uint64_t span = DaysOf(days) * kSecondsPerDay;
        cutOff = span < now ? now - span : 0;
    }
    MessageSources sources(api_, MessageSources::Caching::PerRefresh);
    // A read that failed part way sends nothing, so it moves no mark past what was not sent.
    if (!ReadLegacyHistory(channel, cutOff, errorsOnly, sources, runState().stopped, &historyRecords_)) return false;
    if (!historyRecords_.empty())
        WriteRefreshMark(configurationKey_, historyRecords_.front().Channel, historyRecords_.front().TimeGenerated);
    return true;
}

void CNtEventLog::ReFresh(const std::u16string& channel, bool errorsOnly, const std::u16string& days) {
    TraceInfo(u"[CNtEventLog] ReFresh");
    historyRecords_.clear();
    bool markFound = false;
    bool read = api_.CanQueryHistory() ? GetEvtLog2(channel, errorsOnly, &markFound, days)
                                       : GetEvtLog(channel, errorsOnly, &markFound, days);
    // The list is the refresh's own; it is not kept once sent.
    std::vector<HistoryRecord> history = std::move(historyRecords_);
    historyRecords_ = {};
    if (!read) return;

    PluginHostLink& link = *PluginHostLink::For(pluginName());
    const std::u16string batchName = days.empty() ? channel : channel + u"_Days";
    bool batchSent = false;
    auto flush = [&] {
        link.FlushReport(1, markFound || batchSent ? 2 : 1, batchName);
        batchSent = true;
    };
    for (size_t i = 0; i < history.size(); ++i) {
        if (runState().stopped) {
            // Items not yet sent must not go out with a later report.
            link.DiscardReport();
            return;
        }
        const HistoryRecord& record = history[i];
        link.AddReportField(u"Channel", record.Channel);
        link.AddReportField(u"EventID", Format(u"%d", static_cast<int32_t>(record.EventID)));
        link.AddReportField(u"EventCategory", record.EventCategory);
        link.AddReportField(u"TimeGenerated", Format(u"%d", static_cast<int32_t>(record.TimeGenerated)));
        link.AddReportField(u"SourceName", record.SourceName);
        link.AddReportField(u"EventType", record.EventType);
        link.AddReportField(u"UserName", record.UserName);
        link.AddReportField(u"Description", record.Description);
        link.CommitReportRow();
        if (i > 0 && i % kItemsPerLaterBatch == 0) flush();
    }
    flush();
}

}  // namespace vantel
