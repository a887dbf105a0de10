// The event-log plugin over winsim: subscription, rendering, routing and the logon family,
// from a record published in a channel to the named event the host receives.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "eventlog/nt_event_log.h"
#include "eventlog_fixture.h"
#include "monitors/attack_monitor.h"
#include "monitors/named_event_log.h"
#include "platform/registry.h"
#include "plugin/factory.h"
#include "plugin/singleton.h"
#include "winsim/accounts.h"
#include "winsim/eventlog.h"
#include "winsim/lsa.h"
#include "winsim/registry.h"
#include "winsim/system_libraries.h"
#include "winsim/threads.h"
#include "tests/wevtapi.h"
#include "trace_log.h"

namespace vantel {
namespace {

using winsim::EventRecord;
using winsim::EventValue;

constexpr uint64_t kTicks2021 = 132539328000000000ull;  // 2021-01-01 00:00:00 UTC
constexpr char16_t kSeconds2021[] = u"1609459200";


// The user values of a 4624 in the order of its schema.
std::vector<EventValue> Logon4624(const std::u16string& user, const std::u16string& domain, EventValue logonType) {
    return {EventValue::Sid(Sid(u"S-1-5-18")), EventValue::String(u"WINSIM$"), EventValue::String(u"WORKGROUP"),
            EventValue::HexInt64(0x3e7), EventValue::Sid(Sid(u"S-1-5-21-1-2-3-500")), EventValue::String(user),
            EventValue::String(domain), EventValue::HexInt64(0x1234), logonType, EventValue::String(u"User32"),
            EventValue::String(u"Negotiate"), EventValue::String(u"WINSIM"), EventValue::Null(),
            EventValue::String(u"-"), EventValue::String(u"-"), EventValue::UInt32(0), EventValue::HexInt64(0x2a0),
            EventValue::String(u"C:\\Windows\\System32\\winlogon.exe"), EventValue::String(u"192.0.2.7"),
            EventValue::String(u"50123")};
}

std::vector<EventValue> Failed4625(const std::u16string& user) {
    return {EventValue::Sid(Sid(u"S-1-0-0")), EventValue::String(u"-"), EventValue::String(u"-"),
            EventValue::HexInt64(0), EventValue::Sid(Sid(u"S-1-0-0")), EventValue::String(user),
            EventValue::String(u"WINSIM"), EventValue::HexInt32(0xC000006D), EventValue::String(u"%%2313"),
            EventValue::HexInt32(0xC000006A), EventValue::UInt32(3), EventValue::String(u"NtLmSsp"),
            EventValue::String(u"NTLM"), EventValue::String(u"ATTACKER"), EventValue::String(u"-"),
            EventValue::String(u"-"), EventValue::UInt32(0), EventValue::HexInt64(0), EventValue::String(u"-"),
            EventValue::String(u"198.51.100.9"), EventValue::String(u"0")};
}

EventRecord Security(uint16_t id, std::vector<EventValue> values) {
    EventRecord record(u"Security", u"Microsoft-Windows-Security-Auditing", id);
    record.TimeCreated(kTicks2021 + 9'999'999).Computer(u"host.example.org").Values(std::move(values));
    return record;
}

TEST_F(EventLogPlugin, LogonBecomesUserLogonWithEveryField) {
    auto events = Publish({Security(4624, Logon4624(u"alice", u"WINSIM", EventValue::UInt32(10)))}, 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]->name, u"UserLogon");
    Fields expected = {{u"event_id", u"4624"},          {u"computer_name", u"host.example.org"},
                       {u"logon_time", kSeconds2021},    {u"logon_domain", u"WINSIM"},
                       {u"user_is_admin", u"1"},         {u"user_name", u"alice"},
                       {u"user_sid_readable", u"1"},     {u"logon_type", u"10"},
                       {u"process_name", u"C:\\Windows\\System32\\winlogon.exe"},
                       {u"ip", u"192.0.2.7"},            {u"port", u"50123"}};
    EXPECT_EQ(FieldsOf(events[0]), expected) << "the fraction of the second is dropped";
}

TEST_F(EventLogPlugin, MistypedValuesReadAsEmptyOrZero) {
    std::vector<EventValue> values = Logon4624(u"bob", u"WINSIM", EventValue::HexInt32(10));
    values[6] = EventValue::UInt32(7);  // a domain that is no text
    values.resize(18);                  // no address or port at all
    auto events = Publish({Security(4624, values)}, 1);
    ASSERT_EQ(events.size(), 1u);
    Fields fields = FieldsOf(events[0]);
    EXPECT_EQ(fields[u"logon_type"], u"0");
    EXPECT_EQ(fields[u"logon_domain"], u"");
    EXPECT_EQ(fields[u"user_is_admin"], u"0");
    EXPECT_EQ(fields[u"ip"], u"");
    EXPECT_EQ(fields[u"port"], u"");
}

TEST_F(EventLogPlugin, ADamagedSidAtTheEndOfTheValuesIsReadAsAbsent) {
    // The header claims five sub-authorities; the value holds none, and nothing follows it.
    std::vector<EventValue> values = {EventValue::String(u"eve"), EventValue::String(u"WINSIM"),
                                      EventValue::Sid({1, 5, 0, 0, 0, 0, 0, 5})};
    auto events = Publish({Security(4726, values)}, 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]->name, u"UserAccountDeleted");
    EXPECT_EQ(FieldsOf(events[0])[u"user_rid"], u"");
    EXPECT_EQ(FieldsOf(events[0])[u"user_name"], u"eve");
}

