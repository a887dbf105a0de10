#include "winsim/eventlog.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "common/text.h"
#include "winsim/event_query.h"
#include "winsim/eventlog_service.h"
#include "winsim/channel_file.h"

namespace winsim {

using namespace vantel::evt;

namespace {

constexpr const char16_t* kDefaultChannels[] = {
    u"Security",
    u"System",
    u"Application",
    u"Setup",
    u"Microsoft-Windows-AppLocker/EXE and DLL",
    u"Microsoft-Windows-Windows Firewall With Advanced Security/Firewall",
    u"Microsoft-Windows-CAPI2/Operational",
    u"Microsoft-Windows-CodeIntegrity/Operational"};

// A record for the callback, or an error notice (no record) carrying its code.
struct Delivery {
    EventPtr record;
    uint32_t error = 0;
};

struct Subscription {
    EventQuery query;
    SubscribeCallback callback = nullptr;
    void* context = nullptr;
    // The rest is guarded by the service's lock.
    std::deque<Delivery> pending;
    bool closed = false;
    bool asleep = false;  // the delivery thread waits for wake
    std::condition_variable wake;
    std::thread worker;
};

struct Channel {
    uint64_t lastRecordId = 0;
    std::shared_ptr<ChannelFile> records = std::make_shared<ChannelFile>();  // and the readings of queries
};

struct Service {
    std::mutex lock;
    std::map<std::u16string, Channel> channels;  // by folded path
    uint64_t published = 0;
    std::map<std::u16string, std::shared_ptr<const PublisherMessages>> publishers;  // by folded provider name
    uint32_t nextSubscribeFailure = 0;
    bool down = false;
    std::vector<std::shared_ptr<Subscription>> subscriptions;  // those the service delivers to
    size_t outstanding = 0;  // deliveries queued or in a callback
    size_t awaitedOutstanding = 0;  // what a WaitForEventDelivery waits for
    std::condition_variable idle;
    HandleTable<std::shared_ptr<Subscription>> subscriptionHandles;
    HandleTable<EventPtr> events;

