#include "monitors/named_event_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>

#include "common/format.h"
#include "fake_host.h"

namespace vantel {
namespace {

using testing::FakeHost;

class SpecialLog : public ::testing::Test {
protected:
    void TearDown() override { log.Stop(5000); }
    FakeHost host;
    CSpecialLog log;
};

// Before a Start, and of a record being filled when the module let go (Shutdown), nothing is sent.
TEST_F(SpecialLog, NothingIsRecordedBeforeStartOrKeptFromBeforeAShutdown) {
    log.SetField(u"EventName", u"Early");
    log.Commit();
    log.Start(&host, u"QorExtHost", u"EventLog");
    log.SetField(u"EventName", u"Dropped");
    log.SetField(u"user_name", u"before");
    log.Shutdown(5000);
    log.SetField(u"user_name", u"ignored");
    log.Commit();
    log.Start(&host, u"QorExtHost", u"EventLog");
    log.SetField(u"EventName", u"Late");
    log.Commit();
    ASSERT_TRUE(host.WaitForEvents(1));
    EXPECT_EQ(log.Stop(5000), 0u);
    ASSERT_EQ(host.events.size(), 1u);
    EXPECT_EQ(host.events[0]->name, u"Late");
    EXPECT_TRUE(host.events[0]->fields.empty());
}

TEST_F(SpecialLog, RecordReachesTheHostWithoutItsNameFieldsInNameOrder) {
    log.Start(&host, u"QorExtHost", u"EventLog");
    log.SetField(u"EventName", u"Replaced");
    log.SetField(u"user_name", u"first");
    log.SetField(u"EventName", u"RemoteLogonFailed");
    log.SetField(u"attack_ip", u"10.0.0.1");
    log.SetNumber(u"action_count", 18446744073709551615ull);
    log.SetField(u"user_name", u"second");
    log.SetField(u"Zone", u"upper case sorts first");
    log.Commit();
    log.Commit();  // empty: queues nothing
    ASSERT_TRUE(host.WaitForEvents(1));
    log.Stop(5000);
    ASSERT_EQ(host.events.size(), 1u);
    const auto& event = *host.events[0];
    EXPECT_EQ(event.name, u"RemoteLogonFailed");
    std::vector<std::pair<std::u16string, std::u16string>> expected = {
        {u"Zone", u"upper case sorts first"},
        {u"action_count", u"18446744073709551615"},
        {u"attack_ip", u"10.0.0.1"},
        {u"user_name", u"second"}};
    EXPECT_EQ(event.fields, expected);
    EXPECT_FALSE(event.time.has_value());
    EXPECT_EQ(event.references, 0) << "the module releases each host record";
}

TEST_F(SpecialLog, OnlyTheExactTimeFieldsSetTheEventTime) {
    log.Start(&host, u"QorExtHost", u"EventLog");
    for (auto [field, value] : {std::pair{u"LogonTime", u"1700000000"}, std::pair{u"ContextTimeStamp", u"-5x"},
                                std::pair{u"LogonTime", u"none"}, std::pair{u"logon_time", u"1700000000"}}) {
        log.SetField(u"EventName", u"E");
        log.SetField(field, value);
        log.Commit();
    }
    ASSERT_TRUE(host.WaitForEvents(4));
    EXPECT_EQ(host.events[0]->time, 1700000000);
    EXPECT_EQ(host.events[1]->time, -5);
    EXPECT_EQ(host.events[2]->time, 0);
    EXPECT_FALSE(host.events[3]->time.has_value());
    EXPECT_EQ(host.events[0]->fields[0].second, u"1700000000") << "the time field is kept as text too";
}

TEST_F(SpecialLog, RecordsTheHostRefusesAreDropped) {
    host.refuseRecords = true;
    log.Start(&host, u"QorExtHost", u"EventLog");
    log.SetField(u"EventName", u"Dropped");
    log.Commit();
    EXPECT_EQ(log.Stop(5000), 0u);
    {
        std::lock_guard guard(host.lock);
        host.refuseRecords = false;
    }
    log.Start(&host, u"QorExtHost", u"EventLog");
    log.SetField(u"EventName", u"Kept");
    log.Commit();
    ASSERT_TRUE(host.WaitForEvents(1));
    EXPECT_EQ(host.events[0]->name, u"Kept");
}

TEST_F(SpecialLog, ManyProducersEveryRecordOnceInOrderFieldsNeverMixed) {
    log.Start(&host, u"QorExtHost", u"EventLog");
    constexpr int kProducers = 8;
    constexpr int kRecords = 500;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([this, p] {
            std::u16string producer = Format(u"%d", p);
            for (int i = 0; i < kRecords; ++i) {
                log.SetField(u"EventName", u"P" + producer);
                log.SetField(u"producer", producer);
                log.SetNumber(u"sequence", i);
                log.SetField(u"check", producer + u"/" + Format(u"%d", i));
                log.Commit();
            }
        });
    }
    for (std::thread& producer : producers) producer.join();
    ASSERT_TRUE(host.WaitForEvents(kProducers * kRecords));
    EXPECT_EQ(log.Stop(5000), 0u);
    ASSERT_EQ(host.events.size(), size_t{kProducers * kRecords});
    std::map<std::u16string, int> next;
    for (const auto& event : host.events) {
        ASSERT_EQ(event->fields.size(), 3u);
        const std::u16string& producer = event->fields[1].second;
        const std::u16string& sequence = event->fields[2].second;
        EXPECT_EQ(event->name, u"P" + producer);
        EXPECT_EQ(event->fields[0].second, producer + u"/" + sequence) << "fields of two producers mixed";
        EXPECT_EQ(sequence, Format(u"%d", next[producer]++)) << "lost, repeated or reordered";
    }
}

TEST_F(SpecialLog, ProducersWhileTheWorkerIsStoppedAndStartedOverLoseAndRepeatNothing) {
    log.Start(&host, u"QorExtHost", u"EventLog");
    constexpr int kProducers = 8;
    constexpr int kRecords = 1500;
    std::atomic<int> running{kProducers};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kRecords; ++i) {
                log.SetField(u"EventName", u"E");
                log.SetNumber(u"event_id", p);
                log.SetNumber(u"sequence", i);
                log.Commit();
            }
            --running;
        });
    }
    for (int round = 0; running > 0; ++round) {
        log.Stop(round % 3);  // not waiting, a brief wait, and one that may see the worker end
        log.Start(&host, u"QorExtHost", u"EventLog");
    }
    for (std::thread& producer : producers) producer.join();
    ASSERT_TRUE(host.WaitForEvents(kProducers * kRecords));
    EXPECT_EQ(log.Stop(5000), 0u);
    ASSERT_EQ(host.events.size(), size_t{kProducers * kRecords});
    std::vector<int> next(kProducers);
    for (const auto& event : host.events) {
        ASSERT_EQ(event->fields.size(), 2u);
        int producer = std::stoi(std::string(event->fields[0].second.begin(), event->fields[0].second.end()));
        EXPECT_EQ(event->fields[1].second, Format(u"%d", next[producer]++)) << "lost, repeated or reordered";
    }
}

