// The root-certificate plugin over winsim's per-user stores, and the server's commands that
// reach it (and the user plugin) through the message handlers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "accounts/certificate.h"
#include "agent_root.h"
#include "common/format.h"
#include "fake_host.h"
#include "plugin/commands.h"
#include "plugin/factory.h"
#include "plugin/host_link.h"
#include "platform/locale.h"
#include "plugin/receive_callback.h"
#include "trace_log.h"
#include "winsim/accounts.h"
#include "winsim/certificates.h"
#include "winsim/locale.h"
#include "winsim/sessions.h"

namespace vantel {
namespace {

using testing::FakeHost;
using testing::FakeMessage;
using Values = std::vector<std::pair<std::u16string, std::u16string>>;

const auto* const kAgentRoot = ::testing::AddGlobalTestEnvironment(new testing::AgentRoot);

constexpr uint64_t k2021Ticks = 132539328000000000ull;  // 2021-01-01 00:00:00 UTC
constexpr uint64_t kTicksPerDay = 864000000000ull;

winsim::Certificate Root(const std::u16string& subject, std::vector<uint8_t> sha1, std::u16string friendly = u"") {
    return {u"Issuer of " + subject, subject, std::move(friendly), std::move(sha1), k2021Ticks,
            k2021Ticks + 365 * kTicksPerDay + 3600 * 10000000ull};
}

std::vector<uint8_t> Sha1(uint8_t seed) {
    std::vector<uint8_t> hash(20);
    for (size_t i = 0; i < hash.size(); ++i) hash[i] = static_cast<uint8_t>(seed + i * 0x11);
    return hash;
}

std::u16string Hex(const std::vector<uint8_t>& bytes) {
    std::u16string text;
    for (uint8_t byte : bytes) text += Format(u"%02X", byte);
    return text;
}

// The "Certificate" link, registered once with a host that lives as long as the process.
FakeHost& CertificateHost() {
    static FakeHost* const host = [] {
        auto* created = new FakeHost;
        PluginHostLink::For(u"Certificate")->Register(created);
        return created;
    }();
    return *host;
}

std::vector<std::u16string> Subjects(const std::vector<winsim::Certificate>& certificates) {
    std::vector<std::u16string> subjects;
    for (const auto& certificate : certificates) subjects.push_back(certificate.subject);
    return subjects;
}

// The "Subjector" of each row of a reply.
std::vector<std::u16string> Subjects(const FakeHost::Sent& reply) {
    std::vector<std::u16string> subjects;
    for (const auto& [tag, fields] : reply.nodes)
        for (const auto& [name, value] : fields)
            if (name == u"Subjector") subjects.push_back(value);
    return subjects;
}

class Certificates : public ::testing::Test {
protected:
    void SetUp() override {
        winsim::ResetCertificates();
        winsim::ResetSessions();
        winsim::SetTimeZoneOffset(0);
        host_.sent.clear();
        plugin_->Start();
        message_.command = u"FreshList";
        link_->currentMessage = &message_;
        tokens_ = winsim::OpenTokenCount();
    }
    void TearDown() override {
        link_->currentMessage = nullptr;
        winsim::ResetCertificates();
        EXPECT_EQ(winsim::OpenTokenCount(), tokens_) << "every token closed";
        EXPECT_EQ(winsim::OpenCertHandleCount(), 0u) << "every store and context freed";
        EXPECT_FALSE(winsim::ImpersonatedUser()) << "the thread is itself again";
    }
    void LogOn(const std::u16string& user) {
        winsim::AddSession({1, winsim::SessionState::Active, user});
        winsim::SetConsoleSession(1);
    }