    Service() { ResetChannels(); }
    void ResetChannels() {
        channels.clear();
        for (const char16_t* path : kDefaultChannels) channels[vantel::FoldCase(path)];
    }
    // A reading of the records of the channels the query selects.
    QueryReading Reading(EventQuery query, bool newestFirst, uint64_t now) const {
        std::vector<ChannelReader> readers;
        std::vector<std::u16string> paths;
        for (const EventQuery::Select& select : query.selects) {
            std::u16string path = vantel::FoldCase(select.path);
            if (std::find(paths.begin(), paths.end(), path) != paths.end()) continue;
            paths.push_back(path);
            auto channel = channels.find(path);
            if (channel != channels.end()) readers.emplace_back(channel->second.records, newestFirst);
        }
        return QueryReading(std::move(query), newestFirst, now, std::move(readers));
    }
};

// Never destroyed: delivery threads of subscriptions left open may outlive static destruction.
Service& TheService() {
    static Service* service = new Service;
    return *service;
}

}  // namespace

QueryReading::QueryReading(EventQuery query, bool newestFirst, uint64_t now, std::vector<ChannelReader> readers)
    : query_(std::move(query)), newestFirst_(newestFirst), now_(now) {
    for (ChannelReader& reader : readers) sources_.push_back({std::move(reader)});
}

EventPtr QueryReading::Next() {
    Source* next = nullptr;
    for (Source& source : sources_) {
        while (!source.head && !source.done) {
            source.head = source.reader.Next(&source.sequence);
            source.done = !source.head;
            if (source.head && !query_.Selects(*source.head, now_)) source.head = nullptr;
        }
        if (source.head && (!next || (newestFirst_ ? source.sequence > next->sequence : source.sequence < next->sequence)))
            next = &source;
    }
    return next ? std::exchange(next->head, nullptr) : nullptr;
}

namespace {

void Queue(Service& service, Subscription& subscription, Delivery delivery) {
    subscription.pending.push_back(std::move(delivery));
    ++service.outstanding;
    if (std::exchange(subscription.asleep, false)) subscription.wake.notify_one();
}

void Finished(Service& service, size_t deliveries) {
    service.outstanding -= deliveries;
    if (service.outstanding == 0 || service.outstanding <= service.awaitedOutstanding) service.idle.notify_all();
}

// Whether a subscription that starts this way takes a record logged before it.
bool StartTakes(const SubscriptionStart& start, const EventRecord& record) {
    switch (start.kind) {
        case SubscriptionStart::Kind::Future: return false;
        case SubscriptionStart::Kind::Oldest: return true;
        case SubscriptionStart::Kind::AfterBookmark: {
            auto position = start.bookmark.find(vantel::FoldCase(record.channel));
            return position == start.bookmark.end() || record.system[kSystemEventRecordId].number > position->second;
        }
    }
    return false;
}

// Parses the query and checks its channels; the service's lock is held.
uint32_t ReadQuery(Service& service, const std::u16string& path, const std::u16string& text, EventQuery* query) {
    if (uint32_t error = ParseEventQuery(path, text, query)) return error;
    for (const EventQuery::Select& select : query->selects)
        if (!service.channels.contains(vantel::FoldCase(select.path))) return kErrorChannelNotFound;
    return 0;
}

void Deliver(const Subscription& subscription, const Delivery& delivery) {
    if (!delivery.record) {
        subscription.callback(kActionError, subscription.context, reinterpret_cast<Handle>(uintptr_t{delivery.error}));
        return;
    }
    HandleTable<EventPtr>& events = TheService().events;
    uintptr_t event = events.Open(delivery.record);
    subscription.callback(kActionDeliver, subscription.context, reinterpret_cast<Handle>(event));
    events.Close(event);
}

// The subscription's delivery thread: one callback at a time, in the order queued, until closed.
// Only a thread that sleeps is woken, so that records published while it delivers cost no wake-up.
void RunDeliveries(std::shared_ptr<Subscription> subscription) {
    Service& service = TheService();
    std::unique_lock guard(service.lock);
    for (;;) {
        if (!subscription->closed && subscription->pending.empty()) {
            subscription->asleep = true;
            subscription->wake.wait(guard, [&] { return subscription->closed || !subscription->pending.empty(); });
            subscription->asleep = false;
        }
        if (subscription->closed) return;
        Delivery next = std::move(subscription->pending.front());
        subscription->pending.pop_front();
        guard.unlock();
        Deliver(*subscription, next);
        guard.lock();
        Finished(service, 1);
    }
}

}  // namespace

void ResetEventLog() {
    Service& service = TheService();
    std::lock_guard guard(service.lock);
    service.down = false;
    service.ResetChannels();
    service.publishers.clear();
    service.nextSubscribeFailure = 0;
}

void AddEventChannel(const std::u16string& path) {
    Service& service = TheService();
    std::lock_guard guard(service.lock);
    service.channels.try_emplace(vantel::FoldCase(path));
}

void RemoveEventChannel(const std::u16string& path) {
    Service& service = TheService();
    std::lock_guard guard(service.lock);
    service.channels.erase(vantel::FoldCase(path));
}

void SetChannelMaximumSize(const std::u16string& path, uint64_t bytes) {
    Service& service = TheService();
    std::lock_guard guard(service.lock);
    auto channel = service.channels.find(vantel::FoldCase(path));
    if (channel != service.channels.end()) channel->second.records->SetMaximum(bytes);
}

size_t ChannelRecordCount(const std::u16string& path) {
    Service& service = TheService();
    std::lock_guard guard(service.lock);
    auto channel = service.channels.find(vantel::FoldCase(path));
    return channel == service.channels.end() ? 0 : channel->second.records->Count();
}

uint64_t PublishEvent(EventRecord record) {
    Service& service = TheService();
    std::lock_guard guard(service.lock);
    auto channel = service.channels.find(vantel::FoldCase(record.channel));
    if (channel == service.channels.end()) return 0;
    EventValue& id = record.system[kSystemEventRecordId];
    if (id.type != kTypeNull && id.number == 0) id.number = channel->second.lastRecordId + 1;
    channel->second.lastRecordId = std::max(channel->second.lastRecordId, id.number);
    uint64_t recordId = id.number;
    channel->second.records->Append(++service.published, record);
    uint64_t now = FileTimeNow();
    EventPtr delivered;  // one copy for every subscription that selects the record, made by the first
    for (const std::shared_ptr<Subscription>& subscription : service.subscriptions) {
        if (!subscription->query.Selects(delivered ? *delivered : record, now)) continue;
        if (!delivered) delivered = std::make_shared<const EventRecord>(std::move(record));
        Queue(service, *subscription, {delivered});
    }
    return recordId;
}

void SetPublisherMessages(const std::u16string& provider, PublisherMessages messages) {
    Service& service = TheService();
    std::lock_guard guard(service.lock);
    service.publishers[vantel::FoldCase(provider)] = std::make_shared<const PublisherMessages>(std::move(messages));
}

void DeliverSubscriptionError(uint32_t error) {
    Service& service = TheService();
    std::lock_guard guard(service.lock);
    for (const std::shared_ptr<Subscription>& subscription : service.subscriptions)
        Queue(service, *subscription, {nullptr, error});
}

void FailNextSubscribe(uint32_t error) {
    Service& service = TheService();
    std::lock_guard guard(service.lock);
    service.nextSubscribeFailure = error;
}

void StopEventLogService() {
    Service& service = TheService();
    std::lock_guard guard(service.lock);
    service.down = true;
    for (const std::shared_ptr<Subscription>& subscription : service.subscriptions) {
        Finished(service, subscription->pending.size());
        subscription->pending.clear();
        Queue(service, *subscription, {nullptr, kErrorServiceUnavailable});
    }
    service.subscriptions.clear();  // their handles stay open until closed
}

void StartEventLogService() {
    Service& service = TheService();
    std::lock_guard guard(service.lock);
    service.down = false;
}

size_t OpenSubscriptionCount() { return TheService().subscriptionHandles.Count(); }

void WaitForEventDelivery(size_t outstanding) {
    Service& service = TheService();
    std::unique_lock guard(service.lock);
    size_t before = std::exchange(service.awaitedOutstanding, std::max(service.awaitedOutstanding, outstanding));
    service.idle.wait(guard, [&] { return service.outstanding <= outstanding; });
    service.awaitedOutstanding = before;
}

HandleTable<EventPtr>& EventHandles() { return TheService().events; }

uint32_t QueryEvents(const std::u16string& path, const std::u16string& text, bool newestFirst,
                     std::shared_ptr<QueryReading>* reading) {
    Service& service = TheService();
    std::lock_guard guard(service.lock);
    if (service.down) return kErrorServiceUnavailable;
    EventQuery query;
    if (uint32_t error = ReadQuery(service, path, text, &query)) return error;
    *reading = std::make_shared<QueryReading>(service.Reading(std::move(query), newestFirst, FileTimeNow()));
    return 0;
}

EventPtr NextQueryRecord(QueryReading& reading) {
    std::lock_guard guard(TheService().lock);
    return reading.Next();
}

uint32_t Subscribe(const std::u16string& path, const std::u16string& text, const SubscriptionStart& start,
                   SubscribeCallback callback, void* context, uintptr_t* handle) {
    Service& service = TheService();
    std::lock_guard guard(service.lock);
    if (uint32_t failure = std::exchange(service.nextSubscribeFailure, 0)) return failure;
    if (service.down) return kErrorServiceUnavailable;
    auto subscription = std::make_shared<Subscription>();
    if (uint32_t error = ReadQuery(service, path, text, &subscription->query)) return error;
    subscription->callback = callback;
    subscription->context = context;
    // Started under the lock, the thread finds the subscription complete.
    subscription->worker = std::thread(RunDeliveries, subscription);
    if (start.kind != SubscriptionStart::Kind::Future) {
        QueryReading logged = service.Reading(subscription->query, false, FileTimeNow());
        while (EventPtr record = logged.Next())
            if (StartTakes(start, *record)) Queue(service, *subscription, {std::move(record)});
    }
    service.subscriptions.push_back(subscription);
    *handle = service.subscriptionHandles.Open(subscription);
    return 0;
}

bool CloseSubscription(uintptr_t handle) {
    Service& service = TheService();
    std::optional<std::shared_ptr<Subscription>> found = service.subscriptionHandles.Get(handle);
    if (!found || !service.subscriptionHandles.Close(handle)) return false;
    const std::shared_ptr<Subscription>& subscription = *found;
    std::thread worker;
    {
        std::lock_guard guard(service.lock);
        subscription->closed = true;
        Finished(service, subscription->pending.size());
        subscription->pending.clear();
        std::erase(service.subscriptions, subscription);
        worker = std::move(subscription->worker);
    }
    subscription->wake.notify_all();
    // From its own callback the thread cannot be waited for; it ends when that callback returns.
    if (worker.get_id() == std::this_thread::get_id()) worker.detach();
    else worker.join();
    return true;
}

std::shared_ptr<const PublisherMessages> FindPublisher(const std::u16string& provider) {
    Service& service = TheService();
    std::lock_guard guard(service.lock);
    auto found = service.publishers.find(vantel::FoldCase(provider));
    return found == service.publishers.end() ? nullptr : found->second;
}

}  // namespace winsim
