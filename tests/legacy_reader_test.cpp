// The classic event-log interface of winsim as the platform reads it, and the plugin's two
// classic readers following the Security and System logs.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "eventlog/nt_event_log.h"
#include "fake_host.h"
#include "monitors/legacy_reader.h"
#include "monitors/named_event_log.h"
#include "plugin/factory.h"
#include "plugin/singleton.h"
#include "winsim/accounts.h"
#include "winsim/classic_eventlog.h"
#include "winsim/eventlog.h"
#include "winsim/eventlog_service.h"
#include "winsim/system_libraries.h"

namespace vantel {
namespace {

using winsim::ClassicRecord;

// The record numbers a read returned, in order, or the read's error as a negative number.
std::vector<int64_t> Numbers(platform::LegacyEventLog& log, uint32_t flags, uint32_t record = 0, size_t bytes = 65536) {
    std::vector<uint8_t> buffer(bytes);
    uint32_t read = 0, needed = 0;
    if (int32_t error = log.Read(flags, record, buffer, &read, &needed)) return {-error};
    std::vector<int64_t> numbers;
    ForEachLegacyRecord(std::span(buffer.data(), read), [&](const LegacyEventRecord& parsed) {
        numbers.push_back(parsed.recordNumber);
        return true;
    });
    return numbers;
}

constexpr uint32_t kForwards = platform::kEventLogSequentialRead | platform::kEventLogForwardsRead;
constexpr uint32_t kBackwards = platform::kEventLogSequentialRead | platform::kEventLogBackwardsRead;
constexpr uint32_t kSeek = platform::kEventLogSeekRead | platform::kEventLogForwardsRead;

TEST(ClassicLog, ReadsAsTheClassicInterfaceDoes) {
    winsim::ResetClassicLogs();
    for (uint32_t i = 0; i < 3; ++i) winsim::AppendClassicRecord(u"Application", {1000 + i, 1600000000 + i});
    platform::LegacyEventLog log, backwards;
    ASSERT_EQ(log.Open(u"application"), 0);
    ASSERT_EQ(backwards.Open(u"Application"), 0);
    EXPECT_EQ(Numbers(backwards, kBackwards), (std::vector<int64_t>{3, 2, 1}));
    EXPECT_EQ(Numbers(backwards, kBackwards), std::vector<int64_t>{-38});
    EXPECT_EQ(Numbers(log, kSeek, 2), (std::vector<int64_t>{2, 3})) << "a seek moves the position";
    EXPECT_EQ(Numbers(log, kForwards), std::vector<int64_t>{-38});
    EXPECT_EQ(Numbers(log, kSeek, 4), std::vector<int64_t>{-87});
    EXPECT_EQ(Numbers(log, kForwards, 0, 40), std::vector<int64_t>{-38});
    winsim::AppendClassicRecord(u"Application", {1003, 1600000003});
    EXPECT_EQ(Numbers(log, kForwards, 0, 40), std::vector<int64_t>{-122}) << "not even one record fits";
    EXPECT_EQ(Numbers(log, kForwards), std::vector<int64_t>{4}) << "the position stays where it was";

    uint32_t oldest = 0, count = 0;
    winsim::ClearClassicLog(u"Application", {{1004, 1600000004}});
    EXPECT_EQ(Numbers(log, kForwards), std::vector<int64_t>{-1503});
    platform::LegacyEventLog reopened;
    ASSERT_EQ(reopened.Open(u"Application"), 0);
    ASSERT_EQ(reopened.OldestRecord(&oldest), 0);
    ASSERT_EQ(reopened.RecordCount(&count), 0);
    EXPECT_EQ(oldest, 1u) << "a new file numbers from 1 again";
    EXPECT_EQ(count, 1u);
    platform::LegacyEventLog missing;
    EXPECT_EQ(missing.Open(u"NoSuchLog"), 2);
}

TEST(ClassicLog, KeepsWhatItsMaximumSizeHolds) {
    winsim::ResetClassicLogs();
    ClassicRecord record{528, 1600000000, {u"alice"}};
    winsim::AppendClassicRecord(u"Security", record);
    platform::LegacyEventLog log;
    ASSERT_EQ(log.Open(u"Security"), 0);
    // The oldest go first; the numbers go on.
    winsim::SetClassicLogRetention(u"Security", 1000, false);
    for (int i = 0; i < 9; ++i) winsim::AppendClassicRecord(u"Security", record);
    size_t kept = winsim::ClassicRecordCount(u"Security");
    EXPECT_GT(kept, 1u);
    EXPECT_LT(kept, 10u);
    std::vector<int64_t> newest;
    for (size_t number = 11 - kept; number <= 10; ++number) newest.push_back(static_cast<int64_t>(number));
    EXPECT_EQ(Numbers(log, kForwards), newest);
    winsim::AppendClassicRecord(u"System", record);
    EXPECT_EQ(winsim::ClassicRecordCount(u"Security"), kept) << "each log keeps its own";
    // A log that archives when full starts a new file instead: open readers see it changed.
    winsim::SetClassicLogRetention(u"Security", 1000, true);
    winsim::AppendClassicRecord(u"Security", record);
    EXPECT_EQ(winsim::ClassicRecordCount(u"Security"), 1u);
    EXPECT_EQ(Numbers(log, kForwards), std::vector<int64_t>{-1503});
}

TEST(ChannelRetention, EachChannelKeepsItsNewestRecordsUpToItsMaximum) {
    winsim::ResetEventLog();
    auto record = [](uint16_t id) {
        winsim::EventRecord made(u"Security", u"Provider", id);
        made.Values({winsim::EventValue::String(u"value")});
        return made;
    };
    uint64_t size = winsim::StoredSize(record(1));
    winsim::SetChannelMaximumSize(u"security", 5 * size);
    for (uint16_t id = 1; id <= 12; ++id) {
        winsim::PublishEvent(record(id));
        winsim::EventRecord system = record(id);
        system.channel = u"System";
        winsim::PublishEvent(std::move(system));
    }
    EXPECT_EQ(winsim::ChannelRecordCount(u"Security"), 5u);
    EXPECT_EQ(winsim::ChannelRecordCount(u"System"), 12u) << "only Security was made smaller";
    // What is kept is the newest, with the record ids the channel gave them.
    std::shared_ptr<winsim::QueryReading> kept;
    ASSERT_EQ(winsim::QueryEvents(u"Security", u"*", false, &kept), 0u);
    winsim::EventPtr oldest = winsim::NextQueryRecord(*kept);
    ASSERT_NE(oldest, nullptr);
    EXPECT_EQ(oldest->system[evt::kSystemEventID].number, 8u);
    EXPECT_EQ(oldest->system[evt::kSystemEventRecordId].number, 8u);
}

// The plugin over a machine without the modern interface: its classic readers watch both logs.
class LegacyReaders : public ::testing::Test {
protected:
    void SetUp() override {
        winsim::ResetClassicLogs();
        winsim::ResetAccounts();
        winsim::AddUser({u"alice", 2, u"S-1-5-21-1-2-3-1001"});
        winsim::RemoveLibraryExport(u"Wevtapi.dll", "EvtSubscribe");
        plugin = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
        plugin->Initialize(&host);
        plugin->Start();
        WaitForWatchers(1);
    }
    void TearDown() override {
        plugin->Stop();
        plugin->Destroy();
        winsim::RestoreLibraryExport(u"Wevtapi.dll", "EvtSubscribe");
        LL_singleton<CSpecialLog>::Instance().Stop(5000);
    }
    static bool WaitFor(const std::function<bool()>& condition) {
        for (int i = 0; i < 2000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return condition();
    }
    static void WaitForWatchers(size_t each) {
        ASSERT_TRUE(WaitFor([&] {
            return winsim::ClassicLogWatcherCount(u"Security") == each && winsim::ClassicLogWatcherCount(u"System") == each;
        }));
    }
    testing::FakeEvent& Event(size_t index) {
        EXPECT_TRUE(host.WaitForEvents(index + 1));
        std::lock_guard guard(host.lock);
        return *host.events.at(index);
    }
    static std::u16string Field(const testing::FakeEvent& event, const std::u16string& name) {
        for (const auto& [field, value] : event.fields)
            if (field == name) return value;
        return u"<none>";
    }

    testing::FakeHost host;
    CNtEventLog* plugin = nullptr;
};

TEST_F(LegacyReaders, TranslateWhatIsWrittenAfterThemByTheLow16BitsOfItsId) {
    winsim::AppendClassicRecord(u"Security", {0xC0000000u | 529, 1600000100, {u"mallory", u"WINSIM", u"x", u"3"}});
    EXPECT_EQ(Event(0).name, u"UserLogonFailed");
    EXPECT_EQ(Field(Event(0), u"computer_name"), u"WINSIM") << "each record's own computer";
    winsim::AppendClassicRecord(u"System", {7036, 1600000200, {u"Unknown Service", u"正在运行"}});
    winsim::AppendClassicRecord(u"Security", {538, 1600000300, {u"alice", u"WINSIM"}, u"Security", 8, 0, {}, {}, u"OLD"});
    EXPECT_EQ(Event(1).name, u"UserLogoff");
    EXPECT_EQ(Field(Event(1), u"computer_name"), u"OLD");
}

TEST_F(LegacyReaders, AClearedLogIsRescannedWholeThenWatchedAgain) {
    // The log-cleared record second in its batch: it is found all the same.
    winsim::ClearClassicLog(u"Security", {{538, 1600000000, {u"alice", u"WINSIM"}},
                                          {517, 1600000001, {u"-", u"-", u"-", u"admin", u"CORP"}}});
    EXPECT_EQ(Event(0).name, u"EventLogCleared");
    EXPECT_EQ(Field(Event(0), u"user_name"), u"admin");
    WaitForWatchers(1);
    // A record larger than a whole batch of the rescan.
    winsim::ClearClassicLog(u"Security", {{517, 1600000002, {u"-", u"-", u"-", std::u16string(40000, u'a'), u"X"}}});
    EXPECT_EQ(Field(Event(1), u"logon_domain"), u"X");
    WaitForWatchers(1);
    winsim::AppendClassicRecord(u"Security", {528, 1600000003, {u"alice", u"WINSIM", u"x", u"2"}});
    EXPECT_EQ(Event(2).name, u"UserLogon") << "watching goes on behind the new file's records";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::lock_guard guard(host.lock);
    EXPECT_EQ(host.events.size(), 3u) << "the rescan reports log clearing only, and each record once";
}

TEST_F(LegacyReaders, StopWakesTheWorkersAndTheyLetGoOfEverything) {
    plugin->Stop();
    EXPECT_TRUE(WaitFor([&] {
        return winsim::OpenClassicLogHandleCount() == 0 && !plugin->LegacySlotOpen(u"Security") &&
               !plugin->LegacySlotOpen(u"System");
    }));
    // A quick Start after a Stop leaves one reader per log, whichever the old ones saw first.
    plugin->Start();
    plugin->Stop();
    plugin->Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the first run's readers end at once
    WaitForWatchers(1);
    EXPECT_TRUE(WaitFor([] { return winsim::OpenClassicLogHandleCount() == 2; }));
    winsim::AppendClassicRecord(u"Security", {529, 1600000100, {u"mallory", u"WINSIM"}});
    EXPECT_EQ(Field(Event(0), u"action_count"), u"1");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::lock_guard guard(host.lock);
    EXPECT_EQ(host.events.size(), 1u);
}

TEST(LegacyRecordReading, PositionsBehindTheNewestRecordAndFindsNothingNew) {
    winsim::ResetClassicLogs();
    platform::LegacyEventLog empty;
    ASSERT_EQ(empty.Open(u"System"), 0);
    EXPECT_EQ(SeekToLastRecord(empty), 0) << "an empty log needs no positioning";
    for (uint32_t i = 0; i < 3; ++i) winsim::AppendClassicRecord(u"Security", {528, 1600000000 + i});
    platform::LegacyEventLog log;
    ASSERT_EQ(log.Open(u"Security"), 0);
    ASSERT_EQ(SeekToLastRecord(log), 0);
    testing::FakeHost host;
    auto* plugin = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
    plugin->Initialize(&host);
    EXPECT_EQ(plugin->DumpNewRecords(log), 0);
    std::vector<uint8_t> record;
    EXPECT_EQ(ReadRecord(log, kForwards, 0, &record), 38);
    winsim::AppendClassicRecord(u"Security", {528, 1600000003, {std::u16string(100, u'x')}});
    ASSERT_EQ(ReadRecord(log, kForwards, 0, &record), 0);
    EXPECT_EQ(LegacyEventRecord::Parse(record.data(), record.size())->recordNumber, 4u) << "one record, grown to fit";
    plugin->Destroy();
    LL_singleton<CSpecialLog>::Instance().Stop(5000);
    EXPECT_TRUE(host.events.empty());
}

}  // namespace
}  // namespace vantel
