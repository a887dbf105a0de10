// Push subscriptions of winsim's event-log service, opened through "Wevtapi.dll" as the module
// opens them: selection, order, error notices and closing against running callbacks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "common/text.h"
#include "tests/wevtapi.h"
#include "winsim/eventlog.h"

namespace vantel {
namespace {

using testing::Wevtapi;
using winsim::EventRecord;

// The module's query shape: two selections of one channel, a tab between them.
constexpr char16_t kQuery[] =
    u"<QueryList>  <Query Id='0'>    <Select Path='Security'>*[System[(EventID=4624 or EventID=4625)]]</Select>"
    u"    <Select Path=\"System\">*[System[(EventID=7036)]]</Select>\t  <Select Path='Security'>*[System[EventID=4697]]"
    u"</Select>  </Query></QueryList>";

// What one subscription's callback saw: event ids, or the codes of error notices.
struct Recorder {
    const Wevtapi* api = nullptr;
    std::mutex lock;
    std::vector<uint16_t> ids;
    std::vector<uintptr_t> errors;
    std::atomic<int> calls{0};
    std::function<void(Recorder&)> during;  // runs inside each callback, after recording

    static uint32_t VANTEL_WINAPI Callback(uint32_t action, void* context, evt::Handle event) {
        auto* self = static_cast<Recorder*>(context);
        {
            std::lock_guard guard(self->lock);
            if (action == evt::kActionDeliver) self->ids.push_back(self->api->EventId(event));
            else self->errors.push_back(reinterpret_cast<uintptr_t>(event));
        }
        ++self->calls;
        if (self->during) self->during(*self);
        return 0;
    }
    std::vector<uint16_t> Ids() {
        std::lock_guard guard(lock);
        return ids;
    }
};

class EventLogSubscription : public ::testing::Test {
protected:
    void SetUp() override {
        winsim::ResetEventLog();
        ASSERT_EQ(winsim::OpenSubscriptionCount(), 0u);
    }
    void TearDown() override {
        winsim::WaitForEventDelivery();
        EXPECT_EQ(winsim::OpenSubscriptionCount(), 0u) << "every subscription is closed";
    }

    evt::Handle Subscribe(Recorder& recorder, const char16_t* channel, const char16_t* query,
                          uint32_t flags = evt::kSubscribeToFutureEvents, evt::Handle bookmark = nullptr) {
        recorder.api = &api_;
        return api_.subscribe(nullptr, nullptr, ToWide(channel), ToWide(query), bookmark, &recorder,
                              &Recorder::Callback, flags);
    }
    static void Publish(const char16_t* channel, uint16_t id) {
        ASSERT_NE(winsim::PublishEvent(EventRecord(channel, u"Provider", id)), 0u);
    }

