// The share monitor over winsim's server: shares a test adds, removes, renames and
// re-permissions, each change written to the share key that the watcher waits on.
#include "monitors/share_monitor.h"

#include "monitor_fixture.h"
#include "plugin/run_state.h"
#include "winsim/accounts.h"
#include "winsim/shares.h"
#include "winsim/threads.h"

namespace vantel {
namespace {

class ShareMonitor : public ChangeMonitor {
protected:
    void SetUp() override {
        ChangeMonitor::SetUp();
        winsim::ResetShares();
        winsim::ResetAccounts();
        winsim::AddUser({u"alice", 2, u"S-1-5-21-1-2-3-1001"});
        winsim::AddShare({u"Docs", u"C:\\Docs", u"team documents"});
        Start();
    }
    // A change before the watcher has armed is seen only at the next one.
    void Start() {
        ASSERT_TRUE(monitor().StartMonitor());
        ASSERT_TRUE(Eventually([] { return winsim::RegNotificationCount(winsim::Hive::LocalMachine, winsim::kSharesKey) > 0; }));
    }
    void TearDown() override {
        monitor().StopMonitor();
        EXPECT_TRUE(monitor().WaitForWatcher(5000));
    }
    static CShareMonitor& monitor() { return LL_singleton<CShareMonitor>::Instance(); }

    // A share added last, so that a test knows every change before it was looked at.
    NamedEvent Marker() {
        winsim::AddShare({u"Marker", u"C:\\Marker"});
        auto events = Events(1);
        return events.empty() ? NamedEvent{} : events[0];
    }
};

TEST_F(ShareMonitor, AddedSharesAreReportedWithPathRemarkAndLimit) {
    winsim::AddShare({u"Public", u"C:\\Public", u"for everyone"});
    auto events = Events(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, u"NetShareAdd");
    EXPECT_EQ(events[0].fields, (Fields{{u"user_name", u""},
                                        {u"share_name", u"Public"},
                                        {u"share_path", u"C:\\Public"},
                                        {u"Remark", u"for everyone"},
                                        {u"ShareMaxCount", u"4294967295"}}));

    {
        winsim::ShareChangeBatch together;  // both before the watcher's next look
        winsim::AddShare({u"One", u"C:\\One", u"", winsim::kShareTypeDisk, 0, 5});
        winsim::AddShare({u"Two", u"C:\\Two"});
    }
    events = Events(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].fields[u"share_name"], u"One");
    EXPECT_EQ(events[0].fields[u"ShareMaxCount"], u"5");
    EXPECT_EQ(events[1].fields[u"share_name"], u"Two");

    winsim::RemoveShare(u"One");
    events = Events(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, u"NetShareDelete");
    EXPECT_EQ(events[0].fields, (Fields{{u"user_name", u""}, {u"share_name", u"One"}}));
}

TEST_F(ShareMonitor, RenamesAndNewPermissionsAreSecurityChanges) {
    winsim::Share renamed{u"Documents", u"C:\\Docs", u"team documents"};
    winsim::SetShare(u"Docs", renamed);
    auto events = Events(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, u"NetShareSecurityModify");
    EXPECT_EQ(events[0].fields, (Fields{{u"user_name", u""}, {u"share_name", u"Documents"}, {u"share_security", u""}}));

    renamed.security = u"D:(A;;FA;;;S-1-5-21-1-2-3-1001)(A;;0x1301bf;;;BU)(A;;0x1200a9;;;WD)(A;;0x1;;;BG)(D;;FA;;;BG)";
    winsim::SetShare(u"Documents", renamed);
    events = Events(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].fields[u"share_security"], u"alice:F||Users:RW||Everyone:R||||")
        << "an entry with too few rights leaves only its separator, a denying one nothing";
}

TEST_F(ShareMonitor, HiddenSharesRemarksAndLimitsAreNoChange) {
    winsim::AddShare({u"Backup$", u"C:\\Backup"});
    winsim::RemoveShare(u"Backup$");
    winsim::SetShare(u"Docs", {u"Docs", u"C:\\Docs", u"another remark", winsim::kShareTypeDisk, 0, 3});
    NamedEvent marker = Marker();
    EXPECT_EQ(marker.name, u"NetShareAdd");
    EXPECT_EQ(marker.fields[u"share_name"], u"Marker");
}

TEST_F(ShareMonitor, AnAddHidesAPermissionChangeOfTheSameLook) {
    {
        winsim::ShareChangeBatch together;
        winsim::AddShare({u"Added", u"C:\\Added"});
        winsim::SetShare(u"Docs", {u"Docs", u"C:\\Docs", u"team documents", winsim::kShareTypeDisk, 0,
                                   winsim::kUnlimitedUses, 0, u"D:(A;;FA;;;WD)"});
    }
    auto events = Events(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, u"NetShareAdd");
    EXPECT_EQ(events[0].fields[u"share_name"], u"Added");
}

TEST_F(ShareMonitor, SharesThatCannotBeListedAreNotReportedDeleted) {
    winsim::SetShareEnumPage(1);  // resumed call by call
    winsim::FailShareEnum(2);
    winsim::AddShare({u"Unseen", u"C:\\Unseen"});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the watcher's look fails
    winsim::FailShareEnum(0);
    winsim::AddShare({u"Marker", u"C:\\Marker"});
    auto events = Events(2);
    ASSERT_EQ(events.size(), 2u) << "the list kept through the failure still holds Docs";
    for (const NamedEvent& event : events) EXPECT_EQ(event.name, u"NetShareAdd");
    EXPECT_EQ(events[0].fields[u"share_name"], u"Unseen");
    EXPECT_EQ(events[1].fields[u"share_name"], u"Marker");
    winsim::SetShareEnumPage(0);
}

TEST_F(ShareMonitor, AChangeWhileTheWatcherComparesIsNotLost) {
    winsim::AfterNextShareEnum([] { winsim::AddShare({u"Late", u"C:\\Late"}); });
    winsim::AddShare({u"First", u"C:\\First"});
    auto events = Events(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].fields[u"share_name"], u"First");
    EXPECT_EQ(events[1].fields[u"share_name"], u"Late");
}

TEST_F(ShareMonitor, AStopBeforeTheWatcherArmsEndsIt) {
    monitor().StopMonitor();
    ASSERT_TRUE(monitor().WaitForWatcher(5000));
    PluginRunState* eventLog = RunStateOf(u"EventLog");
    winsim::HoldWorkItems(true);
    ASSERT_TRUE(monitor().StartMonitor());
    EXPECT_EQ(eventLog->running, 1) << "counted while it waits to begin";
    monitor().StopMonitor();
    winsim::HoldWorkItems(false);
    EXPECT_TRUE(monitor().WaitForWatcher(5000));
    EXPECT_EQ(eventLog->running, 0);

    Start();
    EXPECT_EQ(Marker().fields[u"share_name"], u"Marker") << "the next start's watcher is not stuck behind it";
}

}  // namespace
}  // namespace vantel
