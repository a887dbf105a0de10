// The scheduled-task monitor over winsim's task folder: task files a test adds, removes and
// changes, alone or several in one notification buffer.
#include "monitors/task_monitor.h"

#include "monitor_fixture.h"
#include "winsim/directory_changes.h"
#include "winsim/scheduled_tasks.h"

namespace vantel {
namespace {

const winsim::ScheduledTask kBackup{u"C:\\Tools\\backup.exe", u"/full /quiet", u"alice"};

class TaskMonitor : public ChangeMonitor {
protected:
    void SetUp() override {
        ChangeMonitor::SetUp();
        std::string folder = winsim::HostPath(winsim::TasksFolder());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        winsim::AddTask(u"Existing", {u"C:\\Tools\\sync.exe", u"", u"bob"});
        ASSERT_TRUE(monitor().StartMonitor());
        // Changes count from the first read on.
        ASSERT_TRUE(Eventually([] { return winsim::WaitingDirectoryWatches(winsim::TasksFolder()) > 0; }));
    }
    void TearDown() override {
        monitor().StopMonitor();
        EXPECT_TRUE(monitor().WaitForWatcher(5000));
    }
    static CTaskMonitor& monitor() { return LL_singleton<CTaskMonitor>::Instance(); }
};

TEST_F(TaskMonitor, AnAddedTaskIsRegisteredAndItsRemovalDeleted) {
    winsim::AddTask(u"Bob", kBackup);
    auto events = Events(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, u"ScheduledTaskRegistered");
    EXPECT_EQ(events[0].fields, (Fields{{u"task_xml", u""},
                                        {u"task_author", u"alice"},
                                        {u"task_name", u"Bob"},
                                        {u"task_exec_command", u"C:\\Tools\\backup.exe"},
                                        {u"task_exec_arguments", u"/full /quiet"}}));
    winsim::RemoveTask(u"Bob");
    events = Events(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, u"ScheduledTaskDeleted");
    EXPECT_EQ(events[0].fields, (Fields{{u"task_name", u"Bob"}}));
}

TEST_F(TaskMonitor, ANewProgramIsAModificationWhileTheNumberOfTasksStays) {
    winsim::ChangeTask(u"Existing", {u"C:\\Temp\\dropper.exe", u"-silent", u"bob"});
    auto events = Events(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, u"ScheduledTaskModified");
    EXPECT_EQ(events[0].fields[u"task_name"], u"Existing");
    EXPECT_EQ(events[0].fields[u"task_exec_command"], u"C:\\Temp\\dropper.exe");
    EXPECT_EQ(events[0].fields[u"task_exec_arguments"], u"-silent");
}

TEST_F(TaskMonitor, FilesWithoutTheJobExtensionKeepTheirWholeName) {
    std::u16string notes = winsim::TasksFolder() + u"\\notes.txt";
    winsim::WriteFile(notes, "no task");  // added, but no task can be read for it
    winsim::DeleteFile(notes);
    auto events = Events(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, u"ScheduledTaskDeleted");
    EXPECT_EQ(events[0].fields[u"task_name"], u"notes.txt");
}

TEST_F(TaskMonitor, EveryRecordOfABufferCounts) {
    {
        winsim::FileChangeBatch together;
        winsim::AddTask(u"First", kBackup);
        winsim::RemoveTask(u"Existing");
        winsim::AddTask(u"Second", kBackup);
    }
    auto events = Events(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].name, u"ScheduledTaskRegistered");
    EXPECT_EQ(events[0].fields[u"task_name"], u"First");
    EXPECT_EQ(events[1].name, u"ScheduledTaskDeleted");
    EXPECT_EQ(events[1].fields[u"task_name"], u"Existing");
    EXPECT_EQ(events[2].fields[u"task_name"], u"Second");

    {
        winsim::FileChangeBatch together;  // one comparison finds both
        winsim::ChangeTask(u"First", {u"a.exe", u"", u"alice"});
        winsim::ChangeTask(u"Second", {u"b.exe", u"", u"alice"});
    }
    events = Events(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].name, u"ScheduledTaskModified");
    EXPECT_EQ(events[0].fields[u"task_exec_command"], u"a.exe");
    EXPECT_EQ(events[1].fields[u"task_exec_command"], u"b.exe");
}

TEST_F(TaskMonitor, AListThatCannotBeReadKeepsTheOneThereIs) {
    constexpr int32_t kClassNotRegistered = static_cast<int32_t>(0x80040154);
    winsim::FailTaskScheduler(kClassNotRegistered);
    winsim::ChangeTask(u"Existing", {u"C:\\Temp\\first.exe", u"", u"bob"});
    ASSERT_TRUE(Eventually([] { return winsim::WaitingDirectoryWatches(winsim::TasksFolder()) > 0; }));
    winsim::FailTaskScheduler(0);
    winsim::ChangeTask(u"Existing", {u"C:\\Temp\\second.exe", u"", u"bob"});
    auto events = Events(1);
    ASSERT_EQ(events.size(), 1u) << "compared with the list from before the failure";
    EXPECT_EQ(events[0].name, u"ScheduledTaskModified");
    EXPECT_EQ(events[0].fields[u"task_exec_command"], u"C:\\Temp\\second.exe");
}

TEST_F(TaskMonitor, AnOverflowedBufferStillRefreshesTheList) {
    {
        winsim::FileChangeBatch together;  // far more than 4,096 bytes of records
        for (int i = 0; i < 60; ++i) winsim::AddTask(u"Nightly maintenance task " + FromUtf8(std::to_string(i)), kBackup);
    }
    ASSERT_TRUE(Eventually([] { return winsim::WaitingDirectoryWatches(winsim::TasksFolder()) > 0; }));
    winsim::ChangeTask(u"Nightly maintenance task 7", {u"C:\\Temp\\x.exe", u"", u"alice"});
    auto events = Events(1);
    ASSERT_EQ(events.size(), 1u) << "the additions are lost with the buffer, the list is not";
    EXPECT_EQ(events[0].name, u"ScheduledTaskModified");
    EXPECT_EQ(events[0].fields[u"task_name"], u"Nightly maintenance task 7");
}

}  // namespace
}  // namespace vantel