    Wevtapi api_;
};

TEST_F(EventLogSubscription, DeliversTheSelectedRecordsInPublishOrder) {
    Publish(u"Security", 4624);  // before the subscription: not seen with future events only
    Recorder recorder;
    evt::Handle subscription = Subscribe(recorder, u"System", kQuery);
    ASSERT_NE(subscription, nullptr) << platform::LastError();
    EXPECT_EQ(winsim::OpenSubscriptionCount(), 1u);
    Publish(u"Security", 4625);
    Publish(u"Security", 4688);     // id not selected
    Publish(u"Application", 4624);  // channel not selected
    Publish(u"SECURITY", 4697);     // the second selection of the channel; paths ignore case
    Publish(u"System", 7036);
    Publish(u"System", 4624);
    for (uint16_t i = 0; i < 50; ++i) Publish(u"Security", i % 2 ? 4624 : 4625);
    winsim::WaitForEventDelivery();
    std::vector<uint16_t> expected = {4625, 4697, 7036};
    for (uint16_t i = 0; i < 50; ++i) expected.push_back(i % 2 ? 4624 : 4625);
    EXPECT_EQ(recorder.Ids(), expected);
    EXPECT_TRUE(api_.close(subscription));
}

TEST_F(EventLogSubscription, StartAtOldestDeliversTheStoredRecordsFirst) {
    Publish(u"Application", 1);
    Publish(u"Application", 2);
    Recorder recorder;
    evt::Handle subscription = Subscribe(recorder, u"Application", u"*", evt::kSubscribeStartAtOldestRecord);
    ASSERT_NE(subscription, nullptr);
    Publish(u"Application", 3);
    winsim::WaitForEventDelivery();
    EXPECT_EQ(recorder.Ids(), (std::vector<uint16_t>{1, 2, 3}));
    api_.close(subscription);
}

TEST_F(EventLogSubscription, AfterABookmarkComeTheLaterRecordsOfItsChannelsAndAllOfOthers) {
    for (uint16_t id : {1, 2, 3}) Publish(u"Security", id);  // record ids 1 to 3
    Publish(u"System", 10);
    Publish(u"Application", 20);  // not selected
    evt::Handle bookmark = api_.createBookmark(
        ToWide(u"<BookmarkList>\r\n  <Bookmark Channel='security' RecordId='2' IsCurrent='true'/>\r\n"
               u"  <Bookmark Channel=\"Application\" RecordId='0'/>\r\n</BookmarkList>"));
    ASSERT_NE(bookmark, nullptr) << platform::LastError();
    Recorder recorder;
    const char16_t* query = u"<QueryList><Query Id='0'><Select Path='Security'>*</Select>"
                            u"<Select Path='System'>*</Select></Query></QueryList>";
    evt::Handle subscription = Subscribe(recorder, u"System", query, evt::kSubscribeStartAfterBookmark, bookmark);
    ASSERT_NE(subscription, nullptr) << platform::LastError();
    EXPECT_TRUE(api_.close(bookmark)) << "the subscription keeps no hold on it";
    Publish(u"Security", 4);
    winsim::WaitForEventDelivery();
    EXPECT_EQ(recorder.Ids(), (std::vector<uint16_t>{3, 10, 4}));
    api_.close(subscription);

    for (const char16_t* xml : {u"", u"<Bookmark Channel='System' RecordId='1'/>",
                                u"<BookmarkList><Bookmark Channel='System'/></BookmarkList>",
                                u"<BookmarkList><Bookmark Channel='System' RecordId='-1'/></BookmarkList>",
                                u"<BookmarkList><Bookmark RecordId='1'/></BookmarkList>"}) {
        EXPECT_EQ(api_.createBookmark(ToWide(xml)), nullptr) << ToUtf8(xml);
        EXPECT_EQ(platform::LastError(), 87u);
    }
    evt::Handle empty = api_.createBookmark(nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(Subscribe(recorder, u"System", u"*", evt::kSubscribeToFutureEvents, empty), nullptr)
        << "a bookmark only with the flag to start after it";
    EXPECT_EQ(Subscribe(recorder, u"System", u"*", evt::kSubscribeStartAfterBookmark), nullptr) << "and the other way";
    EXPECT_EQ(platform::LastError(), 87u);
    api_.close(empty);
}

TEST_F(EventLogSubscription, AServiceRestartFailsEveryOpenSubscriptionAndKeepsWhatIsPublishedMeanwhile) {
    Recorder first, second;
    evt::Handle a = Subscribe(first, u"System", u"*");
    evt::Handle b = Subscribe(second, u"Security", u"*");
    Publish(u"System", 1);
    winsim::WaitForEventDelivery();
    winsim::StopEventLogService();
    Publish(u"System", 2);
    winsim::WaitForEventDelivery();
    EXPECT_EQ(first.Ids(), std::vector<uint16_t>{1});
    EXPECT_EQ(first.errors, std::vector<uintptr_t>{winsim::kErrorServiceUnavailable});
    EXPECT_EQ(second.errors, std::vector<uintptr_t>{winsim::kErrorServiceUnavailable});

    Recorder late;
    EXPECT_EQ(Subscribe(late, u"System", u"*", evt::kSubscribeStartAtOldestRecord), nullptr);
    EXPECT_EQ(platform::LastError(), winsim::kErrorServiceUnavailable);
    EXPECT_EQ(api_.query(nullptr, ToWide(u"System"), nullptr, evt::kQueryChannelPath), nullptr);
    EXPECT_EQ(platform::LastError(), winsim::kErrorServiceUnavailable);

    winsim::StartEventLogService();
    evt::Handle c = Subscribe(late, u"System", u"*", evt::kSubscribeStartAtOldestRecord);
    ASSERT_NE(c, nullptr);
    Publish(u"System", 3);
    winsim::WaitForEventDelivery();
    EXPECT_EQ(late.Ids(), (std::vector<uint16_t>{1, 2, 3})) << "what was published while down is logged";
    EXPECT_EQ(first.Ids(), std::vector<uint16_t>{1}) << "a failed subscription stays dead";
    for (evt::Handle subscription : {a, b, c}) EXPECT_TRUE(api_.close(subscription));
}

TEST_F(EventLogSubscription, MalformedQueriesUnknownChannelsAndInjectedFailures) {
    Recorder recorder;
    for (const char16_t* query :
         {u"<QueryList><Query Id='0'><Select Path='System'>*[System[EventID=]]</Select></Query></QueryList>",
          u"<QueryList><Query Id='0'><Select Path='System'>*</Select></Query>",
          u"<QueryList><Query Id='0'><Select Path='System>*</Select></Query></QueryList>",
          u"<QueryList><Query Id='0'><Select>*</Select></Query></QueryList>", u"*[System[EventID=1]",
          u"*[Sys[EventID=1]]", u"*[System[(EventID=1 or )]]"}) {
        EXPECT_EQ(Subscribe(recorder, u"System", query), nullptr) << ToUtf8(query);
        EXPECT_EQ(platform::LastError(), evt::kErrorInvalidQuery) << ToUtf8(query);
    }
    const char16_t* unknown = u"<QueryList><Query Id='0'><Select Path='System'>*</Select>"
                              u"<Select Path='Nowhere'>*</Select></Query></QueryList>";
    EXPECT_EQ(Subscribe(recorder, u"System", unknown), nullptr);
    EXPECT_EQ(platform::LastError(), evt::kErrorChannelNotFound);

    winsim::RemoveEventChannel(u"Microsoft-Windows-CAPI2/Operational");
    EXPECT_EQ(Subscribe(recorder, u"Microsoft-Windows-CAPI2/Operational", u"*"), nullptr);
    EXPECT_EQ(platform::LastError(), evt::kErrorChannelNotFound);
    winsim::AddEventChannel(u"Nowhere");
    winsim::FailNextSubscribe(5);
    EXPECT_EQ(Subscribe(recorder, u"System", unknown), nullptr);
    EXPECT_EQ(platform::LastError(), 5u);
    evt::Handle subscription = Subscribe(recorder, u"System", unknown);
    EXPECT_NE(subscription, nullptr) << "the failure was for one call; the channel exists now";
    api_.close(subscription);
}

TEST_F(EventLogSubscription, ErrorNoticeReachesEveryOpenSubscription) {
    Recorder first, second;
    evt::Handle a = Subscribe(first, u"System", u"*");
    evt::Handle b = Subscribe(second, u"Security", u"*");
    Publish(u"System", 7036);
    winsim::DeliverSubscriptionError(evt::kErrorQueryResultStale);
    winsim::WaitForEventDelivery();
    EXPECT_EQ(first.Ids(), (std::vector<uint16_t>{7036})) << "the notice comes after what was queued";
    EXPECT_EQ(first.errors, (std::vector<uintptr_t>{evt::kErrorQueryResultStale}));
    EXPECT_EQ(second.errors, (std::vector<uintptr_t>{evt::kErrorQueryResultStale}));
    api_.close(a);
    api_.close(b);
}

TEST_F(EventLogSubscription, SubscriptionsDeliverConcurrently) {
    // The first callback waits for the second subscription's: serial delivery would never end it.
    std::promise<void> secondRan;
    std::atomic<bool> sawSecond{false};
    Recorder first, second;
    first.during = [&](Recorder&) {
        sawSecond = secondRan.get_future().wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    };
    second.during = [&](Recorder&) { secondRan.set_value(); };
    evt::Handle a = Subscribe(first, u"System", u"*");
    evt::Handle b = Subscribe(second, u"Security", u"*");
    Publish(u"System", 1);
    Publish(u"Security", 2);
    winsim::WaitForEventDelivery();
    EXPECT_TRUE(sawSecond);
    api_.close(a);
    api_.close(b);
}

TEST_F(EventLogSubscription, CloseWaitsForTheRunningCallbackAndEndsDelivery) {
    std::promise<void> entered;
    std::atomic<bool> release{false}, finished{false};
    Recorder recorder;
    recorder.during = [&](Recorder& self) {
        if (self.calls > 1) return;
        entered.set_value();
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        finished = true;
    };
    evt::Handle subscription = Subscribe(recorder, u"System", u"*");
    for (uint16_t id = 1; id <= 3; ++id) Publish(u"System", id);
    entered.get_future().wait();
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        release = true;
    });
    EXPECT_TRUE(api_.close(subscription));
    EXPECT_TRUE(finished) << "close returned while the callback ran";
    releaser.join();
    Publish(u"System", 4);
    winsim::WaitForEventDelivery();
    EXPECT_EQ(recorder.calls, 1) << "no callback after close: the queued records are dropped";
    EXPECT_FALSE(api_.close(subscription));
}

TEST_F(EventLogSubscription, CloseFromInsideItsOwnCallback) {
    evt::Handle subscription = nullptr;
    std::atomic<bool> closed{false};
    Recorder recorder;
    recorder.during = [&](Recorder&) { closed = api_.close(subscription); };
    subscription = Subscribe(recorder, u"System", u"*");
    for (uint16_t id = 1; id <= 3; ++id) Publish(u"System", id);
    winsim::WaitForEventDelivery();
    EXPECT_TRUE(closed);
    EXPECT_EQ(recorder.calls, 1);
    EXPECT_EQ(winsim::OpenSubscriptionCount(), 0u);
}

}  // namespace
}  // namespace vantel
