// Logon records of the classic interface, built by hand in the published record layout, and
// the bound on the failed-logon counts.
#include <gtest/gtest.h>

#include <map>

#include "common/format.h"
#include "eventlog/nt_event_log.h"
#include "fake_host.h"
#include "monitors/named_event_log.h"
#include "plugin/factory.h"
#include "plugin/singleton.h"
#include "winsim/accounts.h"
#include "winsim/services.h"

namespace vantel {
namespace {

using Fields = std::map<std::u16string, std::u16string>;

LegacyEventRecord Record(uint32_t id, std::vector<std::u16string> strings) {
    LegacyEventRecord record;
    record.recordNumber = 7;
    record.timeGenerated = 1600000000;
    record.eventId = id;
    record.eventType = 8;
    record.sourceName = u"Security";
    record.computerName = u"OLDHOST";
    record.userSid = winsim::SidFromText(u"S-1-5-18");
    record.strings = std::move(strings);
    return record;
}

TEST(LegacyRecord, RoundTripsThroughTheRecordLayout) {
    LegacyEventRecord record = Record(528, {u"alice", u"WINSIM", u"(0x0,0x3E7)", u"2", u"User32"});
    record.data = {1, 2, 3};
    std::vector<uint8_t> bytes = record.Serialize();
    auto parsed = LegacyEventRecord::Parse(bytes.data(), bytes.size());
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->eventId, 528u);
    EXPECT_EQ(parsed->strings, record.strings);
    EXPECT_EQ(parsed->sourceName, u"Security");
    EXPECT_EQ(parsed->computerName, u"OLDHOST");
    EXPECT_EQ(parsed->userSid, record.userSid);
    EXPECT_EQ(parsed->data, record.data);
    EXPECT_EQ(parsed->String(9), u"") << "missing strings read as empty";
}

TEST(LegacyRecord, DamagedBytesNeverReadPastTheRecord) {
    std::vector<uint8_t> bytes = Record(529, {u"alice", u"WINSIM"}).Serialize();
    EXPECT_FALSE(LegacyEventRecord::Parse(bytes.data(), 40).has_value());
    EXPECT_FALSE(LegacyEventRecord::Parse(nullptr, 0).has_value());
    std::vector<uint8_t> badSignature = bytes;
    badSignature[4] ^= 0xFF;
    EXPECT_FALSE(LegacyEventRecord::Parse(badSignature.data(), badSignature.size()).has_value());
    // Offsets and counts that point outside the record are cut, not followed.
    std::vector<uint8_t> wild = bytes;
    wild[26] = 0xFF;                        // many strings
    wild[36] = 0xF0, wild[37] = 0xFF;       // strings far away
    wild[44] = 0xFE, wild[48] = 0xFF;       // SID and data out of range
    auto parsed = LegacyEventRecord::Parse(wild.data(), wild.size());
    ASSERT_TRUE(parsed.has_value());
    EXPECT_TRUE(parsed->strings.empty());
    EXPECT_TRUE(parsed->userSid.empty());
}

class LegacyLogon : public ::testing::Test {
protected:
    void SetUp() override {
        winsim::ResetAccounts();
        winsim::AddUser({u"alice", 2, u"S-1-5-21-1-2-3-1001"});
        plugin = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
        plugin->Initialize(&host);
    }
    void TearDown() override {
        plugin->Destroy();
        LL_singleton<CSpecialLog>::Instance().Stop(5000);
    }
    // Translates under the translation lock, as the classic readers do.
    void Translate(const LegacyEventRecord& record) {
        std::vector<uint8_t> bytes = record.Serialize();
        auto parsed = LegacyEventRecord::Parse(bytes.data(), bytes.size());
        ASSERT_TRUE(parsed.has_value());
        std::lock_guard guard(plugin->translationLock());
        if (parsed->eventId == 7036)
            plugin->TranslateSystemEvent(parsed->eventId, *parsed, parsed->timeGenerated);
        else
            plugin->TranslateSecurityEvent(parsed->eventId, *parsed, parsed->timeGenerated);
    }
    Fields Event(size_t index) {
        std::lock_guard guard(host.lock);
        return Fields(host.events[index]->fields.begin(), host.events[index]->fields.end());
    }

