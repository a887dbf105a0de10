// The change monitors through the real calls under Wine: the attack monitor whole, the task
// monitor over Wine's classic task scheduler, and the share monitor as far as Wine lists shares.
#include <windows.h>
#include <mstask.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/com_ptr.h"
#include "common/system_helpers.h"
#include "fake_host.h"
#include "monitors/attack_monitor.h"
#include "monitors/named_event_log.h"
#include "monitors/share_monitor.h"
#include "monitors/task_monitor.h"
#include "platform/registry.h"
#include "platform/shares.h"
#include "plugin/factory.h"
#include "plugin/singleton.h"

namespace vantel {
namespace {

namespace fs = std::filesystem;

testing::FakeHost& Host() {
    static testing::FakeHost* host = new testing::FakeHost;  // the worker keeps it for the process
    return *host;
}

// The attack entries are read through the companion library, which the test executable finds
// in the folder above it; the named events go to one host for the run.
class WineMachine : public ::testing::Environment {
public:
    void SetUp() override {
        CopyFileW((fs::path("Z:" VANTEL_AGENT_DIR) / "Qorbase.dll").c_str(), Placed().c_str(), FALSE);
        LL_singleton<CSpecialLog>::Instance().Start(&Host(), u"QorExtHost", u"EventLog");
        keeper_ = CreatePluginObject(&kClsidCertificate);  // the module runs work while a plugin object lives
    }
    void TearDown() override {
        if (keeper_) keeper_->Destroy();
        std::error_code ignored;
        fs::remove(Placed(), ignored);
    }

private:
    static fs::path Placed() {
        wchar_t exe[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        return fs::path(exe).parent_path().parent_path() / "Qorbase.dll";
    }

    IKestranePlugin* keeper_ = nullptr;
};
const auto* const kMachine = ::testing::AddGlobalTestEnvironment(new WineMachine);

struct NamedEvent {
    std::u16string name;
    std::map<std::u16string, std::u16string> fields;
};

// The events that came after the first `from`, once there are `count` of them or time is up.
std::vector<NamedEvent> EventsAfter(size_t from, size_t count, std::chrono::milliseconds wait) {
    Host().WaitForEvents(from + count, wait);
    std::lock_guard guard(Host().lock);
    std::vector<NamedEvent> events;
    for (size_t i = from; i < Host().events.size(); ++i)
        events.push_back({Host().events[i]->name, {Host().events[i]->fields.begin(), Host().events[i]->fields.end()}});
    return events;
}

size_t EventCount() {
    std::lock_guard guard(Host().lock);
    return Host().events.size();
}

// Stop wakes a watcher by signalling its read's event: the read goes on, and a change after
// that still ends it, for the task monitor's manual-reset event and the attack monitor's
// auto-reset one alike.
TEST(WineDirectoryWatch, AWakeIsNoEndOfThePendingRead) {
    for (bool manualReset : {true, false}) {
        SCOPED_TRACE(manualReset ? "manual reset" : "auto reset");
        fs::path folder = fs::temp_directory_path() / "vantel-directory-watch";
        fs::remove_all(folder);
        fs::create_directories(folder);
        DirectoryWatch watch(manualReset, platform::kFileShareRead | platform::kFileShareWrite,
                             platform::kNotifyChangeFileName);
        DirectoryWatch::Step failed = DirectoryWatch::Step::Open;
        ASSERT_EQ(watch.Arm(FromWide(folder.wstring().c_str()), &failed), 0);
        watch.Wake();
        std::vector<DirectoryChange> changes;
        EXPECT_EQ(watch.Wait(&changes), platform::kErrorIoIncomplete);
        EXPECT_TRUE(watch.armed());
        std::ofstream(folder / "added.txt") << "x";
        ASSERT_EQ(watch.Wait(&changes), 0);
        ASSERT_FALSE(changes.empty());
        EXPECT_EQ(changes[0].action, platform::kFileActionAdded);
        EXPECT_EQ(changes[0].name, u"added.txt");
        watch.Close();
        fs::remove_all(folder);
    }
}

TEST(WineAttackMonitor, AFileWrittenIntoTheFolderIsReportedAndNextIdLandsInTheRegistry) {
    const std::u16string key = u"SOFTWARE\\VantelWineTest\\EventLog";
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<const wchar_t*>(key.c_str()), 0, KEY_SET_VALUE, &raw) == 0) {
        RegDeleteValueW(raw, L"NextId");
        RegCloseKey(raw);
    }
    CAttackMonitor& monitor = LL_singleton<CAttackMonitor>::Instance();
    EXPECT_TRUE(EqualsIgnoreCase(monitor.folderPath(), u"C:\\ProgramData\\Brisel\\Qorwend")) << ToUtf8(monitor.folderPath());
    size_t before = EventCount();
    ASSERT_TRUE(monitor.StartMonitor(key));
    // Counts live as long as the monitor: a type of its own for each run of the test.
    static int run = 0;
    std::string type = "rdp-" + std::to_string(++run);

