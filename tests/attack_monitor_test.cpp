// The attack monitor over winsim's C: drive: "AtLog.xml" written, rewritten, renamed into place
// or hidden among other changes, and its entries read through the companion library.
#include "monitors/attack_monitor.h"

#include "agentlibs/qorbase/xml_document.h"
#include "monitor_fixture.h"
#include "platform/registry.h"
#include "winsim/directory_changes.h"

namespace vantel {
namespace {

constexpr char16_t kKey[] = u"SOFTWARE\\QorEntSecurity\\EventLog";
constexpr uint64_t kSavedAt = 132539328000000000ull;

std::string Entry(int id, const char* type, const char* log) {
    return "<attack id=\"" + std::to_string(id) + "\"><type>" + type + "</type><time>160945920" + std::to_string(id % 10) +
           "</time><log>" + log + "</log></attack>";
}

class AttackMonitor : public ChangeMonitor {
protected:
    void SetUp() override {
        ChangeMonitor::SetUp();
        winsim::RegDeleteValue(winsim::Hive::LocalMachine, kKey, u"NextId");
        ASSERT_TRUE(monitor().StartMonitor(kKey));
        ASSERT_TRUE(Eventually([] { return winsim::WaitingDirectoryWatches(monitor().folderPath()) > 0; }));
    }
    void TearDown() override {
        monitor().StopMonitor();
        EXPECT_TRUE(monitor().WaitForWatcher(5000));
    }
    static CAttackMonitor& monitor() { return LL_singleton<CAttackMonitor>::Instance(); }

    static void WriteLog(const std::vector<std::string>& entries, std::optional<uint64_t> savedAt = std::nullopt,
                         const std::u16string& path = monitor().configurationFilePath()) {
        std::string xml = "<?xml version=\"1.0\"?>\n<root>";
        for (const std::string& entry : entries) xml += entry;
        ASSERT_TRUE(winsim::WriteFile(path, xml + "</root>", savedAt));
    }
    static std::u16string NextId() {
        std::u16string id;
        platform::RegReadString(platform::RegRoot::LocalMachine, kKey, u"NextId", &id);
        return id;
    }
};

TEST_F(AttackMonitor, NewEntriesAreReportedOnceWithCountsPerTypeAndNextIdFollows) {
    // Counts live as long as the monitor: types of their own for each run of the test.
    static int run = 0;
    std::string rdp = "rdp-" + std::to_string(++run), smb = "smb-" + std::to_string(run);
    std::vector<std::string> entries = {Entry(1, rdp.c_str(), "bad password from ip:198.51.100.7,port 3389"),
                                        Entry(2, rdp.c_str(), "bad password from ip:198.51.100.8,port 3389"),
                                        Entry(3, smb.c_str(), "ip:203.0.113.5")};
    WriteLog(entries);
    auto events = Events(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].name, u"RemoteLogonFailed");
    EXPECT_EQ(events[0].fields, (Fields{{u"computer_name", u"WINSIM"},
                                        {u"logon_time", u"1609459201"},
                                        {u"attack_type", FromUtf8(rdp)},
                                        {u"attack_ip", u"198.51.100.7"},
                                        {u"action_count", u"0"}}));
    EXPECT_EQ(events[1].fields[u"action_count"], u"1");
    EXPECT_EQ(events[1].fields[u"attack_ip"], u"198.51.100.8");
    EXPECT_EQ(events[2].fields[u"action_count"], u"0") << "counted per type";
    EXPECT_EQ(events[2].fields[u"attack_ip"], u"ip:203.0.113.5") << "no comma: the whole text";
    EXPECT_EQ(NextId(), u"3");

    entries.push_back(Entry(4, rdp.c_str(), "from ip:198.51.100.9,x"));
    WriteLog(entries);
    events = Events(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].fields[u"attack_ip"], u"198.51.100.9");
    EXPECT_EQ(events[0].fields[u"action_count"], u"2") << "the count goes on across reloads";
    EXPECT_EQ(NextId(), u"4");
}

TEST_F(AttackMonitor, EntriesOutOfOrderAreNotReportedTwice) {
    WriteLog({Entry(5, "order-1", "ip:10.2.0.5,"), Entry(3, "order-1", "ip:10.2.0.3,")});
    ASSERT_EQ(Events(2).size(), 2u);
    EXPECT_EQ(NextId(), u"5") << "the highest id reported";
    WriteLog({Entry(5, "order-1", "ip:10.2.0.5,"), Entry(3, "order-1", "ip:10.2.0.3,"), Entry(6, "order-1", "ip:10.2.0.6,")});
    auto events = Events(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].fields[u"attack_ip"], u"10.2.0.6");
}

TEST_F(AttackMonitor, OtherFilesAndSavesThatChangeNothingAreIgnored) {
    WriteLog({Entry(1, "ignored-1", "ip:10.0.0.1,")}, kSavedAt);
    ASSERT_EQ(Events(1).size(), 1u);
    ASSERT_TRUE(winsim::WriteFile(monitor().folderPath() + u"\\other.xml", "<root/>"));
    WriteLog({Entry(1, "ignored-1", "ip:10.0.0.9,")}, kSavedAt);  // same size, same time
    WriteLog({Entry(1, "ignored-1", "ip:10.0.0.1,"), Entry(2, "ignored-1", "ip:10.0.0.2,")});
    auto events = Events(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].fields[u"attack_ip"], u"10.0.0.2");
}

