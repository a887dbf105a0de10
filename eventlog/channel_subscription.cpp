#include "eventlog/channel_subscription.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>
#include <vector>

#include "eventlog/rendering.h"
#include "platform/errors.h"
#include "platform/library.h"
#include "platform/threads.h"
#include "plugin/boundary.h"
#include "plugin/module_lifetime.h"

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

constexpr const char16_t* kChannels[] = {kChannelSecurity, kChannelSystem,   kChannelAppLocker,
                                         kChannelFirewall, kChannelCapi2, kChannelCodeIntegrity};

void TraceSubscribeFailure(uint32_t error) {
    if (error == evt::kErrorChannelNotFound)
        TraceError(u"[CNtEventLog] Channel %s was not found.", kChannelSystem);
    else if (error == evt::kErrorInvalidQuery)
        TraceError(u"[CNtEventLog] The query \"%s\" is not valid.", kSubscriptionQuery);
    else
        TraceError(u"[CNtEventLog] EvtSubscribe failed with %lu.", error);
}

// A query that names a missing channel or is malformed, or a library without subscriptions (a stub
// that fails without an error is one), stays so however long one waits: the next Start tries again.
bool WaitingMends(uint32_t error) {
    return error != evt::kErrorChannelNotFound && error != evt::kErrorInvalidQuery &&
           error != static_cast<uint32_t>(platform::kErrorCallNotImplemented) && error != 0;
}

// The id of the channel's first record in the direction, 0 when it has none; nothing when the
// channel cannot be read.
std::optional<uint64_t> EdgeRecordId(const EventLogApi& api, const char16_t* channel, uint32_t direction) {
    EvtHandle results(api, api.query(nullptr, ToWide(channel), nullptr, evt::kQueryChannelPath | direction));
    if (results.get() == nullptr) return std::nullopt;
    evt::Handle first = nullptr;
    uint32_t returned = 0;
    if (!api.next(results.get(), 1, &first, platform::kInfinite, 0, &returned) || returned != 1)
        return platform::LastError() == evt::kErrorNoMoreItems ? std::optional<uint64_t>(0) : std::nullopt;
    EvtHandle event(api, first);
    std::optional<RenderedValues> system = RenderEventValues(api, event.get(), evt::kRenderContextSystem);
    if (!system) return std::nullopt;
    return system->values().UInt64(evt::kSystemEventRecordId);
}

}  // namespace

void ChannelSubscription::EndRetries() {
    {
        std::lock_guard guard(retryLock_);
        ++epoch_;
        retryWanted_ = false;
    }
    retryWake_.notify_all();
}

void ChannelSubscription::Open() {
    std::lock_guard guard(subscriptionLock_);
    // A Stop that came first wins: no subscription outlives it.
    if (state_.stopped) return;
    CloseLocked();
    bool resumed = false;
    uint32_t error = 0;
    if (!SubscribeLocked(false, &resumed, &error) && WaitingMends(error)) RetryLater();
}

void ChannelSubscription::Close() {
    std::lock_guard guard(subscriptionLock_);
    CloseLocked();
}

void ChannelSubscription::CloseLocked() {
    if (subscription_ != nullptr) api_.close(subscription_);  // returns once no callback of it runs
    subscription_ = nullptr;
    // Only now: a retry that the closed subscription's last callbacks asked for is not wanted either.
    EndRetries();
}

void ChannelSubscription::CloseAndWait() {
    Close();
    std::unique_lock guard(retryLock_);
    retryWake_.wait(guard, [&] { return !retrying_; });
}

void ChannelSubscription::Handled(std::u16string_view channel, uint64_t recordId) {
    std::lock_guard guard(positionsLock_);
    auto position = positions_.find(channel);
    // Never back: a record of a replayed recording may carry an id seen before.
    if (position != positions_.end()) position->second = std::max(position->second, recordId);
}

void ChannelSubscription::Failed(uint32_t error) {
    if (error == evt::kErrorQueryResultStale) return TraceOverwrittenRecords();
    if (!state_.stopped) RetryLater();
}

bool ChannelSubscription::SubscribeLocked(bool resume, bool* resumed, uint32_t* error) {
    if (subscription_ != nullptr) {
        api_.close(subscription_);  // returns once no callback of it runs
        subscription_ = nullptr;
    }
    EvtHandle bookmark(api_, resume ? BookmarkOfPositions() : nullptr);
    *resumed = bookmark.get() != nullptr;
    if (!*resumed) ReadPositions();
    subscription_ = api_.subscribe(nullptr, nullptr, ToWide(kChannelSystem), ToWide(kSubscriptionQuery), bookmark.get(),
                                   context_, callback_,
                                   *resumed ? evt::kSubscribeStartAfterBookmark : evt::kSubscribeToFutureEvents);
    if (subscription_ != nullptr) return true;
    *error = platform::LastError();
    TraceSubscribeFailure(*error);
    return false;
}

