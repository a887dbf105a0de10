// A plugin's link to the host: registration, report rows and how they are flushed, and the
// message handler's frame around each command. Its own process: the companion library binding
// is tried once per process, and here it has to find the library.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "agent_root.h"
#include "fake_host.h"
#include "plugin/factory.h"
#include "plugin/host_link.h"
#include "plugin/run_state.h"
#include "winsim/threads.h"

namespace vantel {
namespace {

using testing::FakeHost;
using Values = std::vector<std::pair<std::u16string, std::u16string>>;

const auto* const kAgentRoot = ::testing::AddGlobalTestEnvironment(new testing::AgentRoot);

using testing::FakeMessage;

// The "EventLog" link, registered once with a host that lives as long as the process.
FakeHost& EventLogHost() {
    static FakeHost* const host = [] {
        auto* created = new FakeHost;
        PluginHostLink::For(u"EventLog")->Register(created);
        return created;
    }();
    return *host;
}

void WaitIdle(PluginRunState* state) {
    for (int i = 0; i < 5000 && state->running != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(HostLink, AFailedRegistrationIsTriedAgainAndThenHolds) {
    FakeHost host;
    host.withoutDocuments = true;
    PluginHostLink* link = PluginHostLink::For(u"ntusers");
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->Register(&host), 0);
    EXPECT_EQ(host.handler, nullptr);
    host.withoutDocuments = false;
    EXPECT_EQ(link->Register(&host), 1);
    ASSERT_NE(host.handler, nullptr);
    EXPECT_NE(link->json(), nullptr);
    IServerPushedMessageHandler* handler = host.handler;
    EXPECT_EQ(link->Register(&host), 1);
    EXPECT_EQ(host.handler, handler) << "registered once";
    void* queried = nullptr;
    EXPECT_EQ(handler->QueryInterface(kIidServerPushedMessageHandler, &queried), kOk);
    EXPECT_EQ(queried, handler);
    handler->Release();
    EXPECT_EQ(PluginHostLink::For(u"Printer"), nullptr);
}

TEST(HostLink, RowsBeforeRegistrationAreDroppedAndAnEmptyFlushStillReplies) {
    static FakeHost host;  // the link keeps its host for the life of the process
    FakeMessage message;
    PluginHostLink* link = PluginHostLink::For(u"Certificate");
    link->AddReportField(u"Name", u"early");
    link->CommitReportRow();
    link->FlushReport(1, 1, u"Item");
    EXPECT_TRUE(host.sent.empty());
    ASSERT_EQ(link->Register(&host), 1);
    link->currentMessage = &message;
    link->FlushReport(1, 1, u"Item");
    ASSERT_EQ(host.sent.size(), 1u);
    EXPECT_TRUE(host.sent[0].reply);
    EXPECT_EQ(host.sent[0].message, &message);
    EXPECT_TRUE(host.sent[0].nodes.empty()) << "the early row is gone";
    EXPECT_EQ(host.documents[0].resets, 1);
}

TEST(HostLink, FlushRulesByKindAndTag) {
    FakeHost& host = EventLogHost();
    FakeMessage message;
    PluginHostLink* link = PluginHostLink::For(u"EventLog");
    ASSERT_TRUE(link->registered());
    host.sent.clear();
    link->currentMessage = &message;
    auto addRows = [link] {
        link->AddReportField(u"b", u"first");
        link->AddReportField(u"B", u"upper");
        link->AddReportField(u"a", u"x");
        link->AddReportField(u"b", u"second");
        link->CommitReportRow();
        link->AddReportField(u"c", u"");
        link->CommitReportRow();
    };
    const Values firstRow = {{u"B", u"upper"}, {u"a", u"x"}, {u"b", u"second"}};

    addRows();
    link->FlushReport(1, 1, u"Item");
    addRows();
    link->FlushReport(1, 2, u"Item");
    addRows();
    link->FlushReport(1, 2, u"Security");
    addRows();
    link->FlushReport(0, 1, u"Item");
    ASSERT_EQ(host.sent.size(), 4u);

    ASSERT_EQ(host.sent[0].nodes.size(), 2u) << "kind 1: one node per row";
    EXPECT_EQ(host.sent[0].nodes[0].first, u"Item");
    EXPECT_EQ(host.sent[0].nodes[0].second, firstRow) << "fields leave in name order, the last value kept";
    EXPECT_EQ(host.sent[0].nodes[1].second, (Values{{u"c", u""}}));

    EXPECT_TRUE(host.sent[1].nodes.empty()) << "kind 2 \"Item\": fields straight into the document";
    Values flat = firstRow;
    flat.emplace_back(u"c", u"");
    EXPECT_EQ(host.sent[1].values, flat);
    EXPECT_EQ(host.sent[1].kind, 2);

    ASSERT_EQ(host.sent[2].nodes.size(), 2u) << "kind 2 with another tag: nodes again";
    EXPECT_EQ(host.sent[2].nodes[0].first, u"Security");

    EXPECT_FALSE(host.sent[3].reply) << "reply 0 submits a report";
    EXPECT_GE(host.documents[0].resets + host.documents[1].resets, 4);
}

TEST(MessageHandler, AcceptsRefusesAndEndsEveryCommandAndRefusesAllAfterDestroy) {
    IKestranePlugin* eventLog = CreatePluginObject(&kClsidEventLog);  // what the commands act on
    PluginHostLink* link = PluginHostLink::For(u"EventLog");
    auto handler = ComPtr<IServerPushedMessageHandler>::Borrow(EventLogHost().handler);
    ASSERT_TRUE(handler);
    PluginRunState* state = RunStateOf(u"EventLog");

    EXPECT_EQ(handler->OnMessage(nullptr), 0);

    FakeMessage refused;
    state->stopped = 1;
    EXPECT_EQ(handler->OnMessage(&refused), 0);
    EXPECT_EQ(refused.references, 1) << "the host keeps a refused message";
    state->stopped = 0;

    winsim::RefuseWorkItems(true);
    EXPECT_EQ(handler->OnMessage(&refused), 0) << "a command that cannot be queued is refused";
    winsim::RefuseWorkItems(false);
    EXPECT_EQ(state->running, 0);
    EXPECT_EQ(refused.references, 1);

    FakeMessage accepted;
    EXPECT_EQ(handler->OnMessage(&accepted), 1);
    WaitIdle(state);
    EXPECT_EQ(state->running, 0);
    EXPECT_EQ(accepted.references, 0) << "the worker releases the host's reference once";
    EXPECT_EQ(link->currentMessage, nullptr) << "a released message is no longer the link's";

    EXPECT_EQ(eventLog->Destroy(), 0);
    EXPECT_EQ(EventLogHost().handler, nullptr) << "the host was asked to drop the handler";
    EXPECT_FALSE(link->registered());
    FakeMessage late;
    EXPECT_EQ(handler->OnMessage(&late), 0);
    EXPECT_EQ(late.references, 1);
    EXPECT_EQ(LiveInstance(PluginClass::EventLog), nullptr) << "no plugin is built for a late message";
}

}  // namespace
}  // namespace vantel