TEST_F(AttackMonitor, TheFileCountsWhenRenamedIntoPlaceNamedShortOrHiddenInAnOverflow) {
    std::u16string draft = monitor().folderPath() + u"\\AtLog.tmp";
    WriteLog({Entry(1, "odd-1", "ip:10.1.0.1,")}, std::nullopt, draft);
    winsim::RenameFile(draft, monitor().configurationFilePath());
    ASSERT_EQ(Events(1).size(), 1u) << "saved elsewhere and renamed into place";

    winsim::SetShortNameNotifications(true);
    WriteLog({Entry(1, "odd-1", "ip:10.1.0.1,"), Entry(2, "odd-1", "ip:10.1.0.2,")});
    ASSERT_EQ(Events(1).size(), 1u) << "ATLOG~1.XML is the file";
    winsim::SetShortNameNotifications(false);

    {
        winsim::FileChangeBatch together;
        for (int i = 0; i < 100; ++i)
            winsim::WriteFile(monitor().folderPath() + u"\\noise" + FromUtf8(std::to_string(i)) + u".log", "x");
        WriteLog({Entry(1, "odd-1", "ip:10.1.0.1,"), Entry(2, "odd-1", "ip:10.1.0.2,"), Entry(3, "odd-1", "ip:10.1.0.3,")});
    }
    auto events = Events(1);
    ASSERT_EQ(events.size(), 1u) << "the file is looked at when the records overflowed";
    EXPECT_EQ(events[0].fields[u"attack_ip"], u"10.1.0.3");
}

TEST_F(AttackMonitor, AStopEndsTheWatcherWithoutAChangeInItsFolder) {
    monitor().StopMonitor();
    EXPECT_TRUE(monitor().WaitForWatcher(5000));
    EXPECT_EQ(winsim::WaitingDirectoryWatches(monitor().folderPath()), 0u);
}

TEST_F(AttackMonitor, TheFolderItMadeAdmitsOnlySystemAndAdministrators) {
    EXPECT_EQ(monitor().folderPath(), u"C:\\ProgramData\\Brisel\\Qorwend");
    EXPECT_EQ(winsim::FileSecurity(monitor().folderPath()), u"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
}

TEST(AttackFolder, OrdinaryUsersMayWriteWhereTheListLetsThemAddFiles) {
    const std::u16string folder = u"C:\\ProgramData\\VantelFolderCheck";
    winsim::CreateFolder(folder, u"");
    winsim::SetFileSecurity(folder, winsim::kDefaultFileSecurity);
    EXPECT_TRUE(OrdinaryUsersMayWrite(folder)) << "users may add files to what the common folder gives";
    winsim::SetFileSecurity(folder, u"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;BU)(A;;0x1200a9;;;WD)");
    EXPECT_FALSE(OrdinaryUsersMayWrite(folder)) << "rights for what is created below, or to read, are no write";
    winsim::SetFileSecurity(folder, u"D:(A;;0x2;;;AU)");
    EXPECT_TRUE(OrdinaryUsersMayWrite(folder));
    winsim::SetFileSecurity(folder, u"O:SY");
    EXPECT_TRUE(OrdinaryUsersMayWrite(folder)) << "no list at all lets everyone in";
}

TEST(AttackLog, AddressBetweenTheFirstMarkAndTheLastComma) {
    EXPECT_EQ(AttackAddress(u"from ip:203.0.113.9,port 3389"), u"203.0.113.9");
    EXPECT_EQ(AttackAddress(u"ip:10.0.0.1, user x, port 1"), u"10.0.0.1, user x");
    EXPECT_EQ(AttackAddress(u"no address at all"), u"no address at all");
    EXPECT_EQ(AttackAddress(u"a, b then ip:10.0.0.1"), u"");
}

TEST(AttackLog, EntriesAfterTheLastIdUntilOneWithoutFields) {
    auto read = [](const char* xml, int64_t lastId) {
        auto* document = new qorbase::XmlDocument;
        document->LoadFileContents(xml);
        std::vector<AttackRecord> attacks;
        ReadAttackEntries(document, lastId, &attacks);
        document->Release();
        std::vector<std::u16string> ids;
        for (const AttackRecord& attack : attacks) ids.push_back(attack.id + u"/" + attack.type);
        return ids;
    };
    const char* kLog = "<log><root><a id='1'><type>t</type></a><b id='2'><type>u</type><extra/></b>"
                       "<a id='3'/><a id='4'><type>v</type></a></root></log>";
    EXPECT_EQ(read(kLog, 0), (std::vector<std::u16string>{u"1/t", u"2/u"})) << "entry 3 has no fields and ends it";
    EXPECT_EQ(read(kLog, 3), (std::vector<std::u16string>{u"4/v"}));
    EXPECT_EQ(read("<root><a><type>t</type></a><a id='x7'><type>u</type></a></root>", -1),
              (std::vector<std::u16string>{u"/t", u"x7/u"}))
        << "a missing or non-numeric id counts as 0";
    EXPECT_TRUE(read("<other/>", 0).empty());
    EXPECT_TRUE(read("<root/>", 0).empty());
}

}  // namespace
}  // namespace vantel
