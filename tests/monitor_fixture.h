// The change monitors over winsim: the simulated C: drive in a folder of its own, the companion
// library found through the host's "App Paths" entry, the named events they commit handed to one
// test host for the whole run, and a plugin object alive meanwhile.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "fake_host.h"
#include "monitors/named_event_log.h"
#include "plugin/factory.h"
#include "plugin/singleton.h"
#include "winsim/files.h"
#include "winsim/registry.h"
#include "winsim/signing.h"

namespace vantel {

using Fields = std::map<std::u16string, std::u16string>;

struct NamedEvent {
    std::u16string name;
    Fields fields;
};

inline testing::FakeHost& MonitorHost() {
    static testing::FakeHost* host = new testing::FakeHost;  // the worker keeps it for the process
    return *host;
}

class MonitorMachine : public ::testing::Environment {
public:
    void SetUp() override {
        namespace fs = std::filesystem;
        fs::path drive = fs::temp_directory_path() / ("vantel-monitors-" + std::to_string(::getpid()));
        fs::remove_all(drive);
        winsim::MapDrive(u'C', drive.string());
        fs::create_directories(drive / "Windows");
        fs::create_directories(drive / "ProgramData");
        winsim::SetFileSigner(fs::read_symlink("/proc/self/exe").string(), "agent");
        winsim::SetFileSigner((fs::path(VANTEL_AGENT_DIR) / "Qorbase.dll").string(), "agent");
        winsim::RegSetString(winsim::Hive::LocalMachine,
                             u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\QorExtHost.exe", u"path",
                             winsim::WindowsPath(VANTEL_AGENT_DIR));
        LL_singleton<CSpecialLog>::Instance().Start(&MonitorHost(), u"QorExtHost", u"EventLog");
        keeper_ = CreatePluginObject(&kClsidCertificate);  // the module runs work while a plugin object lives
    }
    void TearDown() override {
        if (keeper_) keeper_->Destroy();
    }

private:
    IKestranePlugin* keeper_ = nullptr;
};

inline ::testing::Environment* const kMonitorMachine = ::testing::AddGlobalTestEnvironment(new MonitorMachine);

// Polls until the condition holds; false after ten seconds.
template <typename Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < 2000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

class ChangeMonitor : public ::testing::Test {
protected:
    void SetUp() override {
        std::lock_guard guard(MonitorHost().lock);
        seen_ = MonitorHost().events.size();
    }

    // The events committed since the last look, once there are that many; none may follow.
    std::vector<NamedEvent> Events(size_t expected) {
        EXPECT_TRUE(MonitorHost().WaitForEvents(seen_ + expected));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::lock_guard guard(MonitorHost().lock);
        std::vector<NamedEvent> events;
        for (size_t i = seen_; i < MonitorHost().events.size(); ++i) {
            const testing::FakeEvent& event = *MonitorHost().events[i];
            events.push_back({event.name, Fields(event.fields.begin(), event.fields.end())});
        }
        seen_ = MonitorHost().events.size();
        EXPECT_EQ(events.size(), expected) << Describe(events);
        return events;
    }

private:
    static std::string Describe(const std::vector<NamedEvent>& events) {
        std::string text;
        for (const NamedEvent& event : events) {
            text += ToUtf8(event.name) + " {";
            for (const auto& [name, value] : event.fields) text += " " + ToUtf8(name) + "=" + ToUtf8(value);
            text += " }\n";
        }
        return text;
    }

    size_t seen_ = 0;
};

}  // namespace vantel