    testing::FakeHost host;
    CNtEventLog* plugin = nullptr;
};

TEST_F(LegacyLogon, InteractiveLogonFailureAndLogoff) {
    Translate(Record(528, {u"alice", u"WINSIM", u"(0x0,0x3E7)", u"10", u"User32"}));
    Translate(Record(529, {u"mallory", u"WINSIM", u"x", u"3"}));
    Translate(Record(529, {u"mallory", u"WINSIM", u"x", u"3"}));
    Translate(Record(538, {u"alice", u"WINSIM"}));
    ASSERT_TRUE(host.WaitForEvents(4));
    EXPECT_EQ(host.events[0]->name, u"UserLogon");
    EXPECT_EQ(Event(0), (Fields{{u"computer_name", u""},
                                {u"logon_time", u"1600000000"},
                                {u"logon_domain", u"WINSIM"},
                                {u"user_is_admin", u"1"},
                                {u"user_name", u"alice"},
                                {u"user_sid_readable", u"1"}}));
    EXPECT_EQ(host.events[1]->name, u"UserLogonFailed");
    EXPECT_EQ(Event(1)[u"user_sid_readable"], u"0");
    EXPECT_EQ(Event(2)[u"action_count"], u"2");
    EXPECT_EQ(host.events[3]->name, u"UserLogoff");
}

TEST_F(LegacyLogon, NetworkLogonsAreNotReported) {
    Translate(Record(528, {u"alice", u"WINSIM", u"x", u"3"}));
    Translate(Record(528, {u"alice", u"WINSIM"}));  // too few strings: no logon type
    Translate(Record(538, {u"alice"}));
    ASSERT_TRUE(host.WaitForEvents(1));
    LL_singleton<CSpecialLog>::Instance().Stop(5000);
    ASSERT_EQ(host.events.size(), 1u);
    EXPECT_EQ(host.events[0]->name, u"UserLogoff");
    EXPECT_EQ(Event(0)[u"logon_domain"], u"");
}

TEST_F(LegacyLogon, AccountGroupAndLogClearingRecords) {
    Translate(Record(624, {u"carol", u"WINSIM", u"%{S-1-5-21-1-2-3-1005}"}));
    Translate(Record(630, {u"carol", u"WINSIM", u"S-1-5-21-1-2-3-1005"}));
    Translate(Record(636, {u"x", u"%{S-1-5-21-1-2-3-1005}", u"y", u"Administrators", u"%{S-1-5-32-544}"}));
    Translate(Record(517, {u"-", u"-", u"-", u"admin", u"CORP"}));
    ASSERT_TRUE(host.WaitForEvents(4));
    EXPECT_EQ(host.events[0]->name, u"UserAccountCreated");
    EXPECT_EQ(Event(0), (Fields{{u"user_name", u"carol"}, {u"user_rid", u"1005"}})) << "the closing brace goes";
    EXPECT_EQ(host.events[1]->name, u"UserAccountDeleted");
    EXPECT_EQ(host.events[2]->name, u"UserAccountAddedToGroup");
    EXPECT_EQ(Event(2), (Fields{{u"context_time_stamp", u"1600000000"},
                                {u"user_rid", u"1005"},
                                {u"domain_sid", u"S-1-5-32-544"},
                                {u"group_rid", u"544"}}));
    EXPECT_EQ(host.events[3]->name, u"EventLogCleared");
    EXPECT_EQ(Event(3), (Fields{{u"user_name", u"admin"},
                                {u"logon_domain", u"CORP"},
                                {u"channel", u"Security"},
                                {u"client_computer_name", u""}}));
}

TEST_F(LegacyLogon, ServiceStatesByDisplayNameAndStateWords) {
    winsim::ResetServices();
    winsim::AddService({u"Spooler", u"Print Spooler", u"C:\\Windows\\System32\\spoolsv.exe", 100});
    winsim::AddService({u"Dhcp", u"DHCP Client", u"C:\\Windows\\System32\\dhcp.exe", 200});
    Translate(Record(7036, {u"Print Spooler", u"正在运行"}));
    Translate(Record(7036, {u"DHCP Client", u"正在运行"}));
    Translate(Record(7036, {u"Print Spooler", u"Running"}));  // words of another language: no event
    winsim::AddService({u"Spooler", u"Print Spooler", u"C:\\Windows\\System32\\spoolsv.exe", 0,
                        winsim::ServiceState::Stopped});
    Translate(Record(7036, {u"Print Spooler", u"停止", u"ignored"}));
    ASSERT_TRUE(host.WaitForEvents(3));
    EXPECT_EQ(host.events[0]->name, u"ServiceStarted");
    EXPECT_EQ(Event(0), (Fields{{u"service_display_name", u"Print Spooler"},
                                {u"command_line", u"C:\\Windows\\System32\\spoolsv.exe"},
                                {u"client_computer_name", u""},
                                {u"image_file_name", u"C:\\Windows\\System32\\spoolsv.exe"},
                                {u"service_name", u""},
                                {u"target_process_id", u"100"}}));
    EXPECT_EQ(host.events[2]->name, u"ServiceStopped");
    EXPECT_EQ(Event(2)[u"target_process_id"], u"100") << "the process of this service, not of the last one started";
}

TEST(FailedLogonCountsBound, ForgetsTheLowestCountAndAmongEqualsTheLeastRecent) {
    FailedLogonCounts counts(3);
    EXPECT_EQ(counts.Increment(u"a"), 1u);
    EXPECT_EQ(counts.Increment(u"a"), 2u);
    EXPECT_EQ(counts.Increment(u"b"), 1u);
    EXPECT_EQ(counts.Increment(u"c"), 1u);
    EXPECT_EQ(counts.Increment(u"d"), 1u) << "evicts b, not the less recent a of a higher count";
    EXPECT_EQ(counts.Increment(u"e"), 1u) << "evicts c";
    EXPECT_EQ(counts.size(), 3u);
    EXPECT_EQ(counts.Increment(u"a"), 3u) << "names still held keep their exact counts";
    EXPECT_EQ(counts.Increment(u"d"), 2u);
    EXPECT_EQ(counts.Increment(u"b"), 1u) << "an evicted name starts again, and evicts e";
    EXPECT_EQ(counts.Increment(u"d"), 3u);

    FailedLogonCounts small(10, 2 * FailedLogonCounts::kBytesPerName + 8);
    EXPECT_EQ(small.Increment(u"ab"), 1u);
    EXPECT_EQ(small.Increment(u"cd"), 1u);
    EXPECT_EQ(small.Increment(u"ef"), 1u) << "the byte bound evicts ab";
    EXPECT_EQ(small.size(), 2u);
    EXPECT_EQ(small.Increment(std::u16string(200, u'x')), 1u);
    EXPECT_EQ(small.Increment(std::u16string(200, u'x')), 1u) << "a name beyond the bound by itself is not kept";
    EXPECT_EQ(small.Increment(u"cd"), 2u);
}

// Single-threaded, so ThreadSanitizer adds nothing here but its bookkeeping of every freed 8 KB
// name, which makes the whole spray take more than a minute: under it, a tenth (still ten times
// what the byte bound holds).
#if defined(__SANITIZE_THREAD__)
constexpr uint32_t kSprayedNames = 20000;
#else
constexpr uint32_t kSprayedNames = 200000;
#endif

TEST(FailedLogonCountsBound, ASprayOfLongNamesStaysWithinTheBytesAndATargetKeepsItsCount) {
    FailedLogonCounts counts;
    for (int i = 0; i < 50; ++i) counts.Increment(u"administrator");
    std::u16string name(4096, u'x');
    for (uint32_t i = 0; i < kSprayedNames; ++i) {
        for (uint32_t digit = 0, rest = i; digit < 6; ++digit, rest /= 10)
            name[digit] = static_cast<char16_t>(u'0' + rest % 10);
        ASSERT_EQ(counts.Increment(name), 1u);
        if (i % 4096 == 0) {
            ASSERT_LE(counts.bytes(), FailedLogonCounts::kDefaultMaxBytes);
        }
    }
    EXPECT_LE(counts.bytes(), FailedLogonCounts::kDefaultMaxBytes);
    EXPECT_GT(counts.size(), 1000u) << "the bound holds about 2,000 names of 4,096 characters";
    EXPECT_EQ(counts.Increment(u"administrator"), 51u);

    FailedLogonCounts shortNames;
    for (uint32_t i = 0; i < FailedLogonCounts::kDefaultMaxNames + 1000; ++i) shortNames.Increment(Format(u"u%u", i));
    EXPECT_EQ(shortNames.size(), FailedLogonCounts::kDefaultMaxNames) << "short names meet the count bound first";
}

}  // namespace
}  // namespace vantel
