// The pushed password policy, the SAM's protection and the policy's backup and restore, over the
// simulated machine and its security configuration tool.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>
#include <utility>

#include "accounts/account_policy.h"
#include "agent_root.h"
#include "common/text.h"
#include "plugin/factory.h"
#include "plugin/run_state.h"
#include "trace_log.h"
#include "winsim/accounts.h"
#include "winsim/files.h"
#include "winsim/key_security.h"
#include "winsim/local_groups.h"
#include "winsim/profile.h"
#include "winsim/programs.h"
#include "winsim/registry.h"
#include "winsim/secedit.h"

namespace vantel {
namespace {

namespace fs = std::filesystem;
using Members = std::vector<std::u16string>;

const auto* const kAgentRoot = ::testing::AddGlobalTestEnvironment(new testing::AgentRoot);
constexpr char16_t kRunFile[] = u"pelmar\\plugin\\{DDC140E2-2F0C-411E-AA89-6A423685F837}.run";
constexpr char16_t kSamDomains[] = u"SAM\\SAM\\Domains";
constexpr char16_t kNamesKey[] = u"SAM\\SAM\\Domains\\Account\\Users\\Names";
constexpr char16_t kEveryoneDeny[] = u"(D;CI;0x10004;;;S-1-1-0)";
constexpr char16_t kMachine[] = u"S-1-5-21-1004336348-1177238915-682003330";

fs::path AgentFolder() { return fs::read_symlink("/proc/self/exe").parent_path().parent_path(); }
std::u16string AgentFile(const char16_t* relative) { return winsim::WindowsPath(AgentFolder().string()) + u"\\" + relative; }

int32_t PolicyKey(const char16_t* key) {
    for (const auto& [name, value] : winsim::GetPasswordPolicy())
        if (name == key) return value;
    ADD_FAILURE() << "no policy key " << ToUtf8(key);
    return -1;
}

Members GroupMembers(const std::u16string& group) {
    for (const auto& [name, members] : winsim::LocalGroupMembers())
        if (name == group) return members;
    return {};
}

std::optional<std::u16string> IniText(const std::u16string& file, const char16_t* section, const char16_t* key) {
    return winsim::GetProfileString(file, section, key);
}

class AccountPolicyTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine_ = fs::temp_directory_path() / ("vantel-policy-" + std::to_string(::getpid()));
        fs::remove_all(machine_);
        winsim::MapDrive(u'C', machine_.string());
        fs::create_directories(machine_ / "Windows" / "system32");
        fs::create_directories(AgentFolder() / "pelmar" / "plugin");
        fs::create_directories(AgentFolder() / "Utils" / "QorSecLogon");
        fs::remove(winsim::HostPath(AgentFile(kRunFile)));
        fs::remove(winsim::HostPath(AgentFile(u"Utils\\QorSecLogon\\QorSecLogon.ini")));
        winsim::ResetAccounts();
        winsim::ResetPasswordPolicy();
        winsim::ForgetStartedPrograms();
        traces_.Take();
        users_ = CreatePluginObject(&kClsidNtUsers);  // the module runs work while a plugin object lives
    }
    void TearDown() override {
        if (users_) users_->Destroy();  // the last: the SAM watch ends
        winsim::HoldAccessListWrites(false);
        fs::remove_all(machine_);
        // Other tests start the user plugin from the same folder: no SAM watch for them.
        fs::remove(winsim::HostPath(AgentFile(kRunFile)));
    }