// One value as the platform lays it out, its data right behind its cell and the buffer ending
// there, so that a read beyond the data is a read beyond the buffer.
struct OneRenderedValue {
    OneRenderedValue(uint32_t type, std::vector<uint8_t> data, uint32_t count = 0)
        : buffer(sizeof(evt::Variant) + data.size()) {
        evt::Variant cell{};
        cell.binaryVal = buffer.data() + sizeof cell;
        cell.count = count;
        cell.type = type;
        std::memcpy(buffer.data(), &cell, sizeof cell);
        if (!data.empty()) std::memcpy(buffer.data() + sizeof cell, data.data(), data.size());
    }
    EventValues values() const {
        return EventValues(reinterpret_cast<const evt::Variant*>(buffer.data()), 1, buffer.size());
    }
    std::vector<uint8_t> buffer;
};

TEST(RenderedValues, DataIsReadOnlyWhereItsTypeFitsInsideTheBuffer) {
    const std::vector<uint8_t> localSystem = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    EXPECT_EQ(OneRenderedValue(evt::kTypeSid, localSystem).values().SidText(0), u"S-1-5-18");
    EXPECT_EQ(OneRenderedValue(evt::kTypeSid, {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0}).values().SidText(0), u"");
    EXPECT_EQ(OneRenderedValue(evt::kTypeSid, {1, 1, 0, 0, 0, 0}).values().SidText(0), u"") << "half a header";
    std::vector<uint8_t> tooMany(8 + 4 * 16, 0);
    tooMany[0] = 1;
    tooMany[1] = 16;
    EXPECT_EQ(OneRenderedValue(evt::kTypeSid, tooMany).values().SidText(0), u"") << "at most 15 sub-authorities";

    std::vector<uint8_t> guid(16, 0x11);
    EXPECT_EQ(OneRenderedValue(evt::kTypeGuid, guid).values().GuidText(0), u"{11111111-1111-1111-1111-111111111111}");
    guid.resize(10);
    EXPECT_EQ(OneRenderedValue(evt::kTypeGuid, guid).values().GuidText(0), u"");

    EXPECT_EQ(OneRenderedValue(evt::kTypeBinary, {'a', 0, 'b', 0}, 4).values().BinaryText(0), u"ab");
    EXPECT_EQ(OneRenderedValue(evt::kTypeBinary, {'a', 0, 'b', 0}, 8).values().BinaryText(0), u"")
        << "a count past the end";

    EXPECT_EQ(OneRenderedValue(evt::kTypeString, {'a', 0, 'b', 0, 0, 0}).values().Text(0), u"ab");
    EXPECT_EQ(OneRenderedValue(evt::kTypeString, {'a', 0, 'b', 0}).values().Text(0), u"") << "no terminator";

    static const char16_t elsewhere[] = u"outside";
    OneRenderedValue outside(evt::kTypeString, {});
    evt::Variant cell{};
    cell.stringVal = ToWide(elsewhere);
    cell.type = evt::kTypeString;
    std::memcpy(outside.buffer.data(), &cell, sizeof cell);
    EXPECT_EQ(outside.values().Text(0), u"") << "a pointer outside the buffer";

    OneRenderedValue odd(evt::kTypeString, {0, 'a', 0, 0, 0});
    cell.stringVal = reinterpret_cast<const WChar*>(odd.buffer.data() + sizeof cell + 1);
    std::memcpy(odd.buffer.data(), &cell, sizeof cell);
    EXPECT_EQ(odd.values().Text(0), u"") << "text not aligned to its characters";

    auto* cells = reinterpret_cast<const evt::Variant*>(outside.buffer.data());
    EXPECT_EQ(EventValues(cells, 5, outside.buffer.size()).count(), 1u) << "no more cells than the buffer holds";
}

