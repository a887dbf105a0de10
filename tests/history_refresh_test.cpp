// The server's history request for "EventLog" through the plugin's message handler, answered
// from the modern channels or, on a machine without the modern query interface, from the
// classic logs.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "agent_root.h"
#include "eventlog/nt_event_log.h"
#include "fake_host.h"
#include "monitors/history_readers.h"
#include "monitors/named_event_log.h"
#include "plugin/factory.h"
#include "plugin/singleton.h"
#include "winsim/accounts.h"
#include "winsim/classic_eventlog.h"
#include "winsim/eventlog.h"
#include "winsim/message_modules.h"
#include "winsim/registry.h"
#include "winsim/system_libraries.h"

namespace vantel {
namespace {

using Item = std::map<std::u16string, std::u16string>;
using winsim::EventValue;

constexpr uint32_t kNow = 1700000000;  // seconds since 1970, where the machine's clock stands
constexpr uint64_t kDay = 86400;
constexpr char16_t kConfigurationKey[] = u"SOFTWARE\\QorEntSecurity\\EventLog";
constexpr char16_t kAlice[] = u"S-1-5-21-1-2-3-1001";

const auto* const kAgentRoot = ::testing::AddGlobalTestEnvironment(new testing::AgentRoot);

uint64_t Ticks(uint64_t seconds) { return (seconds + 11644473600ull) * 10000000ull; }

struct Batch {
    int kind;
    std::u16string tag;  // of the items; empty for an empty batch
    std::vector<Item> items;
};

class HistoryRefresh : public ::testing::Test {
protected:
    explicit HistoryRefresh(bool legacy = false) : legacy_(legacy) {}