evt::Handle ChannelSubscription::BookmarkOfPositions() {
    if (!api_.CanResume()) return nullptr;
    std::u16string xml;
    {
        std::lock_guard guard(positionsLock_);
        for (const auto& [channel, recordId] : positions_)
            xml += Format(u"<Bookmark Channel='%s' RecordId='%llu'/>", channel, recordId);
    }
    return xml.empty() ? nullptr : api_.createBookmark(ToWide(u"<BookmarkList>" + xml + u"</BookmarkList>"));
}

void ChannelSubscription::ReadPositions() {
    ChannelPositions newest;
    if (api_.CanResume()) {
        for (const char16_t* channel : kChannels) {
            std::optional<uint64_t> recordId = EdgeRecordId(api_, channel, evt::kQueryReverseDirection);
            if (!recordId) {
                TraceError(u"[CNtEventLog] The newest record of %s cannot be read (%lu): a failed subscription will "
                           u"resume with new records only",
                           channel, platform::LastError());
                newest.clear();
                break;
            }
            newest[channel] = *recordId;
        }
    }
    std::lock_guard guard(positionsLock_);
    positions_ = std::move(newest);
}

void ChannelSubscription::TraceOverwrittenRecords() {
    ChannelPositions positions;
    {
        std::lock_guard guard(positionsLock_);
        positions = positions_;
    }
    for (const auto& [channel, position] : positions) {
        if (position == 0) continue;  // no record read there yet
        std::optional<uint64_t> oldest = EdgeRecordId(api_, channel.c_str(), evt::kQueryForwardDirection);
        if (oldest && *oldest > position + 1)
            TraceError(u"[CNtEventLog] %llu records of %s were overwritten before they were read "
                       u"(record ids %llu to %llu)",
                       *oldest - position - 1, channel, position + 1, *oldest - 1);
    }
}

void ChannelSubscription::RetryLater() {
    {
        std::lock_guard guard(retryLock_);
        retryWanted_ = true;
        if (retrying_) return;
        retrying_ = true;
    }
    // Counted as running, so that the host's wait for an idle plugin before Destroy covers it.
    ++state_.running;
    if (QueueModuleWork(&ChannelSubscription::RetryWork, this)) return;
    --state_.running;
    {
        std::lock_guard guard(retryLock_);
        retrying_ = false;
        retryWanted_ = false;
    }
    retryWake_.notify_all();
    TraceError(u"[CNtEventLog] The subscription cannot be opened again: no work item could be queued");
}

void ChannelSubscription::RetryWork(void* context) {
    auto* self = static_cast<ChannelSubscription*>(context);
    PluginRunState& state = self->state_;
    for (;;) {
        bool ended = AtBoundary(u"[CNtEventLog] RetryWork", false, [self] {
            self->RunRetries();
            return true;
        });
        // A retry asked for after the loop's last look, while retrying_ still kept RetryLater from
        // queuing another item, is run here. Notified under the lock, since CloseAndWait's caller
        // may destroy the object as soon as it sees retrying_ end.
        std::lock_guard guard(self->retryLock_);
        if (ended && self->retryWanted_) continue;
        self->retrying_ = false;
        self->retryWake_.notify_all();
        break;
    }
    // Last: the object may be gone, the run state never is.
    --state.running;
}

void ChannelSubscription::RunRetries() {
    uint32_t delay = kFirstRetryDelayMs;
    std::unique_lock guard(retryLock_);
    while (std::exchange(retryWanted_, false)) {
        uint64_t epoch = epoch_;
        for (bool done = false; !done;) {
            guard.unlock();
            TraceInfo(u"[CNtEventLog] Subscribing again in %lu ms", delay);
            guard.lock();
            // Open and Close move the epoch on: this retry is not wanted any more.
            if (retryWake_.wait_for(guard, std::chrono::milliseconds(delay), [&] { return epoch_ != epoch; })) break;
            guard.unlock();
            done = Reopen(epoch);
            guard.lock();
            delay = done ? kFirstRetryDelayMs : std::min(delay * 2, kLongestRetryDelayMs);
        }
    }
}

bool ChannelSubscription::Reopen(uint64_t epoch) {
    std::lock_guard guard(subscriptionLock_);
    {
        std::lock_guard retry(retryLock_);
        if (epoch_ != epoch) return true;
    }
    if (state_.stopped) return true;
    bool resumed = false;
    uint32_t error = 0;
    if (SubscribeLocked(true, &resumed, &error)) {
        if (resumed)
            TraceInfo(u"[CNtEventLog] Subscribed again, after the last record handled in each channel");
        else
            TraceError(u"[CNtEventLog] Subscribed again to new records only: those logged meanwhile are not read");
        return true;
    }
    return !WaitingMends(error);
}

}  // namespace vantel
