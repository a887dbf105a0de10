// The event-log service as its entry points (winsim/eventlog_api.cpp) reach it.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "winsim/channel_file.h"
#include "winsim/event_query.h"
#include "winsim/eventlog.h"
#include "winsim/handles.h"

namespace winsim {

using EventPtr = std::shared_ptr<const EventRecord>;

// Handles of records: opened around a callback and by EvtNext.
HandleTable<EventPtr>& EventHandles();

// A query's records, read from the channels' files as they are asked for, in the order they were
// logged or newest first; a record written over since the query is passed over.
class QueryReading {
public:
    QueryReading(EventQuery query, bool newestFirst, uint64_t now, std::vector<ChannelReader> readers);
    // Null at the end. The service's lock is held.
    EventPtr Next();

private:
    struct Source {
        ChannelReader reader;
        EventPtr head{};  // the next record it selects, once read
        uint64_t sequence = 0;
        bool done = false;
    };
    EventQuery query_;
    bool newestFirst_;
    uint64_t now_;  // for the query's age conditions
    std::vector<Source> sources_;
};

// 0, 15001 (malformed query), 15007 (a selection names no channel of the machine) or 1722 (the
// service is down).
uint32_t QueryEvents(const std::u16string& path, const std::u16string& query, bool newestFirst,
                     std::shared_ptr<QueryReading>* reading);
// The reading's next record; null once there is none.
EventPtr NextQueryRecord(QueryReading& reading);
// A bookmark: per channel (folded path), the id of the last record read.
using BookmarkPositions = std::map<std::u16string, uint64_t>;

// Where a subscription starts: future records only, every record logged, or those after a
// bookmark's positions (all records of a channel the bookmark does not name).
struct SubscriptionStart {
    enum class Kind { Future, Oldest, AfterBookmark } kind = Kind::Future;
    BookmarkPositions bookmark;
};

// Starts a subscription with a delivery thread of its own, queuing the records logged before it
// that its start takes. Errors as for QueryEvents, 1722 while the service is down, or the one
// FailNextSubscribe left.
uint32_t Subscribe(const std::u16string& path, const std::u16string& query, const SubscriptionStart& start,
                   vantel::evt::SubscribeCallback callback, void* context, uintptr_t* handle);
// False when the handle is no open subscription. Returns once no callback of it runs, or at
// once when called from its own callback, which is the last.
bool CloseSubscription(uintptr_t handle);
// The provider's texts as registered now; null when it has none.
std::shared_ptr<const PublisherMessages> FindPublisher(const std::u16string& provider);

}  // namespace winsim