    void SetUp() override {
        winsim::ResetEventLog();
        winsim::ResetClassicLogs();
        winsim::ResetMessageModules();
        winsim::RegDeleteTree(winsim::Hive::LocalMachine, u"SOFTWARE\\QorEntSecurity");
        winsim::RegDeleteTree(winsim::Hive::LocalMachine, u"SYSTEM\\CurrentControlSet\\services\\eventlog");
        winsim::ResetAccounts();
        winsim::AddUser({u"alice", 2, kAlice});
        winsim::SetFrozenClock(Ticks(kNow));
        if (legacy_) winsim::RemoveLibraryExport(u"Wevtapi.dll", "EvtQuery");
        host.sent.clear();
        plugin = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
        plugin->Initialize(&host);
        plugin->Start();
        WaitIdle();
    }
    void TearDown() override {
        host.onSent = nullptr;
        plugin->Stop();
        WaitIdle();
        plugin->Destroy();
        winsim::SetFrozenClock(0);
        winsim::RestoreLibraryExport(u"Wevtapi.dll", "EvtQuery");
        LL_singleton<CSpecialLog>::Instance().Stop(5000);
    }
    void WaitIdle() {
        while (plugin->IsBusy()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    // A record of the channel, `age` seconds old, in the form of the path under test.
    void Log(uint32_t id, uint64_t age, uint16_t level = 4) {
        if (legacy_) {
            winsim::AppendClassicRecord(u"Security", {id, static_cast<uint32_t>(kNow - age), {}, u"Security",
                                                      static_cast<uint16_t>(level == 2 ? 1 : 8)});
            return;
        }
        winsim::EventRecord record(u"Security", u"Microsoft-Windows-Security-Auditing", static_cast<uint16_t>(id));
        winsim::PublishEvent(std::move(record.TimeCreated(Ticks(kNow - age)).Level(static_cast<uint8_t>(level))));
    }

    // Sends the request as the server does and answers the batches of the reply.
    std::vector<Batch> Refresh(const std::string& payload) {
        size_t before = host.sent.size();
        testing::FakeMessage message;
        message.payload = payload;
        EXPECT_EQ(host.handler->OnMessage(&message), 1);
        WaitIdle();
        std::vector<Batch> batches;
        for (size_t i = before; i < host.sent.size(); ++i) {
            Batch batch{host.sent[i].kind, u"", {}};
            for (const auto& [tag, values] : host.sent[i].nodes) {
                batch.tag = tag;
                batch.items.emplace_back(values.begin(), values.end());
            }
            batches.push_back(std::move(batch));
        }
        return batches;
    }
    // Three records, the second an error; a first refresh sends them all, newest first, as the
    // first batch of a channel without a mark, and marks the newest.
    void FirstRefreshSendsEverything() {
        Log(1, 300);
        Log(2, 200, 2);
        Log(3, 100);
        std::vector<Batch> first = Refresh(R"({"FreshList":"Security"})");
        ASSERT_EQ(first.size(), 1u);
        EXPECT_EQ(first[0].kind, 1);
        EXPECT_EQ(first[0].tag, u"Security");
        ASSERT_EQ(Ids(first[0]), (std::vector<std::u16string>{u"3", u"2", u"1"}));
        EXPECT_EQ(first[0].items[1].at(u"EventType"), u"Error");
        EXPECT_EQ(first[0].items[0].at(u"TimeGenerated"), u"1699999900");
        EXPECT_EQ(Mark(), kNow - 100);
    }
    // The ids a refresh of a channel with a mark sends, in one batch.
    std::vector<std::u16string> IdsSinceTheMark() {
        std::vector<Batch> batches = Refresh(R"({"FreshList":"Security"})");
        EXPECT_EQ(batches.size(), 1u);
        EXPECT_EQ(batches.at(0).kind, 2);
        return Ids(batches.at(0));
    }
    static std::vector<std::u16string> Ids(const Batch& batch) {
        std::vector<std::u16string> ids;
        for (const Item& item : batch.items) ids.push_back(item.at(u"EventID"));
        return ids;
    }
    static std::optional<uint64_t> Mark() {
        auto value = winsim::RegGetValue(winsim::Hive::LocalMachine, kConfigurationKey, u"Security");
        if (!value || value->type != winsim::ValueType::Qword) return std::nullopt;
        uint64_t mark = 0;
        for (int i = 7; i >= 0; --i) mark = (mark << 8) | value->data.at(i);
        return mark;
    }

    // The link registers with the first host only, so every test here shares one.
    static testing::FakeHost& TheHost() {
        static auto* const host = new testing::FakeHost;
        return *host;
    }

    testing::FakeHost& host = TheHost();
    CNtEventLog* plugin = nullptr;
    const bool legacy_;
};

class LegacyHistoryRefresh : public HistoryRefresh {
protected:
    LegacyHistoryRefresh() : HistoryRefresh(true) {}
};

TEST_F(HistoryRefresh, FirstSendsEverythingThenFromTheMarkOnWhichComesAgain) {
    FirstRefreshSendsEverything();
    Log(4, 50);
    EXPECT_EQ(IdsSinceTheMark(), (std::vector<std::u16string>{u"4", u"3"}));
    EXPECT_EQ(Mark(), kNow - 50);
}

TEST_F(LegacyHistoryRefresh, FirstSendsEverythingThenOnlyWhatIsNewerThanTheMark) {
    FirstRefreshSendsEverything();
    Log(4, 50);
    EXPECT_EQ(IdsSinceTheMark(), std::vector<std::u16string>{u"4"});
    // Days on the classic path: the window, named so, and the mark moves all the same.
    Log(5, 10);
    std::vector<Batch> days = Refresh(R"({"FreshList":"Security","LastDays":"1"})");
    ASSERT_EQ(days.size(), 1u);
    EXPECT_EQ(days[0].tag, u"Security_Days");
    EXPECT_EQ(days[0].kind, 2);
    EXPECT_EQ(Ids(days[0]).size(), 5u);
    EXPECT_EQ(Mark(), kNow - 10);
    EXPECT_TRUE(Refresh(R"({"FreshList":"Security","LastDays":"soon"})")[0].items.empty()) << "no number: 0 days";
}

TEST_F(HistoryRefresh, ALongWindowGoesInBatchesOf5000ThenOf4999) {
    Log(9, 4 * kDay);  // outside the window
    for (uint32_t i = 0; i < 12000; ++i) Log(1, 3 * kDay - 1 - i);
    std::vector<Batch> batches = Refresh(R"({"FreshList":"Security","LastDays":3})");
    ASSERT_EQ(batches.size(), 3u);
    EXPECT_EQ(batches[0].items.size(), 5000u);
    EXPECT_EQ(batches[1].items.size(), 4999u);
    EXPECT_EQ(batches[2].items.size(), 2001u);
    for (const Batch& batch : batches) EXPECT_EQ(batch.tag, u"Security_Days");
    EXPECT_EQ(batches[0].kind, 1);
    EXPECT_EQ(batches[2].kind, 2);
    EXPECT_EQ(Mark(), std::nullopt) << "a window of days leaves the mark alone";
}

TEST_F(HistoryRefresh, WindowsOfDaysCountInMillisecondsWithout32BitWrapping) {
    Log(1, 29 * kDay);
    Log(2, 31 * kDay);
    EXPECT_EQ(Ids(Refresh(R"({"FreshList":"Security","LastDays":"30"})")[0]), std::vector<std::u16string>{u"1"});
    std::vector<Batch> none = Refresh(R"({"FreshList":"Security","LastDays":"x"})");
    ASSERT_EQ(none.size(), 1u) << "one empty batch";
    EXPECT_TRUE(none[0].items.empty());
}

TEST_F(HistoryRefresh, AMarkInTheFutureLooksBackOverNothing) {
    Log(1, 100);
    winsim::RegSetValue(winsim::Hive::LocalMachine, kConfigurationKey, u"Security",
                        {winsim::ValueType::Qword, {0x10, 0x0E, 0, 0, 0, 0, 0, 0}});  // an hour after 1970
    EXPECT_EQ(Refresh(R"({"FreshList":"Security"})")[0].items.size(), 1u) << "a mark in the past";
    uint64_t future = kNow + 3600;
    std::vector<uint8_t> bytes(8);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(future >> (8 * i));
    winsim::RegSetValue(winsim::Hive::LocalMachine, kConfigurationKey, u"Security", {winsim::ValueType::Qword, bytes});
    std::vector<Batch> batches = Refresh(R"({"FreshList":"Security"})");
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_TRUE(batches[0].items.empty()) << "not the whole channel again";
}

TEST_F(HistoryRefresh, StopWhileSendingSendsNoLastBatchNorLeavesItemsBehind) {
    for (uint32_t i = 0; i < 6000; ++i) Log(i, 6000 - i);
    host.onSent = [&] { plugin->Stop(); };
    std::vector<Batch> stopped = Refresh(R"({"FreshList":"Security","LastDays":1})");
    ASSERT_EQ(stopped.size(), 1u);
    EXPECT_EQ(stopped[0].items.size(), 5000u);
    host.onSent = nullptr;
    plugin->Start();
    WaitIdle();
    std::vector<Batch> again = Refresh(R"({"FreshList":"Security","LastDays":1})");
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0].items.size(), 5000u);
    EXPECT_EQ(again[1].items.size(), 1000u);
}

TEST_F(HistoryRefresh, TextsFromThePublisherOrTheRecordsOwnValues) {
    winsim::SetPublisherMessages(u"Auditing", {{{4624, u"An account logged on: %2."}}, {}, {{12544, u"Logon"}}});
    winsim::EventRecord described(u"Security", u"Auditing", 4624);
    described.Task(12544).UserSid(winsim::SidFromText(kAlice)).TimeCreated(Ticks(kNow - 3));
    described.Values({EventValue::String(u"x"), EventValue::String(u"alice")});
    winsim::PublishEvent(std::move(described));
    winsim::EventRecord unknownId(u"Security", u"Auditing", 4625);
    unknownId.TimeCreated(Ticks(kNow - 2)).UserSid(winsim::SidFromText(u"S-1-5-21-9-9-9-9"));
    unknownId.Values({EventValue::String(u"s"), EventValue::UInt32(0xFFFFFFFF), EventValue::HexInt64(5),
                      EventValue::Null()});
    winsim::PublishEvent(std::move(unknownId));
    winsim::EventRecord noMetadata(u"Security", u"Elsewhere", 1);
    noMetadata.TimeCreated(Ticks(kNow - 1)).Values({EventValue::UInt32(7)});
    winsim::PublishEvent(std::move(noMetadata));

    std::vector<Item> items = Refresh(R"({"FreshList":"Security"})")[0].items;
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[2].at(u"Description"), u"An account logged on: alice.");
    EXPECT_EQ(items[2].at(u"EventCategory"), u"Logon");
    EXPECT_EQ(items[2].at(u"UserName"), u"WINSIM\\alice");
    EXPECT_EQ(items[1].at(u"Description"), u"s\r\n-1\r\n\r\n\r\n") << "no message: the values joined";
    EXPECT_EQ(items[1].at(u"EventCategory"), u"");
    EXPECT_EQ(items[1].at(u"UserName"), u"") << "an account nobody knows";
    EXPECT_EQ(items[0].at(u"Description"), u"7\r\n") << "a provider without metadata";
    EXPECT_EQ(items[0].at(u"EventType"), u"Informational");
}

TEST_F(LegacyHistoryRefresh, TextsFromTheMessageFilesTheSourcesRegistered) {
    const std::u16string eventlog = u"SYSTEM\\CurrentControlSet\\services\\eventlog\\Security\\";
    auto registerFile = [&](const std::u16string& source, const std::u16string& path) {
        winsim::RegSetString(winsim::Hive::LocalMachine, eventlog + source, u"EventMessageFile", path,
                             winsim::ValueType::ExpandString);
    };
    winsim::AddMessageModule(u"C:\\Windows\\System32\\audit.dll",
                             {{528, u"Logon of %1 (%2), type %4.%n"}, {2, u"Logon/Logoff"}});
    registerFile(u"Security", u"%SystemRoot%\\System32\\audit.dll");
    winsim::AddMessageModule(u"C:\\second.dll", {{100, u"from the second file"}});
    registerFile(u"Two", u"C:\\first.dll;C:\\second.dll");
    winsim::AddMessageModule(u"C:\\modern.dll", {{200, u"under the longer key"}});
    registerFile(u"Microsoft-Windows-Named", u"C:\\modern.dll");
    winsim::AddMessageModule(u"C:\\windows\\system32\\HHCTRL.ocx", {{300, u"an ocx"}});
    std::vector<uint8_t> data = {'d', 0, 'a', 0, 't', 0, 'a', 0, 0, 0, 'x', 0};
    auto append = [](winsim::ClassicRecord record) { winsim::AppendClassicRecord(u"Security", std::move(record)); };
    append({528, kNow - 6, {u"alice"}, u"Security", 16, 2, winsim::SidFromText(kAlice)});
    append({100, kNow - 5, {}, u"Two", 0});
    append({200, kNow - 4, {}, u"Named"});
    append({300, kNow - 3, {}, u"hhctrl"});
    append({400, kNow - 2, {}, u"Nowhere", 2, 0, {}, data});
    append({401, kNow - 1, {}, u"Nowhere", 4});

    std::map<std::u16string, Item> items;
    std::vector<Batch> batches = Refresh(R"({"FreshList":"Security"})");
    for (const Item& item : batches.at(0).items) items[item.at(u"EventID")] = item;
    ASSERT_EQ(items.size(), 6u);
    // Fewer insertion strings than the message refers to: the missing ones are empty.
    EXPECT_EQ(items[u"528"][u"Description"], u"Logon of alice (), type .\r\n");
    EXPECT_EQ(items[u"528"][u"EventCategory"], u"Logon/Logoff");
    EXPECT_EQ(items[u"528"][u"UserName"], u"WINSIM\\alice");
    EXPECT_EQ(items[u"528"][u"EventType"], u"Audit Failure");
    EXPECT_EQ(items[u"100"][u"Description"], u"from the second file");
    EXPECT_EQ(items[u"100"][u"EventType"], u"Audit Success");
    EXPECT_EQ(items[u"100"][u"UserName"], u"");
    EXPECT_EQ(items[u"200"][u"Description"], u"under the longer key");
    EXPECT_EQ(items[u"300"][u"Description"], u"an ocx");
    EXPECT_EQ(items[u"400"][u"Description"], u"data") << "no file: the data as text";
    EXPECT_EQ(items[u"400"][u"EventType"], u"Warning");
    EXPECT_EQ(items[u"401"][u"Description"], u"");
    EXPECT_EQ(items[u"401"][u"EventType"], u"Informational");
}

TEST_F(LegacyHistoryRefresh, CachingTheSourcesChangesNoEntry) {
    winsim::AddMessageModule(u"C:\\m.dll", {{1, u"one %1"}, {7, u"category"}});
    winsim::RegSetString(winsim::Hive::LocalMachine, u"SYSTEM\\CurrentControlSet\\services\\eventlog\\System\\S",
                         u"EventMessageFile", u"C:\\m.dll");
    winsim::SetPublisherMessages(u"S", {{{1, u"modern %1"}}, {}, {{7, u"task"}}});
    for (uint32_t i = 0; i < 20; ++i) {
        winsim::AppendClassicRecord(u"System", {1 + i % 2, 1600000000 + i, {u"v"}, i % 3 ? u"S" : u"T", 4, 7});
        winsim::EventRecord record(u"System", i % 3 ? u"S" : u"T", static_cast<uint16_t>(1 + i % 2));
        winsim::PublishEvent(std::move(record.Task(7).Values({EventValue::String(u"v")})));
    }
    std::atomic<int32_t> running{0};
    std::vector<HistoryRecord> results[2][2];
    for (auto caching : {MessageSources::Caching::PerRefresh, MessageSources::Caching::None}) {
        MessageSources sources(plugin->api(), caching);
        auto& [classic, modern] = results[caching == MessageSources::Caching::None];
        ASSERT_TRUE(ReadLegacyHistory(u"System", 0, false, sources, running, &classic));
        winsim::RestoreLibraryExport(u"Wevtapi.dll", "EvtQuery");
        EventLogApi api;
        api.Bind();
        ASSERT_TRUE(ReadModernHistory(api, u"System", u"*", sources, running, &modern));
        api.Release();
    }
    EXPECT_EQ(results[0][0], results[1][0]);
    EXPECT_EQ(results[0][1], results[1][1]);
    ASSERT_EQ(results[0][0].size(), 20u);
    EXPECT_EQ(results[0][0][3].Description, u"one v");
    EXPECT_EQ(results[0][0][0].EventCategory, u"category");
    EXPECT_EQ(results[0][1][0].EventCategory, u"task");
}

}  // namespace
}  // namespace vantel