TEST_F(EventLogPlugin, ExplicitCredentialsAndLogoff) {
    std::vector<EventValue> explicitLogon = {EventValue::Sid(Sid(u"S-1-5-18")), EventValue::String(u"WINSIM$"),
                                             EventValue::String(u"WORKGROUP"), EventValue::HexInt64(0x3e7),
                                             EventValue::Null(), EventValue::String(u"alice"),
                                             EventValue::String(u"WINSIM")};
    std::vector<EventValue> logoff = {EventValue::Sid(Sid(u"S-1-5-21-1-2-3-1002")), EventValue::String(u"bob"),
                                      EventValue::String(u"WINSIM"), EventValue::HexInt64(0x99)};
    auto events = Publish({Security(4648, explicitLogon), Security(4647, logoff)}, 2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]->name, u"UserLogon");
    Fields first = FieldsOf(events[0]);
    EXPECT_EQ(first[u"user_name"], u"alice");
    EXPECT_EQ(first[u"user_is_admin"], u"1");
    EXPECT_EQ(first.count(u"logon_type"), 0u);
    EXPECT_EQ(first[u"event_id"], u"4648");
    EXPECT_EQ(events[1]->name, u"UserLogoff");
    Fields second = FieldsOf(events[1]);
    EXPECT_EQ(second[u"user_name"], u"bob");
    EXPECT_EQ(second[u"user_is_admin"], u"0");
    EXPECT_EQ(second[u"user_sid_readable"], u"1");
}

TEST_F(EventLogPlugin, FailedLogonsAreCountedPerExactUserName) {
    auto events = Publish({Security(4625, Failed4625(u"alice")), Security(4625, Failed4625(u"alice")),
                           Security(4625, Failed4625(u"nobody")), Security(4625, Failed4625(u"Alice")),
                           Security(4625, Failed4625(u"alice"))},
                          5);
    ASSERT_EQ(events.size(), 5u);
    std::vector<std::u16string> counts;
    for (auto* event : events) counts.push_back(FieldsOf(event)[u"action_count"]);
    EXPECT_EQ(counts, (std::vector<std::u16string>{u"1", u"2", u"1", u"1", u"3"}));
    Fields first = FieldsOf(events[0]);
    EXPECT_EQ(events[0]->name, u"UserLogonFailed");
    EXPECT_EQ(first[u"user_sid_readable"], u"1") << "alice resolves";
    EXPECT_EQ(FieldsOf(events[2])[u"user_sid_readable"], u"0") << "nobody does not";
    EXPECT_EQ(first[u"logon_type"], u"3");
    EXPECT_EQ(first[u"process_name"], u"-");
    EXPECT_EQ(first[u"ip"], u"198.51.100.9");
    EXPECT_EQ(first[u"port"], u"0");
}

