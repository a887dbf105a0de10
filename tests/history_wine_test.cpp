// What Wine implements for real of the history: message tables read from a message file loaded
// as a data file, the message files that sources register, refresh marks in the registry, and
// the classic log interface (whose logs Wine keeps empty).
#include <windows.h>

#include <gtest/gtest.h>

#include "eventlog/event_values.h"
#include "monitors/history_readers.h"
#include "monitors/legacy_reader.h"

namespace vantel {
namespace {

constexpr uint32_t kLogonMessage = 0x40000210;  // 528, informational
constexpr uint16_t kLogonCategory = 2;
constexpr wchar_t kSourceKey[] = L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Application\\VantelHistoryTest";
constexpr wchar_t kConfigurationKey[] = L"SOFTWARE\\QorEntSecurity\\EventLog";

std::u16string TestFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::u16string folder(reinterpret_cast<const char16_t*>(path));
    return folder.substr(0, folder.rfind(u'\\'));
}

class WineMessageFile : public ::testing::Test {
protected:
    EventLogApi noModernApi;
    MessageSources sources{noModernApi, MessageSources::Caching::PerRefresh};
    const std::u16string file = TestFolder() + u"\\history_messages.dll";
};

TEST_F(WineMessageFile, FormatsMessagesAndCategoriesWithTheirInserts) {
    EXPECT_EQ(GetMessageString(kLogonMessage, {u"alice", u"WINSIM", u"x", u"2"}, file, sources),
              u"Successful Logon: User Name: alice Domain: WINSIM Logon Type: 2\r\n");
    EXPECT_EQ(GetMessageString(kLogonMessage, {u"alice"}, file, sources),
              u"Successful Logon: User Name: alice Domain:  Logon Type: \r\n")
        << "insertion strings the record lacks read as empty";
    EXPECT_EQ(GetMessageString(kLogonCategory, {}, file, sources), u"Logon/Logoff\r\n");
    EXPECT_EQ(GetMessageString(0x40009999, {u"x"}, file, sources), std::nullopt);
    EXPECT_EQ(GetMessageString(kLogonMessage, {u"x"}, TestFolder() + u"\\no_such_file.dll", sources), std::nullopt);
}

TEST_F(WineMessageFile, ARecordFindsTheFileItsSourceRegistered) {
    SetEnvironmentVariableW(L"VANTEL_HISTORY_TEST_DIR", reinterpret_cast<const wchar_t*>(TestFolder().c_str()));
    const wchar_t expandable[] = L"%VANTEL_HISTORY_TEST_DIR%\\history_messages.dll";
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSourceKey, L"EventMessageFile", REG_EXPAND_SZ, expandable,
                              sizeof expandable),
              ERROR_SUCCESS);
    LegacyEventRecord record;
    record.recordNumber = 1;
    record.timeGenerated = 1600000000;
    record.eventId = kLogonMessage;
    record.eventType = 8;
    record.eventCategory = kLogonCategory;
    record.sourceName = u"VantelHistoryTest";
    record.computerName = u"WINE";
    record.strings = {u"alice", u"WINE", u"x", u"10"};
    std::vector<uint8_t> bytes = record.Serialize();
    std::vector<HistoryRecord> history;
    EXPECT_EQ(CollectLegacyRecords(bytes, u"Application", 0, false, sources, &history), 1u);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSourceKey);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].EventID, 528u);
    EXPECT_EQ(history[0].EventCategory, u"Logon/Logoff\r\n");
    EXPECT_EQ(history[0].Description, u"Successful Logon: User Name: alice Domain: WINE Logon Type: 10\r\n");
    EXPECT_EQ(history[0].EventType, u"Audit Success");
}

TEST(WineRegistry, TheRefreshMarkIsAQwordNamedAfterTheChannel) {
    const std::u16string key = reinterpret_cast<const char16_t*>(kConfigurationKey);
    WriteRefreshMark(key, u"VantelHistoryTest", 0x0123456789ABCDEFull);
    DWORD type = 0, bytes = 0;
    uint64_t stored = 0;
    bytes = sizeof stored;
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kConfigurationKey, L"VantelHistoryTest", RRF_RT_ANY, &type, &stored,
                           &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_QWORD));
    EXPECT_EQ(bytes, 8u);
    EXPECT_EQ(stored, 0x0123456789ABCDEFull);
    EXPECT_EQ(ReadRefreshMark(key, u"VantelHistoryTest"), 0x0123456789ABCDEFull);
    DWORD number = 7;
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kConfigurationKey, L"VantelHistoryTest", REG_DWORD, &number, sizeof number);
    EXPECT_EQ(ReadRefreshMark(key, u"VantelHistoryTest"), std::nullopt) << "a value of another type is no mark";
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kConfigurationKey, L"VantelHistoryTest");
    EXPECT_EQ(ReadRefreshMark(key, u"VantelHistoryTest"), std::nullopt);
}

TEST(WineClassicLog, AnEmptyLogIsWatchedFromItsStartAndReadsAsEmpty) {
    platform::LegacyEventLog log;
    ASSERT_EQ(log.Open(u"System"), 0);
    EXPECT_EQ(SeekToLastRecord(log), 0);
    std::vector<HistoryRecord> history;
    EventLogApi noModernApi;
    MessageSources sources(noModernApi, MessageSources::Caching::PerRefresh);
    std::atomic<int32_t> running{0};
    EXPECT_TRUE(ReadLegacyHistory(u"System", 0, false, sources, running, &history));
    EXPECT_TRUE(history.empty());
}

}  // namespace
}  // namespace vantel