    // Until a queued start of the SAM watch has armed it (it counts as work of "NtUsers" till then).
    void WaitUntilWatching() {
        for (int i = 0; i < 10000 && RunStateOf(u"NtUsers")->running.load() != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(RunStateOf(u"NtUsers")->running.load(), 0);
    }
    // A SAM change, made once every watcher watches, and waited for until they watch again.
    void AddToGroup(const char16_t* group, const char16_t* member) {
        ASSERT_TRUE(winsim::RegWaitForWatchers(winsim::Hive::LocalMachine, kSamDomains, 10000));
        ASSERT_EQ(winsim::AddLocalGroupMember(group, member), 0);
        ASSERT_TRUE(winsim::RegWaitForWatchers(winsim::Hive::LocalMachine, kSamDomains, 10000));
    }
    // The traces from now on, until the text comes (or a generous bound runs out).
    std::string TracesUntil(const std::string& text) {
        std::string seen;
        for (int i = 0; i < 10000 && seen.find(text) == std::string::npos; ++i) {
            seen += traces_.Take();
            if (seen.find(text) == std::string::npos) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return seen;
    }
    static std::u16string Windows(const char16_t* name) { return std::u16string(u"C:\\Windows\\") + name; }

    fs::path machine_;
    testing::TraceLog traces_;
    IKestranePlugin* users_ = nullptr;
    AccountPolicy& policy_ = AccountPolicy::Instance();
};

TEST_F(AccountPolicyTest, TemplateAccumulatesAndIsAppliedWholeBeforeItsDatabaseGoes) {
    policy_.WritePolicyIni(uR"({"passwd_history_num": 5})");
    winsim::SetPasswordPolicyKey(u"PasswordHistorySize", 0);
    // A secedit that takes its time: the command waits for it, then deletes its database.
    winsim::SetSeceditTime(2500);
    policy_.WritePolicyIni(uR"({"passwd_min_len": 8})");
    EXPECT_EQ(PolicyKey(u"MinimumPasswordLength"), 8);
    EXPECT_EQ(PolicyKey(u"PasswordHistorySize"), 5) << "the earlier key is applied again";
    EXPECT_FALSE(fs::exists(winsim::HostPath(Windows(u"db"))));
    EXPECT_EQ(IniText(Windows(u"gp.ini"), u"Version", u"signature"), u"$CHICAGO$");
    EXPECT_EQ(IniText(Windows(u"gp.ini"), u"Version", u"Revision"), u"1");
    EXPECT_EQ(IniText(Windows(u"gp.ini"), u"System Access", u"MinimumPasswordLength"), u"8");
    EXPECT_EQ(IniText(Windows(u"gp.ini"), u"System Access", u"PasswordComplexity"), std::nullopt);
    std::vector<std::u16string> started = winsim::StartedPrograms();
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[1],
              uR"(C:\Windows\system32\secedit.exe /configure /db "C:\Windows\db" /cfg "C:\Windows\gp.ini")");

    traces_.Take();
    winsim::SetSeceditTime(winsim::kNeverEnds);
    policy_.WritePolicyIni(uR"({"acc_err_times": 3})");
    winsim::SetSeceditTime(0);
    winsim::FailSecedit(5);
    policy_.WritePolicyIni(uR"({"acc_lock_time": 15})");
    std::string traces = traces_.Take();
    EXPECT_NE(traces.find("[Vantel]secedit did not end within 60000 ms"), std::string::npos) << traces;
    EXPECT_NE(traces.find("[Vantel]secedit failed, exit code 5"), std::string::npos) << traces;
}

TEST_F(AccountPolicyTest, ValueThatIsNotJsonTouchesNothing) {
    policy_.WritePolicyIni(u"passwd_min_len=8");
    policy_.WritePolicyIni(uR"({"strategy": 1,)");
    EXPECT_FALSE(fs::exists(winsim::HostPath(Windows(u"gp.ini"))));
    EXPECT_FALSE(fs::exists(winsim::HostPath(AgentFile(kRunFile))));
    EXPECT_FALSE(fs::exists(winsim::HostPath(AgentFile(u"Utils\\QorSecLogon\\QorSecLogon.ini"))));
    EXPECT_TRUE(winsim::StartedPrograms().empty());
    std::string traces = traces_.Take();
    EXPECT_NE(traces.find("[Vantel]load json buf failed -2"), std::string::npos) << traces;
    EXPECT_NE(traces.find("[Vantel]WritePolicyIni Failed\n"), std::string::npos) << traces;
}

TEST_F(AccountPolicyTest, ComplexitySwitchesCloseLocalAndExpiryClearsNeverExpires) {
    const std::u16string closeLocal = AgentFile(u"Utils\\QorSecLogon\\QorSecLogon.ini");
    policy_.WritePolicyIni(uR"({"strategy": 0})");
    EXPECT_EQ(IniText(Windows(u"gp.ini"), u"System Access", u"PasswordComplexity"), u"0");
    EXPECT_EQ(IniText(closeLocal, u"QorSecLogon", u"CloseLocal"), u"1");
    policy_.WritePolicyIni(uR"({"strategy": 2, "passwd_min_len": null})");
    EXPECT_EQ(IniText(closeLocal, u"QorSecLogon", u"CloseLocal"), u"0");
    EXPECT_EQ(PolicyKey(u"PasswordComplexity"), 2);
    EXPECT_EQ(IniText(Windows(u"gp.ini"), u"System Access", u"MinimumPasswordLength"), std::nullopt)
        << "a member that is no number changes nothing";

    constexpr uint32_t kNeverExpires = 0x10201;
    auto neverExpiring = [] {
        std::vector<std::u16string> names;
        for (const winsim::UserAccount& user : winsim::ListUsers())
            if (user.flags & 0x10000) names.push_back(user.name);
        return names;
    };
    auto expireNever = [&] {
        winsim::AddUser({u"alice", 1, std::u16string(kMachine) + u"-1001", u"", kNeverExpires});
        winsim::AddUser({u"dora", 1, std::u16string(kMachine) + u"-2001", u"", kNeverExpires, u"CORP"});
    };
    expireNever();
    policy_.WritePolicyIni(uR"({"passwd_expire": 0})");
    EXPECT_EQ(neverExpiring(), std::vector<std::u16string>{u"dora"}) << "a domain account is not this computer's";
    EXPECT_EQ(IniText(AgentFile(kRunFile), u"status", u"MaximumPasswordAge"), u"0");
    expireNever();
    policy_.ApplyPolicyOnStart();
    EXPECT_EQ(neverExpiring().size(), 2u) << "a Start after expiry 0 leaves the accounts alone";
    policy_.WritePolicyIni(uR"({"passwd_expire": 42})");
    expireNever();
    policy_.ApplyPolicyOnStart();
    EXPECT_EQ(neverExpiring(), std::vector<std::u16string>{u"dora"});
}

TEST_F(AccountPolicyTest, SamWatchTakesGuestOutOfOtherGroupsUntilSwitchedOff) {
    policy_.WritePolicyIni(uR"({"has_change_acc_pri": 1})");
    WaitUntilWatching();
    EXPECT_EQ(IniText(AgentFile(kRunFile), u"status", u"has_change_acc_pri"), u"1");
    AddToGroup(u"Administrators", u"Guest");
    EXPECT_EQ(GroupMembers(u"Administrators"), Members{u"Administrator"});
    EXPECT_EQ(GroupMembers(u"Guests"), Members{u"Guest"});
    std::string traces = traces_.Take();
    EXPECT_NE(traces.find("[Vantel]group_0, Administrators \n"), std::string::npos) << traces;

    // Switched off while it waits: the loop ends at the next change and takes nothing out.
    policy_.WritePolicyIni(uR"({"has_change_acc_pri": 0})");
    ASSERT_EQ(winsim::AddLocalGroupMember(u"Users", u"Guest"), 0);
    traces = TracesUntil("[Vantel]Exit reg monitor thread\n");
    EXPECT_NE(traces.find("[Vantel]Disable reg monitor\n"), std::string::npos) << traces;
    EXPECT_NE(traces.find("[Vantel]Sam change detected\n"), std::string::npos) << traces;
    EXPECT_NE(traces.find("[Vantel]Exit reg monitor thread\n"), std::string::npos) << traces;
    EXPECT_EQ(traces.find("group_"), std::string::npos) << traces;
    EXPECT_EQ(GroupMembers(u"Users"), Members{u"Guest"});
}

TEST_F(AccountPolicyTest, StartRestartsTheWatchFromTheRunFile) {
    policy_.WritePolicyIni(uR"({"has_change_acc_pri": 1})");
    WaitUntilWatching();
    policy_.ReleaseSamMonitor();  // as the last Destroy does
    AddToGroup(u"Administrators", u"Guest");
    EXPECT_EQ(GroupMembers(u"Administrators"), (Members{u"Administrator", u"Guest"})) << "no watch any more";

    policy_.ApplyPolicyOnStart();
    WaitUntilWatching();
    AddToGroup(u"Users", u"Guest");
    EXPECT_EQ(GroupMembers(u"Administrators"), Members{u"Administrator"});
    EXPECT_EQ(GroupMembers(u"Users"), Members{});
}

TEST_F(AccountPolicyTest, LastDestroyReturnsOnceTheWatchHasEnded) {
    ASSERT_NE(users_, nullptr);
    // A start of the watch held inside its grant on the SAM while the last object goes.
    winsim::HoldAccessListWrites(true);
    policy_.WritePolicyIni(uR"({"has_change_acc_pri": 1})");
    for (int i = 0; i < 10000 && winsim::HeldAccessListWrites() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(winsim::HeldAccessListWrites(), 1u);
    std::thread later([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        winsim::HoldAccessListWrites(false);
    });
    traces_.Take();
    EXPECT_EQ(std::exchange(users_, nullptr)->Destroy(), 0);
    EXPECT_NE(traces_.Take().find("[Vantel]Exit reg monitor thread\n"), std::string::npos)
        << "the watch ended before Destroy returned";
    later.join();
}

TEST_F(AccountPolicyTest, TwoEnablesAtOnceStartOneLoop) {
    // The first start stops inside its grant on the SAM; a second enable meanwhile returns at once.
    winsim::HoldAccessListWrites(true);
    policy_.WritePolicyIni(uR"({"has_change_acc_pri": 1})");
    for (int i = 0; i < 10000 && winsim::HeldAccessListWrites() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(winsim::HeldAccessListWrites(), 1u);
    auto second = std::make_shared<std::promise<int32_t>>();
    std::future<int32_t> result = second->get_future();
    std::thread([second] { second->set_value(AccountPolicy::Instance().EnableSamMonitor(true)); }).detach();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(result.get(), 1);
    winsim::HoldAccessListWrites(false);
    WaitUntilWatching();
    AddToGroup(u"Administrators", u"Guest");
    std::string traces = traces_.Take();
    size_t first = traces.find("[Vantel]Sam change detected");
    ASSERT_NE(first, std::string::npos) << traces;
    EXPECT_EQ(traces.find("[Vantel]Sam change detected", first + 1), std::string::npos) << "one loop: " << traces;
}

TEST_F(AccountPolicyTest, DenyEntryIsHeldOnceAndEveryCopyGoesWithOneRemoval) {
    policy_.WritePolicyIni(uR"({"has_manage_acc_pri": 1})");
    policy_.WritePolicyIni(uR"({"has_manage_acc_pri": 1})");
    std::u16string list = winsim::KeyAccessText(winsim::Hive::LocalMachine, kNamesKey);
    size_t deny = list.find(kEveryoneDeny);
    ASSERT_NE(deny, std::u16string::npos) << ToUtf8(list);
    EXPECT_EQ(list.find(kEveryoneDeny, deny + 1), std::u16string::npos) << "held once: " << ToUtf8(list);
    // Copies that a merge which appends has left behind all go at once.
    winsim::SetKeyAccessText(winsim::Hive::LocalMachine, kNamesKey, u"D:(D;CI;0x10004;;;WD)(A;;KR;;;BU)(D;CI;0x10004;;;WD)");
    policy_.WritePolicyIni(uR"({"has_manage_acc_pri": 0})");
    list = winsim::KeyAccessText(winsim::Hive::LocalMachine, kNamesKey);
    EXPECT_EQ(list.find(u"S-1-1-0"), std::u16string::npos) << ToUtf8(list);
    EXPECT_NE(list.find(u"(A;;0x20019;;;S-1-5-32-545)"), std::u16string::npos) << ToUtf8(list);

    // With nothing to take away, the list is still written back.
    winsim::HoldAccessListWrites(true);
    std::thread removal([&] { policy_.RemoveEveryOneDenyDACL(u"MACHINE\\" + std::u16string(kNamesKey)); });
    for (int i = 0; i < 10000 && winsim::HeldAccessListWrites() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(winsim::HeldAccessListWrites(), 1u);
    winsim::HoldAccessListWrites(false);
    removal.join();
    EXPECT_EQ(policy_.AddAceToObject(u"", {}, 1, platform::AccessMode::Grant, 0), 87);
    EXPECT_EQ(policy_.RemoveAceFromObject(u"", {}, 1), 87);
}

TEST_F(AccountPolicyTest, GermanMachineIsProtectedByWellKnownIdentities) {
    winsim::ResetAccounts(winsim::Language::German);
    policy_.WritePolicyIni(uR"({"has_change_acc_pri": 1, "has_manage_acc_pri": 1})");
    WaitUntilWatching();
    EXPECT_NE(winsim::KeyAccessText(winsim::Hive::LocalMachine, kNamesKey).find(kEveryoneDeny), std::u16string::npos);
    AddToGroup(u"Administratoren", u"Gast");
    EXPECT_EQ(GroupMembers(u"Administratoren"), Members{u"Administrator"});
    EXPECT_EQ(GroupMembers(u"G\u00e4ste"), Members{u"Gast"});
}

TEST_F(AccountPolicyTest, InstallKeepsEachExportAndUninstallPutsTheLastBack) {
    winsim::SetPasswordPolicyKey(u"MinimumPasswordLength", 6);
    winsim::SetPasswordPolicyKey(u"MaximumPasswordAge", -1);
    policy_.SavePolicyOnInstall();
    EXPECT_NE(traces_.Take().find("[vantel]ini found, i=0!!!\n"), std::string::npos);
    EXPECT_EQ(IniText(AgentFile(kRunFile), u"System Access", u"MinimumPasswordLength"), u"6");
    EXPECT_EQ(IniText(AgentFile(kRunFile), u"System Access", u"MaximumPasswordAge"), u"-1");
    EXPECT_FALSE(fs::exists(winsim::HostPath(Windows(u"gp_old.ini"))));

    // A second install keeps the policy of its time; a slow export is waited for.
    winsim::SetSeceditTime(2500);
    winsim::SetPasswordPolicyKey(u"MinimumPasswordLength", 9);
    policy_.SavePolicyOnInstall();
    EXPECT_NE(traces_.Take().find("[vantel]ini found, i=2!!!\n"), std::string::npos);
    // An export that never comes keeps what was saved: 9, not zeros.
    winsim::SetSeceditTime(winsim::kNeverEnds);
    winsim::SetPasswordPolicyKey(u"MinimumPasswordLength", 14);
    policy_.SavePolicyOnInstall();
    EXPECT_NE(traces_.Take().find("[vantel]ini not found, i=11!!!\n"), std::string::npos);

    winsim::SetSeceditTime(0);
    policy_.WritePolicyIni(uR"({"passwd_min_len": 20, "has_manage_acc_pri": 1})");
    policy_.RemovePolicyOnUninstall();
    EXPECT_EQ(PolicyKey(u"MinimumPasswordLength"), 9);
    EXPECT_EQ(PolicyKey(u"MaximumPasswordAge"), -1);
    EXPECT_EQ(IniText(Windows(u"gp_recover.ini"), u"Version", u"signature"), u"$CHICAGO$");
    EXPECT_EQ(IniText(Windows(u"gp_recover.ini"), u"System Access", u"LockoutDuration"), u"30");
    EXPECT_EQ(winsim::StartedPrograms().back(),
              uR"(C:\Windows\system32\secedit.exe /configure /db "C:\Windows\db" /cfg "C:\Windows\gp_recover.ini")");
    EXPECT_EQ(winsim::KeyAccessText(winsim::Hive::LocalMachine, kNamesKey).find(kEveryoneDeny), std::u16string::npos);
}

TEST_F(AccountPolicyTest, UninstallWithoutSavedPolicyRestoresNothingButTheNamesKey) {
    winsim::SetPasswordPolicyKey(u"MinimumPasswordLength", 12);
    winsim::SetPasswordPolicyKey(u"LockoutBadCount", 5);
    policy_.AddEveryOneDenyDACL(u"MACHINE\\" + std::u16string(kNamesKey));
    policy_.RemovePolicyOnUninstall();  // no run file
    winsim::SetSeceditTime(winsim::kNeverEnds);
    policy_.SavePolicyOnInstall();  // an export that never comes saves nothing either
    winsim::SetSeceditTime(0);
    winsim::ForgetStartedPrograms();
    policy_.RemovePolicyOnUninstall();
    EXPECT_TRUE(winsim::StartedPrograms().empty()) << "no secedit with a template of zeros";
    EXPECT_EQ(PolicyKey(u"MinimumPasswordLength"), 12);
    EXPECT_EQ(PolicyKey(u"LockoutBadCount"), 5);
    EXPECT_EQ(winsim::KeyAccessText(winsim::Hive::LocalMachine, kNamesKey).find(kEveryoneDeny), std::u16string::npos);
    std::string traces = traces_.Take();
    EXPECT_NE(traces.find("[Vantel]run file not exist!\n"), std::string::npos) << traces;
}

}  // namespace
}  // namespace vantel