TEST_F(EventLogPlugin, RoutingByChannel) {
    // Each of these is selected and reaches the routing, which sends it nowhere.
    EventRecord appLocker(u"Microsoft-Windows-AppLocker/EXE and DLL", u"Microsoft-Windows-AppLocker", 8004);
    appLocker.Values(std::vector<EventValue>(10, EventValue::String(u"x")));
    EventRecord nullChannel = Security(4624, Logon4624(u"alice", u"WINSIM", EventValue::UInt32(2)));
    nullChannel.Set(evt::kSystemChannel, EventValue::Null());
    EventRecord otherChannel = Security(4625, Failed4625(u"alice"));
    otherChannel.Set(evt::kSystemChannel, EventValue::String(u"Application"));
    EventRecord lowerCase = Security(4624, Logon4624(u"alice", u"WINSIM", EventValue::UInt32(2)));
    lowerCase.Set(evt::kSystemChannel, EventValue::String(u"security"));
    // The last record shows that they were all handled.
    auto events = Publish({appLocker, nullChannel, otherChannel, lowerCase,
                           Security(4624, Logon4624(u"bob", u"WINSIM", EventValue::UInt32(2)))},
                          1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(FieldsOf(events[0])[u"user_name"], u"bob");
}

TEST_F(EventLogPlugin, AStoppedPluginRefusesLateRecordsAndARestartSubscribesAgain) {
    EXPECT_EQ(winsim::OpenSubscriptionCount(), 1u);
    plugin->Stop();
    EXPECT_EQ(winsim::OpenSubscriptionCount(), 0u);
    winsim::PublishEvent(Security(4624, Logon4624(u"alice", u"WINSIM", EventValue::UInt32(2))));
    // A record the service hands over while the plugin is stopping is refused unread.
    testing::Wevtapi api;
    evt::Handle results = api.query(nullptr, ToWide(u"Security"), nullptr, evt::kQueryChannelPath);
    evt::Handle late = nullptr;
    uint32_t returned = 0;
    ASSERT_TRUE(api.next(results, 1, &late, platform::kInfinite, 0, &returned));
    EXPECT_EQ(CNtEventLog::OnSubscriptionEvent(evt::kActionDeliver, plugin, late), 21u);
    api.close(late);
    api.close(results);

    StartAndSubscribe();
    EXPECT_EQ(winsim::OpenSubscriptionCount(), 1u);
    auto events = Publish({Security(4647, {EventValue::Null(), EventValue::String(u"bob")})}, 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]->name, u"UserLogoff") << "the record published while stopped never arrives";
}

EventRecord Logoff(const char16_t* user) { return Security(4647, {EventValue::Null(), EventValue::String(user)}); }

// Waits until the traces hold the text; answers all that was taken meanwhile.
std::string WaitForTrace(testing::TraceLog& traces, const std::string& text) {
    std::string taken = traces.Take();
    for (int i = 0; i < 2000 && taken.find(text) == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        taken += traces.Take();
    }
    return taken;
}

