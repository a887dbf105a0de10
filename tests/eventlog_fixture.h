// The event-log plugin over winsim, initialised and subscribed with a test host, and records
// published into its channels.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include "eventlog/nt_event_log.h"
#include "fake_host.h"
#include "monitors/named_event_log.h"
#include "plugin/factory.h"
#include "plugin/singleton.h"
#include "winsim/accounts.h"
#include "winsim/eventlog.h"
#include "winsim/system_libraries.h"

namespace vantel {

using Fields = std::map<std::u16string, std::u16string>;
using winsim::EventRecord;
using winsim::EventValue;

inline std::vector<uint8_t> Sid(const char16_t* text) { return winsim::SidFromText(text); }

class EventLogPlugin : public ::testing::Test {
protected:
    void SetUp() override {
        winsim::ResetEventLog();
        winsim::ResetAccounts();
        winsim::AddUser({u"alice", 2, u"S-1-5-21-1-2-3-1001"});
        winsim::AddUser({u"bob", 1, u"S-1-5-21-1-2-3-1002"});
        plugin = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
        plugin->Initialize(&host);
        StartAndSubscribe();
    }
    void TearDown() override {
        plugin->Stop();
        while (plugin->IsBusy()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        plugin->Destroy();  // the last object: the named-event worker has delivered and ended
        for (const char* name : {"EvtSubscribe", "EvtRender", "EvtCreateBookmark"})
            winsim::RestoreLibraryExport(u"Wevtapi.dll", name);
        winsim::StartEventLogService();
    }

    // A fresh object, initialised, in place of the destroyed one; "Wevtapi.dll" lacks the export
    // when one is named.
    void ReplaceDestroyedPlugin(const char* missingExport = nullptr) {
        if (missingExport != nullptr) winsim::RemoveLibraryExport(u"Wevtapi.dll", missingExport);
        plugin = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
        plugin->Initialize(&host);
    }

    void StartAndSubscribe() {
        plugin->Start();
        while (plugin->IsBusy()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    // Publishes the records and answers the named events they gave, waiting for the count.
    std::vector<testing::FakeEvent*> Publish(std::vector<EventRecord> records, size_t expected) {
        size_t before = host.events.size();
        for (EventRecord& record : records) winsim::PublishEvent(std::move(record));
        winsim::WaitForEventDelivery();
        EXPECT_TRUE(host.WaitForEvents(before + expected));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // nothing more may follow
        std::lock_guard guard(host.lock);
        EXPECT_EQ(host.events.size(), before + expected);
        std::vector<testing::FakeEvent*> events;
        for (size_t i = before; i < host.events.size(); ++i) events.push_back(host.events[i].get());
        return events;
    }

    static Fields FieldsOf(const testing::FakeEvent* event) { return Fields(event->fields.begin(), event->fields.end()); }

    testing::FakeHost host;
    CNtEventLog* plugin = nullptr;
};


}  // namespace vantel