TEST_F(SpecialLog, RecycledRecordsStartEmptyAndAnEmptyPoolStillDelivers) {
    log.Start(&host, u"QorExtHost", u"EventLog");
    // More records in flight than the pool keeps, so that some are made afresh and the rest reused.
    constexpr size_t kRecords = CSpecialLog::kPooledRecords + 100;
    for (size_t i = 0; i < kRecords; ++i) {
        log.SetField(u"EventName", u"Full");
        log.SetField(u"task_xml", std::u16string(5000 * (i % 2), u'x'));  // some too big to keep
        log.SetField(u"user_name", u"someone");
        log.SetNumber(u"event_id", i);
        log.Commit();
    }
    for (size_t i = 0; i < kRecords; ++i) {
        log.SetField(u"EventName", u"Bare");
        log.SetNumber(u"sequence", i);
        log.Commit();
    }
    ASSERT_TRUE(host.WaitForEvents(2 * kRecords));
    for (size_t i = 0; i < 2 * kRecords; ++i) {
        const auto& event = *host.events[i];
        if (i < kRecords) {
            ASSERT_EQ(event.fields.size(), 3u);
            EXPECT_EQ(event.fields[0].second, Format(u"%llu", static_cast<unsigned long long>(i)));
            continue;
        }
        EXPECT_EQ(event.name, u"Bare");
        ASSERT_EQ(event.fields.size(), 1u) << "a reused record kept fields of its last event";
        EXPECT_EQ(event.fields[0].second, Format(u"%llu", static_cast<unsigned long long>(i - kRecords)));
    }
}

TEST_F(SpecialLog, StartWhileAStoppedWorkerStillDeliversKeepsItForTheNewHost) {
    EXPECT_EQ(log.Start(nullptr, u"QorExtHost", u"EventLog"), 0) << "no host, no worker";
    log.SetField(u"EventName", u"Unrecorded");
    log.Commit();
    ASSERT_EQ(log.Start(&host, u"QorExtHost", u"EventLog"), 1);
    host.recordDelayMs = 2;
    auto commit = [this](const char16_t* name, int count) {
        for (int i = 0; i < count; ++i) {
            log.SetField(u"EventName", name);
            log.SetNumber(u"i", i);
            log.Commit();
        }
    };
    commit(u"Before", 50);
    EXPECT_EQ(log.Stop(1), 258u) << "still delivering";
    FakeHost next;
    EXPECT_EQ(log.Start(&next, u"QorExtHost", u"EventLog"), 1);
    host.recordDelayMs = 0;
    commit(u"After", 50);
    ASSERT_TRUE(next.WaitForEvents(1));
    EXPECT_EQ(log.Stop(5000), 0u);
    // Every record once, in commit order, the later ones to the new host.
    std::vector<std::u16string> delivered;
    for (FakeHost* to : {&host, &next})
        for (const auto& event : to->events) delivered.push_back(event->name + event->fields[0].second);
    ASSERT_EQ(delivered.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(delivered[i], (i < 50 ? u"Before" : u"After") + Format(u"%d", i % 50));
    EXPECT_EQ(next.events.back()->name, u"After");
}

TEST_F(SpecialLog, StopDeliversWhatWasQueuedAndARestartDeliversTheRest) {
    log.Start(&host, u"QorExtHost", u"EventLog");
    for (int i = 0; i < 100; ++i) {
        log.SetField(u"EventName", u"Before");
        log.SetNumber(u"i", i);
        log.Commit();
    }
    EXPECT_EQ(log.Stop(5000), 0u);
    EXPECT_EQ(host.events.size(), 100u) << "records committed before the stop are delivered";

    log.SetField(u"EventName", u"Between");
    log.Commit();
    EXPECT_EQ(log.Start(&host, u"QorExtHost", u"EventLog"), 1);
    ASSERT_TRUE(host.WaitForEvents(101));
    EXPECT_EQ(host.events[100]->name, u"Between");
}

}  // namespace
}  // namespace vantel