TEST_F(EventLogPlugin, MissingRecordsAreCountedAndOtherErrorsSubscribeAgainWithoutDuplicates) {
    testing::TraceLog traces;
    Publish({Logoff(u"u1")}, 1);                                            // record id 1, handled
    for (int i = 0; i < 5; ++i) winsim::PublishEvent(Security(4688, {}));  // ids 2 to 6, not selected
    // A log of room for two such records keeps 5 and 6: what came before is overwritten.
    winsim::SetChannelMaximumSize(u"Security", 2 * winsim::StoredSize(Security(4688, {})));
    winsim::DeliverSubscriptionError(evt::kErrorQueryResultStale);
    winsim::WaitForEventDelivery();  // counted before anything else is logged
    Publish({Logoff(u"u2")}, 1);
    std::string log = traces.Take();
    EXPECT_NE(log.find("1 [CNtEventLog] The subscription callback was notified that event records are missing.\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("1 [CNtEventLog] 3 records of Security were overwritten before they were read "
                       "(record ids 2 to 4)\n"),
              std::string::npos)
        << log;

    winsim::DeliverSubscriptionError(5);
    log = WaitForTrace(traces, "Subscribed again");
    EXPECT_NE(log.find("1 [CNtEventLog] The subscription callback received the following Win32 error: 5\n"),
              std::string::npos);
    EXPECT_NE(log.find("0 [CNtEventLog] Subscribed again, after the last record handled in each channel\n"),
              std::string::npos)
        << log;
    auto events = Publish({Logoff(u"u3")}, 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(FieldsOf(events[0])[u"user_name"], u"u3") << "nothing handled before comes again";
    EXPECT_EQ(winsim::OpenSubscriptionCount(), 1u);
}

TEST_F(EventLogPlugin, AServiceRestartLosesAndDuplicatesNothing) {
    testing::TraceLog traces;
    Publish({Logoff(u"u1"), Logoff(u"u2")}, 2);
    winsim::StopEventLogService();
    for (const char16_t* user : {u"u3", u"u4", u"u5"}) winsim::PublishEvent(Logoff(user));
    winsim::StartEventLogService();
    ASSERT_TRUE(host.WaitForEvents(5));
    winsim::PublishEvent(Logoff(u"u6"));
    ASSERT_TRUE(host.WaitForEvents(6));
    winsim::WaitForEventDelivery();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // nothing more may follow
    std::vector<std::u16string> users;
    {
        std::lock_guard guard(host.lock);
        for (const auto& event : host.events) users.push_back(FieldsOf(event.get())[u"user_name"]);
    }
    EXPECT_EQ(users, (std::vector<std::u16string>{u"u1", u"u2", u"u3", u"u4", u"u5", u"u6"}));
    EXPECT_EQ(winsim::OpenSubscriptionCount(), 1u) << "the failed one is closed";
    std::string log = traces.Take();
    EXPECT_NE(log.find("The subscription callback received the following Win32 error: 1722\n"), std::string::npos);
    EXPECT_NE(log.find("Subscribed again, after the last record handled"), std::string::npos) << log;
}

TEST_F(EventLogPlugin, WhileTheServiceStaysDownRetriesBackOffUntilStopOrDestroyEndsThem) {
    testing::TraceLog traces;
    winsim::StopEventLogService();
    std::string log = WaitForTrace(traces, "Subscribing again in 1000 ms");
    EXPECT_NE(log.find("0 [CNtEventLog] Subscribing again in 500 ms\n"), std::string::npos) << log;
    EXPECT_NE(log.find("1 [CNtEventLog] EvtSubscribe failed with 1722.\n"), std::string::npos) << log;
    ASSERT_NE(log.find("Subscribing again in 1000 ms"), std::string::npos) << "the wait doubles";
    plugin->Stop();
    while (plugin->IsBusy()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(winsim::OpenSubscriptionCount(), 0u);
    winsim::StartEventLogService();
    StartAndSubscribe();
    EXPECT_EQ(winsim::OpenSubscriptionCount(), 1u);

    // Destroy without a Stop waits for the retry and leaves no subscription behind.
    winsim::StopEventLogService();
    WaitForTrace(traces, "Subscribing again in 500 ms");
    plugin->Destroy();
    EXPECT_EQ(winsim::OpenSubscriptionCount(), 0u);
    winsim::StartEventLogService();
    EXPECT_EQ(traces.Take().find("Subscribed again"), std::string::npos);
    ReplaceDestroyedPlugin();
}

TEST_F(EventLogPlugin, WithoutBookmarksASubscriptionOpensAgainForNewRecords) {
    testing::TraceLog traces;
    plugin->Stop();
    plugin->Destroy();
    ReplaceDestroyedPlugin("EvtCreateBookmark");
    StartAndSubscribe();
    winsim::DeliverSubscriptionError(5);
    std::string log = WaitForTrace(traces, "Subscribed again");
    EXPECT_NE(log.find("1 [CNtEventLog] Subscribed again to new records only"), std::string::npos) << log;
    EXPECT_EQ(Publish({Logoff(u"u1")}, 1).size(), 1u);
}

TEST_F(EventLogPlugin, StopRacingWithDeliveryIsClean) {
    for (int round = 0; round < 5; ++round) {
        std::thread publisher([] {
            for (int i = 0; i < 200; ++i)
                winsim::PublishEvent(Security(4625, Failed4625(u"spray" + std::u16string(1, char16_t(u'a' + i % 26)))));
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(round));
        plugin->Stop();
        publisher.join();
        winsim::WaitForEventDelivery();
        EXPECT_EQ(winsim::OpenSubscriptionCount(), 0u);
        StartAndSubscribe();
    }
}

TEST_F(EventLogPlugin, WithoutTheSubscribeEntryPointTheShareAndTaskMonitorsRunInstead) {
    plugin->Stop();
    plugin->Destroy();
    ReplaceDestroyedPlugin("EvtSubscribe");
    EXPECT_FALSE(plugin->api().CanSubscribe());
    EXPECT_NE(plugin->api().render, nullptr);
    plugin->Start();
    EXPECT_EQ(plugin->IsBusy(), 1) << "the share and task watchers count as running until Stop";
    plugin->Stop();
    while (plugin->IsBusy()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(winsim::OpenSubscriptionCount(), 0u);
}

// Named events committed from two threads, "i" counting from first.
void CommitFromTwoThreads(int first, int count) {
    CSpecialLog& log = LL_singleton<CSpecialLog>::Instance();
    std::vector<std::thread> producers;
    for (int p = 0; p < 2; ++p)
        producers.emplace_back([&log, first, count, p] {
            for (int i = first + p; i < first + count; i += 2) {
                log.SetField(u"EventName", u"Counted");
                log.SetNumber(u"i", i);
                log.Commit();
            }
        });
    for (std::thread& producer : producers) producer.join();
}

TEST_F(EventLogPlugin, DestroyAndRecreateWithASlowHostDeliversEveryEventOnce) {
    host.recordDelayMs = 1;
    CommitFromTwoThreads(0, 100);  // a backlog the host is still taking when the plugin goes
    plugin->Stop();
    plugin->Destroy();
    plugin = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
    plugin->Initialize(&host);
    StartAndSubscribe();
    CommitFromTwoThreads(100, 50);
    ASSERT_TRUE(host.WaitForEvents(150));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // nothing more may follow
    std::lock_guard guard(host.lock);
    ASSERT_EQ(host.events.size(), 150u);
    std::set<std::u16string> numbers;
    for (const auto& event : host.events) numbers.insert(event->fields.at(0).second);
    EXPECT_EQ(numbers.size(), 150u) << "none twice";
}

TEST_F(EventLogPlugin, TheNamedEventWorkerNeedsAHostAndIsTriedAgainAtStart) {
    plugin->Stop();
    plugin->Destroy();
    plugin = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
    plugin->Initialize(nullptr);
    StartAndSubscribe();
    CommitFromTwoThreads(0, 2);  // nobody to deliver to: nothing is recorded
    plugin->Stop();
    plugin->Destroy();

    winsim::RefuseThreads(true);
    plugin = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
    plugin->Initialize(&host);
    CommitFromTwoThreads(2, 2);  // no worker: nothing is recorded
    winsim::RefuseThreads(false);
    StartAndSubscribe();
    CommitFromTwoThreads(4, 2);
    ASSERT_TRUE(host.WaitForEvents(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::lock_guard guard(host.lock);
    ASSERT_EQ(host.events.size(), 2u);
    for (const auto& event : host.events) EXPECT_TRUE(event->fields.at(0).second >= u"4") << "only what came after";
}

TEST_F(EventLogPlugin, DestroyReturnsOnlyOnceTheAttackWatcherHasLeft) {
    // The host may unload the module once Destroy has returned: no watcher may still wait in it,
    // even without a Stop before and without a change in the watched folder.
    plugin->Destroy();
    EXPECT_TRUE(LL_singleton<CAttackMonitor>::Instance().WaitForWatcher(0));
    ReplaceDestroyedPlugin();
}

TEST(EventLogSettings, DesktopKeyOnlyWhenChosenBeforeInitialize) {
    testing::FakeHost host;
    auto* before = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
    before->SetProperty(5, nullptr);
    before->Initialize(&host);
    EXPECT_EQ(before->configurationKey(), u"SOFTWARE\\Brisel\\QorEntSecurity\\EventLog");
    EXPECT_EQ(before->serviceHostPath(), u"C:\\Windows\\system32\\svchost.exe");
    before->Destroy();

    auto* after = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
    after->Initialize(&host);
    after->SetProperty(5, nullptr);
    after->Initialize(&host);
    EXPECT_EQ(after->configurationKey(), u"SOFTWARE\\QorEntSecurity\\EventLog");
    after->Destroy();
}

TEST(RegistryViews, A32BitCallerReachesTheRedirectedCopyUnlessItAsksForThe64BitView) {
    using winsim::Hive;
    using winsim::KeyInView;
    const std::u16string channels = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WINEVT\\Channels";
    EXPECT_EQ(KeyInView(Hive::LocalMachine, channels, 0),
              u"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\WINEVT\\Channels");
    EXPECT_EQ(KeyInView(Hive::LocalMachine, channels, winsim::kKeyWow64_64Key), channels);
    for (const char16_t* unchanged :
         {u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\QorExtHost.exe",
          u"software\\microsoft\\windows nt\\currentversion\\profilelist\\S-1-5-18",
          u"SOFTWARE\\WOW6432Node\\Vendor", u"SYSTEM\\CurrentControlSet\\Services", u"SOFTWARE"})
        EXPECT_EQ(KeyInView(Hive::LocalMachine, unchanged, 0), unchanged) << ToUtf8(unchanged);
    EXPECT_EQ(KeyInView(Hive::LocalMachine, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App PathsX", 0),
              u"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\App PathsX")
        << "a shared key covers its subkeys, not its neighbours";
    EXPECT_EQ(KeyInView(Hive::Users, u"SOFTWARE\\Vendor", 0), u"SOFTWARE\\Vendor");

    // The module reads and writes what 64-bit Windows reads, never the 32-bit copy.
    const std::u16string key = u"SOFTWARE\\VantelViews";
    winsim::RegSetDword(Hive::LocalMachine, u"SOFTWARE\\WOW6432Node\\VantelViews", u"Copy", 7);
    uint32_t number = 0;
    EXPECT_EQ(platform::RegReadDword(platform::RegRoot::LocalMachine, key, u"Copy", &number),
              platform::kErrorFileNotFound);
    EXPECT_EQ(platform::RegWriteDword(platform::RegRoot::LocalMachine, key, u"Own", 1), platform::kErrorSuccess);
    EXPECT_TRUE(winsim::RegGetValue(Hive::LocalMachine, key, u"Own").has_value());
    EXPECT_FALSE(winsim::RegGetValue(Hive::LocalMachine, u"SOFTWARE\\WOW6432Node\\VantelViews", u"Own").has_value());
    winsim::RegDeleteTree(Hive::LocalMachine, key);
    winsim::RegDeleteTree(Hive::LocalMachine, u"SOFTWARE\\WOW6432Node\\VantelViews");
}

TEST(EventLogInstall, SwitchesAuditingAndTheCapi2ChannelOn) {
    winsim::AuditPolicy policy;
    policy.options = {4, 4, 0, 1, 0, 0, 2, 0, 0};
    winsim::SetAuditPolicy(policy);
    auto* plugin = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
    EXPECT_EQ(plugin->Install(), 0);
    winsim::AuditPolicy now = winsim::GetAuditPolicy();
    EXPECT_TRUE(now.auditingMode);
    EXPECT_EQ(now.options, (std::vector<uint32_t>{4, 3, 3, 1, 0, 0, 3, 0, 0})) << "other categories unchanged";
    auto enabled = winsim::RegGetValue(
        winsim::Hive::LocalMachine,
        u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WINEVT\\Channels\\Microsoft-Windows-CAPI2/Operational",
        u"Enabled");
    ASSERT_TRUE(enabled.has_value()) << "written where the 64-bit event-log service reads it";
    EXPECT_EQ(enabled->data, (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_FALSE(winsim::RegKeyExists(winsim::Hive::LocalMachine,
                                      u"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\WINEVT"))
        << "nothing in the 32-bit copy";

    EXPECT_TRUE(plugin->SetAuditPolicy(false));
    EXPECT_EQ(winsim::GetAuditPolicy().options[1], 4u);
    winsim::FailLsa(winsim::LsaStep::Query, static_cast<int32_t>(0xC0000022));
    EXPECT_FALSE(plugin->SetAuditPolicy(true));
    EXPECT_EQ(plugin->Install(), 0) << "a failed policy write is no failure of Install";
    winsim::FailLsa(winsim::LsaStep::Query, 0);
    winsim::SetAuditPolicy({false, {}});
    EXPECT_FALSE(plugin->SetAuditPolicy(true)) << "no categories";
    plugin->Destroy();
}

}  // namespace
}  // namespace vantel
