#include <gtest/gtest.h>

#include <cstring>

#include "eventlog/nt_event_log.h"
#include "fake_host.h"
#include "plugin/factory.h"
#include "plugin/run_state.h"

namespace vantel {
namespace {

// Each test gets fresh objects and leaves none alive.
class PluginSlots : public ::testing::Test {
protected:
    void TearDown() override {
        for (const Guid* id : {&kClsidEventLog, &kClsidNtUsers, &kClsidCertificate}) {
            CreatePluginObject(id)->Destroy();
        }
    }
};

TEST_F(PluginSlots, GetPropertyLeavesTheBufferUntouched) {
    for (const Guid* id : {&kClsidEventLog, &kClsidNtUsers, &kClsidCertificate}) {
        unsigned char buffer[32];
        std::memset(buffer, 0xAB, sizeof buffer);
        EXPECT_EQ(CreatePluginObject(id)->GetProperty(3, buffer), 0);
        for (unsigned char byte : buffer) ASSERT_EQ(byte, 0xAB);
    }
}

TEST_F(PluginSlots, EventLogKeepsTheProviderFromTheThirdWordOfPropertyThree) {
    auto* eventLog = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
    int provider = 0;
    void* block[3] = {nullptr, nullptr, &provider};
    EXPECT_EQ(eventLog->SetProperty(3, block), 0);
    EXPECT_EQ(static_cast<void*>(eventLog->processInfoProvider()), &provider);
    EXPECT_EQ(eventLog->SetProperty(3, nullptr), 0);
    EXPECT_EQ(static_cast<void*>(eventLog->processInfoProvider()), &provider) << "a null value leaves it unchanged";
    EXPECT_EQ(eventLog->SetProperty(7, block), 0);
    EXPECT_FALSE(eventLog->desktopProduct());
    EXPECT_EQ(eventLog->SetProperty(5, nullptr), 0);
    EXPECT_TRUE(eventLog->desktopProduct());
}

TEST_F(PluginSlots, OtherClassesIgnoreProperties) {
    void* block[3] = {nullptr, nullptr, nullptr};
    EXPECT_EQ(CreatePluginObject(&kClsidNtUsers)->SetProperty(5, block), 0);
    EXPECT_EQ(CreatePluginObject(&kClsidCertificate)->SetProperty(3, nullptr), 0);
}

TEST_F(PluginSlots, SecondInitializeIsHarmless) {
    static testing::FakeHost* const host = new testing::FakeHost;  // TearDown's Destroy still reaches it
    auto* eventLog = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
    EXPECT_EQ(eventLog->Initialize(host), 0);
    platform::LibraryHandle library = eventLog->api().library;
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(eventLog->Initialize(host), 0);
    EXPECT_EQ(eventLog->api().library, library) << "the event-log library is not loaded again";
    for (const Guid* id : {&kClsidEventLog, &kClsidNtUsers, &kClsidCertificate}) {
        IKestranePlugin* plugin = CreatePluginObject(id);
        EXPECT_EQ(plugin->Initialize(host), 0);
        IServerPushedMessageHandler* handler = host->handler;
        EXPECT_EQ(plugin->Initialize(host), 0);
        EXPECT_EQ(host->handler, handler) << "no second handler is registered";
    }
}

TEST_F(PluginSlots, StartStopAndIsBusyFollowTheRunState) {
    IKestranePlugin* users = CreatePluginObject(&kClsidNtUsers);
    PluginRunState* state = RunStateOf(u"ntusers");
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(users->IsBusy(), 0);
    EXPECT_EQ(users->Stop(), 0);
    EXPECT_EQ(state->stopped, 1);
    EXPECT_EQ(users->Start(), 0);
    EXPECT_EQ(state->stopped, 0);
    {
        RunningWorkItem item(state);
        EXPECT_EQ(users->IsBusy(), 1);
        EXPECT_EQ(CreatePluginObject(&kClsidCertificate)->IsBusy(), 0) << "run states are per plugin";
    }
    EXPECT_EQ(users->IsBusy(), 0);
}

TEST_F(PluginSlots, RunStatesExistOnlyForThePluginNames) {
    EXPECT_EQ(RunStateOf(u"EventLog"), RunStateOf(u"EVENTLOG"));
    EXPECT_NE(RunStateOf(u"EventLog"), RunStateOf(u"Certificate"));
    EXPECT_EQ(RunStateOf(u"Other"), nullptr);
}

TEST_F(PluginSlots, FixedResultsOfTheRemainingSlots) {
    for (const Guid* id : {&kClsidEventLog, &kClsidNtUsers, &kClsidCertificate}) {
        IKestranePlugin* plugin = CreatePluginObject(id);
        EXPECT_EQ(plugin->Install(), 0);
        EXPECT_EQ(plugin->Uninstall(), 0);
        EXPECT_EQ(plugin->OnFileUpdated(nullptr), 1);
        plugin->Reserved(42);
    }
}

}  // namespace
}  // namespace vantel
