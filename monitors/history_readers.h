// The two history readers' parts that need no plugin: turning classic records (with the texts
// of their sources' message files) and modern records (with their publishers' metadata) into
// history entries, newest first.
#pragma once
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "eventlog/event_log_api.h"
#include "monitors/history_record.h"
#include "monitors/message_sources.h"

namespace vantel {

// A channel's refresh mark under the configuration key: the time of the newest record the last
// incremental refresh sent, a REG_QWORD named after the channel. A mark that cannot be read
// counts as none; a failed write is ignored.
std::optional<uint64_t> ReadRefreshMark(const std::u16string& key, const std::u16string& channel);
void WriteRefreshMark(const std::u16string& key, const std::u16string& channel, uint64_t time);

// Classic records. The channel's records newer than the cut-off (0: all), read backwards in
// batches, until the end or a stop; false when the channel cannot be read.
bool ReadLegacyHistory(const std::u16string& channel, uint64_t cutOff, bool errorsOnly, MessageSources& sources,
                       const std::atomic<int32_t>& stopped, std::vector<HistoryRecord>* history);
// Appends an entry for each record of a batch as ReadEventLog delivered it, newest first, up to
// the first record not later than the cut-off; errorsOnly keeps error records only. Answers
// how many it appended.
size_t CollectLegacyRecords(std::span<const uint8_t> buffer, const std::u16string& channel, uint64_t cutOff,
                            bool errorsOnly, MessageSources& sources, std::vector<HistoryRecord>* history);
// The message file the source registered for the channel, at most 260 characters.
std::u16string GetEventMessageFile(const std::u16string& channel, const std::u16string& source);
// The message's text from the file with the inserts in place of "%1".."%n"; none when the file
// does not load or lacks the message.
std::optional<std::u16string> GetMessageString(uint32_t messageId, const std::vector<std::u16string>& inserts,
                                               const std::u16string& messageFile, MessageSources& sources);

// Modern records. The query's records over the channel, newest first, until the end or a stop;
// false when the query cannot be made.
bool ReadModernHistory(const EventLogApi& api, const std::u16string& channel, const std::u16string& query,
                       MessageSources& sources, const std::atomic<int32_t>& stopped,
                       std::vector<HistoryRecord>* history);

}  // namespace vantel