    FakeHost& host_ = CertificateHost();
    PluginHostLink* link_ = PluginHostLink::For(u"Certificate");
    CCertificate* plugin_ = InstanceOf<CCertificate>();
    FakeMessage message_;
    size_t tokens_ = 0;
};

TEST_F(Certificates, ListsTheConsoleUsersStoreAsItemRowsOfTheReply) {
    LogOn(u"alice");
    winsim::SetTimeZoneOffset(120);
    winsim::AddRootCertificate(u"alice", Root(u"Alice Root", Sha1(0x0A), u"Alice's friendly root"));
    winsim::AddRootCertificate(u"alice", Root(u"Second Root", Sha1(0x3C)));
    winsim::AddRootCertificate(winsim::kProcessAccount, Root(u"Service Root", Sha1(0x50)));

    plugin_->ReFresh();
    ASSERT_EQ(host_.sent.size(), 1u);
    EXPECT_TRUE(host_.sent[0].reply);
    EXPECT_EQ(host_.sent[0].message, &message_);
    ASSERT_EQ(host_.sent[0].nodes.size(), 2u);
    EXPECT_EQ(host_.sent[0].nodes[0].first, u"Item");
    EXPECT_EQ(host_.sent[0].nodes[0].second,
              (Values{{u"BeginDate", u"2021-01-01 02:00:00"},
                      {u"EndDate", u"2022-01-01 03:00:00"},
                      {u"FingerPrint", Hex(Sha1(0x0A))},
                      {u"FriendlyName", u"Alice's friendly root"},
                      {u"Issuser", u"Issuer of Alice Root"},
                      {u"Subjector", u"Alice Root"}}))
        << "local times, 40 upper-case digits, the fields in name order";
    EXPECT_EQ(host_.sent[0].nodes[1].second[3], (std::pair<std::u16string, std::u16string>{u"FriendlyName",
                                                                                           u"Second Root"}))
        << "no friendly name falls back to the subject's";
}

TEST_F(Certificates, WithoutAUserTheAgentsOwnStoreIsListed) {
    winsim::AddRootCertificate(u"alice", Root(u"Alice Root", Sha1(0x0A)));
    winsim::AddRootCertificate(winsim::kProcessAccount, Root(u"Service Root", Sha1(0x50)));
    plugin_->ReFresh();  // no session at all
    LogOn(u"");          // a console session nobody is logged on to
    plugin_->ReFresh();
    ASSERT_EQ(host_.sent.size(), 2u);
    EXPECT_EQ(Subjects(host_.sent[0]), std::vector<std::u16string>{u"Service Root"});
    EXPECT_EQ(Subjects(host_.sent[1]), std::vector<std::u16string>{u"Service Root"});
}

TEST_F(Certificates, RemoveTakesEitherCaseAndRepliesWithTheNewList) {
    LogOn(u"alice");
    winsim::AddRootCertificate(u"alice", Root(u"Keep", Sha1(0x01)));
    winsim::AddRootCertificate(u"alice", Root(u"Drop", Sha1(0xA0)));
    winsim::AddRootCertificate(winsim::kProcessAccount, Root(u"Drop", Sha1(0xA0)));
    std::u16string lower = Hex(Sha1(0xA0));
    for (char16_t& c : lower)
        if (c >= u'A' && c <= u'F') c = static_cast<char16_t>(c - u'A' + u'a');
    ASSERT_NE(lower, Hex(Sha1(0xA0)));

    plugin_->Remove(lower);
    EXPECT_EQ(Subjects(winsim::RootCertificates(u"alice")), std::vector<std::u16string>{u"Keep"});
    EXPECT_EQ(winsim::RootCertificates(winsim::kProcessAccount).size(), 1u) << "only the user's own store changes";
    ASSERT_EQ(host_.sent.size(), 1u);
    EXPECT_EQ(Subjects(host_.sent[0]), std::vector<std::u16string>{u"Keep"});
}

TEST_F(Certificates, AFingerprintThatCannotMatchRemovesNothingButStillReplies) {
    LogOn(u"alice");
    winsim::AddRootCertificate(u"alice", Root(u"Keep", Sha1(0x01)));
    const std::u16string cases[] = {
        Hex(Sha1(0x02)),                     // matches nothing
        std::u16string(522, u'A'),           // 261 bytes: more than the hash buffer holds
        std::u16string(520, u'0') + u"zz",   // not hexadecimal
    };
    for (const std::u16string& fingerprint : cases) plugin_->Remove(fingerprint);
    EXPECT_EQ(winsim::RootCertificates(u"alice").size(), 1u);
    ASSERT_EQ(host_.sent.size(), 3u);
    for (const auto& reply : host_.sent) EXPECT_EQ(Subjects(reply), std::vector<std::u16string>{u"Keep"});
    EXPECT_EQ(DecodeFingerprint(std::u16string(520, u'f')), std::vector<uint8_t>(260, 0xFF)) << "the longest that fits";
}

TEST_F(Certificates, AStoreThatCannotBeOpenedReportsNothing) {
    LogOn(u"alice");
    winsim::AddRootCertificate(u"alice", Root(u"Keep", Sha1(0x01)));
    winsim::FailOpenCertStore(5);
    plugin_->Remove(Hex(Sha1(0x01)));
    plugin_->ReFresh();
    winsim::FailOpenCertStore(0);
    EXPECT_EQ(winsim::RootCertificates(u"alice").size(), 1u);
    EXPECT_TRUE(host_.sent.empty());
}

TEST_F(Certificates, StoppingDuringTheWalkSuppressesTheReport) {
    for (uint8_t i = 0; i < 5; ++i) winsim::AddRootCertificate(winsim::kProcessAccount, Root(u"Root", Sha1(i)));
    int seen = 0;
    winsim::OnCertificateEnumerated([&] {
        if (++seen == 2) plugin_->Stop();
    });
    plugin_->ReFresh();
    EXPECT_EQ(seen, 2) << "the walk ends at the stop";
    EXPECT_TRUE(host_.sent.empty());
}

// Commands through the handlers, as the host delivers them.
class Commands : public Certificates {
protected:
    // Hands the message to a handler of that plugin name and waits until the plugin is idle.
    int32_t Deliver(const std::u16string& pluginName, FakeMessage& message) {
        auto handler = CReceiveCallback::Create(pluginName);
        message.AddRef();  // the host's reference, taken over by the handler
        int32_t accepted = handler->OnMessage(&message);
        if (accepted == 0) message.Release();
        WaitIdle(pluginName);
        return accepted;
    }
    static void WaitIdle(const std::u16string& pluginName) {
        PluginRunState* state = RunStateOf(pluginName);
        for (int i = 0; i < 10000 && state->running != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
};

TEST_F(Commands, CommandWordsAndPluginNamesIgnoreCase) {
    winsim::AddRootCertificate(winsim::kProcessAccount, Root(u"Root", Sha1(0x01)));
    FakeMessage fresh(u"freshlist", u"");
    EXPECT_EQ(Deliver(u"certificate", fresh), 1);
    ASSERT_EQ(host_.sent.size(), 1u);
    EXPECT_EQ(host_.sent[0].message, &fresh) << "the reply answers the message that asked";
    EXPECT_EQ(Subjects(host_.sent[0]), std::vector<std::u16string>{u"Root"});
    EXPECT_EQ(fresh.references, 1) << "the worker released the host's reference";
    EXPECT_EQ(link_->currentMessage, nullptr);
}

TEST_F(Commands, RemoveFindsTheFingerprintMemberWhereverJsonPutsIt) {
    testing::TraceLog traces;
    winsim::AddRootCertificate(winsim::kProcessAccount, Root(u"Spaced", {0xAB, 0xCD}));
    winsim::AddRootCertificate(winsim::kProcessAccount, Root(u"Reordered", Sha1(0x01)));
    winsim::AddRootCertificate(winsim::kProcessAccount, Root(u"Alone", Sha1(0x02)));
    winsim::AddRootCertificate(winsim::kProcessAccount, Root(u"Kept", Sha1(0x03)));
    FakeMessage odd(u"Remove", u"{\"fingerprint\":\"ABC\",\"reason\":\"x\"}");
    Deliver(u"Certificate", odd);
    EXPECT_EQ(winsim::RootCertificates(winsim::kProcessAccount).size(), 4u);
    ASSERT_EQ(host_.sent.size(), 1u) << "nothing removed, the list still sent";
    EXPECT_EQ(host_.sent[0].message, &odd);
    EXPECT_NE(traces.Take().find("[Certificate] Remove: no fingerprint"), std::string::npos);

    FakeMessage spaced(u"Remove", u"{\"fingerprint\": \"abcd\", \"reason\": \"r\"}");
    FakeMessage reordered(u"REMOVE", u"{\"reason\": \"r\", \"fingerprint\": \"" + Hex(Sha1(0x01)) + u"\"}");
    FakeMessage alone(u"Remove", u"{\"fingerprint\":\"" + Hex(Sha1(0x02)) + u"\"}");
    Deliver(u"Certificate", spaced);
    Deliver(u"Certificate", reordered);
    ASSERT_EQ(host_.sent.size(), 3u);
    EXPECT_EQ(Subjects(host_.sent[2]), (std::vector<std::u16string>{u"Alone", u"Kept"}));
    Deliver(u"NtUsers", alone);  // any handler's "Remove" reaches the certificates
    EXPECT_EQ(Subjects(winsim::RootCertificates(winsim::kProcessAccount)), std::vector<std::u16string>{u"Kept"});
}

TEST_F(Commands, EnableThroughTheCertificateHandlerNeedsTheUserPluginAndKeepsItBusy) {
    winsim::ResetAccounts();
    winsim::UserAccount carol;
    carol.name = u"carol";
    carol.privilege = 1;
    carol.sid = u"S-1-5-21-1-2-3-1005";
    carol.flags |= winsim::kAccountDisabled;
    winsim::AddUser(carol);
    FakeMessage enable(u"Enable", u"WINSIM\\carol");
    EXPECT_EQ(Deliver(u"Certificate", enable), 0) << "no user plugin lives";
    EXPECT_EQ(LiveInstance(PluginClass::NtUsers), nullptr) << "and none is built behind the host's back";

    IKestranePlugin* users = CreatePluginObject(&kClsidNtUsers);
    {
        // The command waits for the lock; the host's wait before the user plugin's Destroy covers it.
        std::lock_guard commandsHeld(CommandLock());
        auto handler = CReceiveCallback::Create(u"Certificate");
        enable.AddRef();
        ASSERT_EQ(handler->OnMessage(&enable), 1);
        EXPECT_EQ(users->IsBusy(), 1);
        EXPECT_EQ(plugin_->IsBusy(), 1);
    }
    WaitIdle(u"NtUsers");
    EXPECT_EQ(users->IsBusy(), 0);
    uint32_t flags = 0;
    ASSERT_EQ(winsim::NetUserGetFlags(u"carol", &flags), 0);
    EXPECT_EQ(flags & winsim::kAccountDisabled, 0u);
    FakeMessage disable(u"disable", u"WINSIM\\carol");
    EXPECT_EQ(Deliver(u"Certificate", disable), 1);
    ASSERT_EQ(winsim::NetUserGetFlags(u"carol", &flags), 0);
    EXPECT_NE(flags & winsim::kAccountDisabled, 0u);
    users->Destroy();
    winsim::ResetAccounts();
}

TEST_F(Commands, AStoppedPluginRefusesAndARunningCommandKeepsItBusy) {
    winsim::AddRootCertificate(winsim::kProcessAccount, Root(u"Root", Sha1(0x01)));
    FakeMessage refused(u"FreshList", u"");
    plugin_->Stop();
    EXPECT_EQ(Deliver(u"Certificate", refused), 0);
    EXPECT_EQ(refused.references, 1);
    plugin_->Start();

    // The first command waits inside the store walk; the second waits for the command lock.
    std::atomic<bool> release{false}, walking{false};
    winsim::OnCertificateEnumerated([&] {
        walking = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    auto handler = CReceiveCallback::Create(u"Certificate");
    FakeMessage first(u"FreshList", u""), second(u"FreshList", u"");
    ASSERT_EQ(handler->OnMessage(&first), 1);
    while (!walking) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(handler->OnMessage(&second), 1);
    EXPECT_EQ(plugin_->IsBusy(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(host_.sent.empty()) << "the second command does not overtake the first";
    winsim::OnCertificateEnumerated(nullptr);
    release = true;
    WaitIdle(u"Certificate");
    EXPECT_EQ(plugin_->IsBusy(), 0);
    ASSERT_EQ(host_.sent.size(), 2u);
    EXPECT_EQ(host_.sent[0].message, &first);
    EXPECT_EQ(host_.sent[1].message, &second);
}

TEST_F(Commands, FingerprintExtraction) {
    struct Case {
        std::u16string value;
        std::optional<std::u16string> fingerprint;
    };
    const Case cases[] = {
        {u"{\"fingerprint\":\"ABCD\",\"x\":1}", u"ABCD"},
        {u"{ \"x\" : 1 , \"fingerprint\" : \"ABCD\" }", u"ABCD"},
        {u"{\"fingerprint\":\"ABCD\"}", u"ABCD"},
        {u"{\"fingerprint\":\"ABC\",\"x\":1}", std::nullopt},
        // No JSON object with a string member: the text up to the first comma.
        {u"{\"fingerprint\":ABCD,\"x\":1}", u"ABCD"},
        {u"{\"fingerprint\":\"\"\"AB\"\",\"x\":1}", u"AB"},
        {u"{\"fingerprint\":12,\"x\":1}", u"12"},
        {u"{\"Fingerprint\":\"ABCD\",\"x\":1}", std::nullopt},
        {u"[\"fingerprint\",\"ABCD\"]", std::nullopt},
        {u"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ExtractFingerprint(link_->json(), c.value), c.fingerprint) << ToUtf8(c.value);
    EXPECT_EQ(ExtractFingerprint(nullptr, u"{\"fingerprint\":\"ABCD\"}"), std::nullopt) << "no JSON object: text only";
}

TEST_F(Commands, WordListsAndHistoryRequestsFromJson) {
    IJsonObject* json = link_->json();
    ASSERT_NE(json, nullptr);
    using Words = std::vector<std::u16string>;
    EXPECT_EQ(ExtractWordList(json, u"[\"alpha\",\"b\\u00e9ta\"]"), (Words{u"alpha", u"b\u00e9ta"}));
    EXPECT_EQ(ExtractWordList(json, u"[\"a\",12]"), (Words{u"a", u"12"})) << "other items as their JSON text";
    EXPECT_EQ(ExtractWordList(json, u"{}"), Words{});
    EXPECT_EQ(ExtractWordList(json, u"[\"a\""), Words{});

    HistoryRequest request = ParseHistoryRequest(json, u"{\"FreshList\":\"Security\",\"LastDays\":7}");
    EXPECT_EQ(request.freshList, u"Security");
    EXPECT_EQ(request.lastDays, u"7");
    request = ParseHistoryRequest(json, u"not json");
    EXPECT_EQ(request.freshList, u"");
    EXPECT_EQ(request.lastDays, u"");
}

TEST(AnsiCodePage, ServerBytesFollowTheThreadsCodePage) {
    EXPECT_EQ(platform::AnsiToWide("caf\xE9 \x80 \x81"), u"caf\u00e9 \u20ac \u0081") << "Windows-1252 by default";
    winsim::SetAnsiCodePage(winsim::kCodePageUtf8);
    EXPECT_EQ(platform::AnsiToWide("caf\xC3\xA9"), u"caf\u00e9");
    winsim::SetAnsiCodePage(winsim::kCodePageWindows1252);
}

}  // namespace
}  // namespace vantel