    // Written again until the watcher, armed by then, has seen it; "NextId" keeps it from
    // reporting an entry twice.
    std::vector<NamedEvent> events;
    for (int attempt = 0; attempt < 20 && events.size() < 2; ++attempt) {
        std::ofstream(fs::path(reinterpret_cast<const wchar_t*>(monitor.configurationFilePath().c_str())), std::ios::trunc)
            << "<root><a id='1'><type>" << type << "</type><time>1609459200</time>"
            << "<log>from ip:198.51.100.7,port 3389</log></a><a id='2'><type>" << type
            << "</type><time>1609459260</time><log>from ip:198.51.100.8,port 3389</log></a>"
            << "<!-- " << attempt << " --></root>";
        events = EventsAfter(before, 2, std::chrono::milliseconds(500));
    }
    ASSERT_EQ(events.size(), 2u);
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(computer, &size));
    EXPECT_EQ(events[0].name, u"RemoteLogonFailed");
    EXPECT_EQ(events[0].fields, (std::map<std::u16string, std::u16string>{{u"computer_name", FromWide(computer)},
                                                                           {u"logon_time", u"1609459200"},
                                                                           {u"attack_type", FromUtf8(type)},
                                                                           {u"attack_ip", u"198.51.100.7"},
                                                                           {u"action_count", u"0"}}));
    EXPECT_EQ(events[1].fields[u"action_count"], u"1");
    std::u16string nextId;
    EXPECT_EQ(platform::RegReadString(platform::RegRoot::LocalMachine, key, u"NextId", &nextId), 0);
    EXPECT_EQ(nextId, u"2");

    monitor.StopMonitor();
    EXPECT_TRUE(monitor.WaitForWatcher(5000)) << "woken without a change in its folder";
}

// Wine's classic task scheduler writes ".job" files that the monitor reads back.
class WineTasks : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        const GUID kClsidScheduler = {0x148BD52A, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
        ASSERT_EQ(CoCreateInstance(kClsidScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                                   scheduler_.put_void()),
                  S_OK);
        scheduler_->Delete(kName);
    }
    void TearDown() override {
        scheduler_->Delete(kName);
        scheduler_.reset();
        CoUninitialize();
    }
    void Save(const wchar_t* program) {
        ComPtr<ITask> task;
        HRESULT made = scheduler_->Activate(kName, IID_ITask, reinterpret_cast<IUnknown**>(task.put()));
        if (FAILED(made)) {
            ASSERT_EQ(scheduler_->NewWorkItem(kName, CLSID_CTask, IID_ITask, reinterpret_cast<IUnknown**>(task.put())),
                      S_OK);
        }
        ASSERT_EQ(task->SetApplicationName(program), S_OK);
        ASSERT_EQ(task->SetParameters(L"/quiet"), S_OK);
        ASSERT_EQ(task->SetCreator(L"wine-test"), S_OK);
        ComPtr<IPersistFile> file;
        ASSERT_EQ(task->QueryInterface(IID_IPersistFile, file.put_void()), S_OK);
        ASSERT_EQ(file->Save(nullptr, TRUE), S_OK);
    }

    static constexpr const wchar_t* kName = L"VantelWineTask";
    ComPtr<ITaskScheduler> scheduler_;
};

TEST_F(WineTasks, TasksAreRegisteredModifiedAndDeleted) {
    CTaskMonitor& monitor = LL_singleton<CTaskMonitor>::Instance();
    ASSERT_TRUE(monitor.StartMonitor());
    // A file that is no task is reported only when it goes: that tells the watcher is armed.
    std::u16string probe = GetWindowsDir() + u"\\Tasks\\probe.txt";
    bool armed = false;
    for (int attempt = 0; attempt < 20 && !armed; ++attempt) {
        size_t before = EventCount();
        std::ofstream(fs::path(reinterpret_cast<const wchar_t*>(probe.c_str()))) << "probe";
        DeleteFileW(reinterpret_cast<const wchar_t*>(probe.c_str()));
        armed = !EventsAfter(before, 1, std::chrono::milliseconds(500)).empty();
    }
    ASSERT_TRUE(armed);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    size_t before = EventCount();
    Save(L"C:\\windows\\notepad.exe");
    std::vector<NamedEvent> events = EventsAfter(before, 1, std::chrono::seconds(10));
    ASSERT_GE(events.size(), 1u);
    EXPECT_EQ(events[0].name, u"ScheduledTaskRegistered");
    EXPECT_EQ(events[0].fields, (std::map<std::u16string, std::u16string>{{u"task_xml", u""},
                                                                           {u"task_author", u"wine-test"},
                                                                           {u"task_name", u"VantelWineTask"},
                                                                           {u"task_exec_command", u"C:\\windows\\notepad.exe"},
                                                                           {u"task_exec_arguments", u"/quiet"}}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    before = EventCount();
    Save(L"C:\\windows\\regedit.exe");
    events = EventsAfter(before, 1, std::chrono::seconds(10));
    ASSERT_GE(events.size(), 1u);
    EXPECT_EQ(events[0].name, u"ScheduledTaskModified");
    EXPECT_EQ(events[0].fields[u"task_exec_command"], u"C:\\windows\\regedit.exe");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    before = EventCount();
    ASSERT_EQ(scheduler_->Delete(kName), S_OK);
    events = EventsAfter(before, 1, std::chrono::seconds(10));
    ASSERT_GE(events.size(), 1u);
    EXPECT_EQ(events[0].name, u"ScheduledTaskDeleted");
    EXPECT_EQ(events[0].fields[u"task_name"], u"VantelWineTask");

    monitor.StopMonitor();
    EXPECT_TRUE(monitor.WaitForWatcher(5000));
}

TEST(WineShares, WithoutAListOfSharesTheMonitorStaysStopped) {
    uint32_t resume = 0;
    std::optional<std::vector<platform::ShareInfo502>> shares;
    int32_t status = platform::NetShareEnum502(platform::kMaxPreferredLength, &resume, &shares);
    if (shares) GTEST_SKIP() << "this Wine lists shares at level 502";
    EXPECT_EQ(status, ERROR_NOT_SUPPORTED);
    CShareMonitor& monitor = LL_singleton<CShareMonitor>::Instance();
    EXPECT_FALSE(monitor.StartMonitor());
    EXPECT_TRUE(monitor.WaitForWatcher(0)) << "no watcher was queued";
}

}  // namespace
}  // namespace vantel
