// The event-log service of the simulated machine: channels that tests and scenarios publish
// records into, queries over them and push subscriptions that deliver them. The entry points
// the module calls are those of "Wevtapi.dll" (winsim/eventlog_api.h).
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "winsim/event_record.h"

namespace winsim {

// The metadata of a provider, as EvtOpenPublisherMetadata finds it, and the texts
// EvtFormatMessage finds for it: event messages by event id, with %1..%n standing for the user
// values, and the names of levels and tasks. A provider without any fails to open.
struct PublisherMessages {
    std::map<uint32_t, std::u16string> events;
    std::map<uint32_t, std::u16string> levels;
    std::map<uint32_t, std::u16string> tasks;
};

// Control, for tests and scenarios.
// Back to the default channels, all empty, with no publishers and no pending failure, the
// service running; open subscriptions stay open.
void ResetEventLog();
// Channel paths compare ignoring case. Removing a channel drops its records.
void AddEventChannel(const std::u16string& path);
void RemoveEventChannel(const std::u16string& path);
// A channel keeps its records up to a maximum size (by default that of winsim/retention.h),
// the oldest going first; records count at their StoredSize.
void SetChannelMaximumSize(const std::u16string& path, uint64_t bytes);
size_t ChannelRecordCount(const std::u16string& path);
// Logs the record in its channel and queues it for every subscription that selects it. Returns
// the record id (the channel's next one when the record had 0), or 0 when there is no such channel.
uint64_t PublishEvent(EventRecord record);
void SetPublisherMessages(const std::u16string& provider, PublisherMessages messages);
// Queues an error notice for every open subscription: its callback gets action 0 and the code
// in place of the event handle (15011: records were lost).
void DeliverSubscriptionError(uint32_t error);
// Makes the next EvtSubscribe fail with the error.
void FailNextSubscribe(uint32_t error);
// What open subscriptions are told, and calls that need the service answer, while it is down:
// the RPC server is unavailable.
constexpr uint32_t kErrorServiceUnavailable = 1722;
// Stops the service: every open subscription gets an error notice 1722 and delivers nothing more
// (what it had queued is dropped) until it is closed; subscribing and querying fail with 1722
// until StartEventLogService. Records published meanwhile are logged, as the service logs what
// was written while it was down once it is back.
void StopEventLogService();
void StartEventLogService();
size_t OpenSubscriptionCount();
// Event, query, render-context and publisher handles still open.
size_t OpenEventLogHandleCount();
// Waits until no more than so many queued records and notices wait for their callback or are in
// one (none: every callback has returned). Must not be called from a subscription callback.
void WaitForEventDelivery(size_t outstanding = 0);

}  // namespace winsim
