// The user plugin: the inventory with its time rules, enabling and disabling accounts, the
// dictionary file, and the digest and WQL texts beneath them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "accounts/md4.h"
#include "accounts/nt_users.h"
#include "accounts/wql.h"
#include "common/format.h"
#include "fake_host.h"
#include "platform/errors.h"
#include "plugin/factory.h"
#include "plugin/host_link.h"
#include "winsim/accounts.h"
#include "winsim/classic_eventlog.h"
#include "winsim/files.h"
#include "winsim/registry.h"
#include "winsim/signing.h"
#include "winsim/wmi.h"

namespace vantel {
namespace {

namespace fs = std::filesystem;
using Fields = std::map<std::u16string, std::u16string>;

// The test executable plays the module: the agent root, with the companion library and the
// "Utils" folder, is the folder above it.
class AgentRoot : public ::testing::Environment {
public:
    void SetUp() override {
        fs::path exe = fs::read_symlink("/proc/self/exe");
        root_ = exe.parent_path().parent_path();
        fs::copy_file(fs::path(VANTEL_AGENT_DIR) / "Qorbase.dll", root_ / "Qorbase.dll",
                      fs::copy_options::overwrite_existing);
        fs::create_directories(root_ / "Utils");
        winsim::SetFileSigner(exe.string(), "agent");
        winsim::SetFileSigner((root_ / "Qorbase.dll").string(), "agent");
    }
    void TearDown() override { fs::remove(root_ / "Qorbase.dll"); }
    static fs::path Dictionary() { return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "Utils" / "udict.bin"; }

private:
    fs::path root_;
};
const auto* const kAgentRoot = ::testing::AddGlobalTestEnvironment(new AgentRoot);

std::string Hex(const Md4Digest& digest) {
    std::string text;
    for (uint8_t byte : digest) text += "0123456789abcdef"[byte >> 4], text += "0123456789abcdef"[byte & 15];
    return text;
}

TEST(Md4, Rfc1320Vectors) {
    const std::pair<std::string, std::string> kVectors[] = {
        {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
        {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
        {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
        {"message digest", "d9130a8164549fe818874806e1c7014b"},
        {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "043f8582f241db351ce627e153e7f0e4"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "e33b4ddc9c38f2199c3e7b164fcc0536"}};
    for (const auto& [input, digest] : kVectors) EXPECT_EQ(Hex(Md4(input.data(), input.size())), digest) << input;
}

TEST(Wql, AccountPathsOddOrCutShort) {
    std::u16string name, domain;
    ParseUserAccountPath(u"\\\\WINSIM\\root\\cimv2:Win32_UserAccount.Name=\"O'Brien\",Domain=\"WINSIM\"", &name,
                         &domain);
    EXPECT_EQ(name, u"O'Brien");
    EXPECT_EQ(domain, u"WINSIM");
    ParseUserAccountPath(u"\\\\WINSIM\\root\\cimv2:Win32_Group.Domain=\"WINSIM\",Name=\"x\"", &name, &domain);
    EXPECT_EQ(name, u"") << "no account path gives no name";
    // Cut short: no comma after the name, no closing quote after the domain.
    for (const char16_t* path : {u"Win32_UserAccount.Name=\"alice", u"x,Win32_UserAccount.Name=\"", u"Domain=\""}) {
        ParseUserAccountPath(path, &name, &domain);
        EXPECT_EQ(name, u"") << ToUtf8(path);
        EXPECT_EQ(domain, u"") << ToUtf8(path);
    }
    EXPECT_EQ(EscapeWqlLiteral(u"O'Brien\\x"), u"O\\'Brien\\\\x");
}

constexpr char16_t kMachine[] = u"S-1-5-21-1004336348-1177238915-682003330";
constexpr uint64_t kTicks1970 = 0x019DB1DED53E8000ull;
uint64_t Ticks(int64_t seconds) { return kTicks1970 + static_cast<uint64_t>(seconds) * 10000000ull; }
constexpr uint32_t kInstallDate = 1500000000;

class NtUsersTest : public ::testing::Test {
protected:
    void SetUp() override {
        winsim::ResetAccounts();
        winsim::ResetClassicLogs();
        winsim::SetWmiConnectFailure(0);
        winsim::RegSetDword(winsim::Hive::LocalMachine, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                            u"InstallDate", kInstallDate);
        static testing::FakeHost* const host = new testing::FakeHost;
        host_ = host;
        host_->sent.clear();
        NewPlugin();
    }
    void TearDown() override { plugin_->Destroy(); }

    // A plugin object of its own, linked to the host (a Destroy withdraws the link).
    void NewPlugin() {
        plugin_ = InstanceOf<CNtUsers>();
        link_ = PluginHostLink::For(u"NtUsers");
        ASSERT_EQ(link_->Register(host_), 1);
        link_->currentMessage = &message_;
    }

    void Add(winsim::UserAccount user, uint64_t profileTicks = 0) {
        if (profileTicks) winsim::SetUserProfile(user.sid, u"%SystemDrive%\\Users\\" + user.name, profileTicks);
        winsim::AddUser(user);
    }

    // The rows of the one reply ReFresh sent, by account name.
    std::map<std::u16string, Fields> Inventory() {
        host_->sent.clear();
        plugin_->ReFresh();
        std::map<std::u16string, Fields> rows;
        EXPECT_EQ(host_->sent.size(), 1u);
        if (host_->sent.size() != 1) return rows;
        EXPECT_TRUE(host_->sent[0].reply);
        EXPECT_EQ(host_->sent[0].message, &message_);
        for (const auto& [tag, values] : host_->sent[0].nodes) {
            EXPECT_EQ(tag, u"Item");
            Fields fields(values.begin(), values.end());
            rows[fields[u"Name"]] = fields;
        }
        return rows;
    }

    testing::FakeHost* host_ = nullptr;
    PluginHostLink* link_ = nullptr;
    testing::FakeMessage message_;
    CNtUsers* plugin_ = nullptr;
};

TEST_F(NtUsersTest, InventoryFieldsAndTimeRules) {
    std::u16string sid = kMachine;
    // alice: NetUserGetInfo's last logon precedes her profile, which wins.
    Add({u"alice", 2, sid + u"-1001", u"admin", 0x201, u"", 1000, 3, 7, Ticks(1600000000)}, Ticks(1600000100));
    // bob: a logon count but no profile, so no logon at all; disabled and locked out.
    Add({u"bob", 1, sid + u"-1002", u"", 0x201 | 0x2 | 0x10, u"", 1600000500, 0, 2, 0});
    // O'Brien: no logon from the account database, so the newest Security-log logon; his
    // creation comes from the log too, the SAM recording none.
    Add({u"O'Brien", 1, sid + u"-1003", u"", 0x201, u"", 0, 0, 0, 0}, Ticks(1600000000));
    winsim::AppendClassicRecord(u"Security", {4720, 1590000000, {u"O'Brien"}});
    winsim::AppendClassicRecord(u"Security", {4624, 1600000900, {u"S-1-5-18", u"", u"", u"", u"", u"O'Brien"}});
    winsim::AppendClassicRecord(u"Security", {4624, 1600000200, {u"S-1-5-18", u"", u"", u"", u"", u"O'Brien"}});
    winsim::AppendClassicRecord(u"Security", {4624, 1600000300, {u"S-1-5-18", u"", u"", u"", u"", u"alice"}});
    // ADMINISTRATOR in other letter case is still built in: the system's install date.
    Add({u"ADMINISTRATOR", 2, sid + u"-500", u"", 0x201, u"", 0, 0, 0, Ticks(1650000000)});
    ASSERT_EQ(plugin_->Start(), 0);

    auto rows = Inventory();
    ASSERT_EQ(rows.size(), 5u) << "Administrator, Guest, alice, bob and O'Brien";
    EXPECT_EQ(rows[u"alice"], (Fields{{u"Name", u"alice"}, {u"FullName", u"WINSIM\\alice"}, {u"Description", u"admin"},
                                      {u"Domain", u"WINSIM"}, {u"Disabled", u"0"}, {u"LockedOut", u"0"},
                                      {u"IsDomain", u"0"}, {u"UsrType", u"2"}, {u"LastLogon", u"1600000100"},
                                      {u"FirstLogon", u"1600000100"}, {u"InstallTime", u"1600000000"},
                                      {u"BadPwCount", u"3"}, {u"NumLogons", u"7"}}));
    EXPECT_EQ(rows[u"bob"][u"Disabled"], u"1");
    EXPECT_EQ(rows[u"bob"][u"LockedOut"], u"1");
    EXPECT_EQ(rows[u"bob"][u"LastLogon"], u"0");
    EXPECT_EQ(rows[u"bob"][u"FirstLogon"], u"0");
    EXPECT_EQ(rows[u"bob"][u"InstallTime"], Format(u"%u", kInstallDate)) << "no SAM time, no creation record";
    EXPECT_EQ(rows[u"O'Brien"][u"LastLogon"], u"1600000200") << "the newest record is read first";
    EXPECT_EQ(rows[u"O'Brien"][u"InstallTime"], u"1590000000");
    EXPECT_EQ(rows[u"ADMINISTRATOR"][u"InstallTime"], Format(u"%u", kInstallDate));
    EXPECT_EQ(rows[u"Guest"][u"UsrType"], u"0");
}

TEST_F(NtUsersTest, DomainAccountsUseTheDnsDomainUnlessItIsTooLong) {
    Add({u"dora", 1, std::u16string(kMachine) + u"-2001", u"", 0x201, u"CORP", 0, 0, 4, 0});
    winsim::SetDnsDomain(u"corp.example");
    winsim::AddUser({u"corp.example-dora-twin", 1, u"S-1-5-21-9-9-9-2002"});  // a local account is unaffected
    ASSERT_EQ(plugin_->Start(), 0);
    auto rows = Inventory();
    EXPECT_EQ(rows[u"dora"][u"IsDomain"], u"1");
    EXPECT_EQ(rows[u"dora"][u"Domain"], u"corp.example");
    EXPECT_EQ(rows[u"corp.example-dora-twin"][u"Domain"], u"WINSIM");
    plugin_->Destroy();

    // A 30-character DNS domain does not fit: the account keeps its WMI domain, whose account
    // database does not answer, so the NetUserGetInfo values stay at their defaults.
    winsim::SetDnsDomain(std::u16string(30, u'd'));
    NewPlugin();
    ASSERT_EQ(plugin_->Start(), 0);
    rows = Inventory();
    EXPECT_EQ(rows[u"dora"][u"Domain"], u"CORP");
    EXPECT_EQ(rows[u"dora"][u"NumLogons"], u"4") << "CORP is dora's domain";
}

TEST_F(NtUsersTest, NothingIsReportedWithoutWmiOrWhileStopped) {
    winsim::SetWmiConnectFailure(static_cast<int32_t>(0x80041003));
    ASSERT_EQ(plugin_->Start(), 0);
    plugin_->ReFresh();
    EXPECT_TRUE(host_->sent.empty());

    winsim::SetWmiConnectFailure(0);
    ASSERT_EQ(plugin_->Start(), 0) << "a later Start connects";
    EXPECT_EQ(Inventory().size(), 2u);
    plugin_->Stop();
    host_->sent.clear();
    plugin_->ReFresh();
    EXPECT_TRUE(host_->sent.empty());
}

TEST_F(NtUsersTest, StartConnectsWhileACommandListsTheAccounts) {
    Add({u"alice", 2, u"S-1-5-21-1-2-3-1001"});
    for (int round = 0; round < 10; ++round) {
        if (round > 0) {
            plugin_->Destroy();
            NewPlugin();
        }
        std::thread command([&] {
            for (int i = 0; i < 20; ++i) plugin_->ReFresh();
        });
        ASSERT_EQ(plugin_->Start(), 0);
        command.join();
        EXPECT_EQ(Inventory().count(u"alice"), 1u);
    }
}

TEST_F(NtUsersTest, CtrlUserEnablesAndDisablesLocalAccountsByFullName) {
    winsim::AddUser({u"alice", 1, std::u16string(kMachine) + u"-1001"});
    ASSERT_EQ(plugin_->Start(), 0);
    plugin_->CtrlUser(u"WINSIM\\alice", 0);
    EXPECT_EQ(Inventory()[u"alice"][u"Disabled"], u"1");
    plugin_->CtrlUser(u"WINSIM\\alice", 0);  // already disabled: stored again
    EXPECT_EQ(Inventory()[u"alice"][u"Disabled"], u"1");
    plugin_->CtrlUser(u"alice", 1);  // no domain part: nothing changes
    plugin_->CtrlUser(u"", 1);
    EXPECT_EQ(Inventory()[u"alice"][u"Disabled"], u"1");
    plugin_->CtrlUser(u"anyhost\\alice", 1);
    EXPECT_EQ(Inventory()[u"alice"][u"Disabled"], u"0");
}

TEST_F(NtUsersTest, DictionaryHoldsTheNtHashOfEachWord) {
    fs::remove(AgentRoot::Dictionary());
    plugin_->SaveUdictFile({u"abc", u"", u"Pässwörd"});
    std::ifstream file(AgentRoot::Dictionary(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 48u);
    Md4Digest first;
    std::copy_n(bytes.begin(), 16, first.begin());
    EXPECT_EQ(Hex(first), "e0fba38268d0ec66ef1cb452d5885e53") << "MD4 of 61 00 62 00 63 00";
    std::copy_n(bytes.begin() + 16, 16, first.begin());
    EXPECT_EQ(Hex(first), "31d6cfe0d16ae931b73c59d7e0c089c0");

    plugin_->SaveUdictFile({});
    EXPECT_EQ(fs::file_size(AgentRoot::Dictionary()), 48u) << "an empty list keeps the old file";
    plugin_->SaveUdictFile({u"one"});
    EXPECT_EQ(fs::file_size(AgentRoot::Dictionary()), 16u) << "each save replaces the file";
}

TEST_F(NtUsersTest, AFailedWriteLeavesThePreviousDictionaryWhole) {
    auto read = [] {
        std::ifstream file(AgentRoot::Dictionary(), std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    };
    plugin_->SaveUdictFile({u"abc", u"def", u"ghi"});
    std::vector<uint8_t> previous = read();
    ASSERT_EQ(previous.size(), 48u);
    winsim::FailFileWrite(1, platform::kErrorDiskFull);  // the second digest cannot be written
    plugin_->SaveUdictFile({u"one", u"two", u"three"});
    EXPECT_EQ(read(), previous);
    EXPECT_FALSE(fs::exists(AgentRoot::Dictionary().string() + ".tmp")) << "nothing left beside it";
    plugin_->SaveUdictFile({u"one", u"two", u"three"});
    EXPECT_EQ(read().size(), 48u);
    EXPECT_NE(read(), previous);
}

}  // namespace
}  // namespace vantel
