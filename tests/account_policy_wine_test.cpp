// The account policy through the Windows build, over what Wine implements for real: the
// profile-string functions, programs started through the shell, well-known identities, the
// account domain and registry access lists. Wine's secedit.exe ends at once having done nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "accounts/account_policy.h"
#include "common/system_helpers.h"
#include "common/text.h"
#include "platform/files.h"
#include "platform/library.h"
#include "platform/lsa.h"
#include "platform/registry.h"
#include "platform/shell.h"

namespace vantel {
namespace {

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// The agent root is the folder above the test: it needs the companion library and the user
// plugin's folders.
class WineAgentRoot : public ::testing::Environment {
public:
    void SetUp() override {
        std::u16string root = GetQorEDRPath();
        CopyFileW(Wide(root + u"\\agent\\Qorbase.dll"), Wide(root + u"\\Qorbase.dll"), FALSE);
        for (const char16_t* folder : {u"\\pelmar", u"\\pelmar\\plugin", u"\\Utils", u"\\Utils\\QorSecLogon"})
            CreateDirectoryW(Wide(root + folder), nullptr);
    }
    void TearDown() override {
        std::u16string root = GetQorEDRPath();
        for (const char16_t* file : {u"\\Qorbase.dll", u"\\Utils\\QorSecLogon\\QorSecLogon.ini"})
            DeleteFileW(Wide(root + file));
    }
};
const auto* const kAgentRoot = ::testing::AddGlobalTestEnvironment(new WineAgentRoot);

std::u16string RunFile() { return GetQorEDRPath() + u"\\pelmar\\plugin\\{DDC140E2-2F0C-411E-AA89-6A423685F837}.run"; }

int IniNumber(const std::u16string& file, const wchar_t* section, const wchar_t* key) {
    return static_cast<int>(GetPrivateProfileIntW(section, key, -99, Wide(file)));
}

std::u16string IniText(const std::u16string& file, const wchar_t* section, const wchar_t* key) {
    wchar_t value[64] = {};
    GetPrivateProfileStringW(section, key, L"", value, 64, Wide(file));
    return FromWide(value);
}

std::u16string SidText(const platform::Sid& sid) {
    std::u16string text;
    platform::SidToStringSid(sid, &text);
    return text;
}

// Removes the policy's files from the prefix's Windows folder and the agent root.
class WinePolicy : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() {
        for (const char16_t* name : {u"\\gp.ini", u"\\gp_recover.ini", u"\\gp_old.ini", u"\\db"})
            platform::DeleteFileAt(GetWindowsDir() + name);
        platform::DeleteFileAt(RunFile());
    }

    AccountPolicy& policy_ = AccountPolicy::Instance();
};

TEST_F(WinePolicy, TemplateRunFileAndCloseLocalThroughTheProfileFunctions) {
    const std::u16string gp = GetWindowsDir() + u"\\gp.ini";
    policy_.WritePolicyIni(uR"({"strategy": 0, "passwd_min_len": 8, "passwd_expire": 30, "passwd_history_num": 4})");
    EXPECT_EQ(IniText(gp, L"Version", L"signature"), u"$CHICAGO$");
    EXPECT_EQ(IniNumber(gp, L"Version", L"Revision"), 1);
    EXPECT_EQ(IniNumber(gp, L"System Access", L"PasswordComplexity"), 0);
    EXPECT_EQ(IniNumber(gp, L"System Access", L"MaximumPasswordAge"), 30);
    EXPECT_EQ(IniNumber(RunFile(), L"status", L"MaximumPasswordAge"), 30);
    EXPECT_EQ(IniNumber(GetQorEDRPath() + u"\\Utils\\QorSecLogon\\QorSecLogon.ini", L"QorSecLogon", L"CloseLocal"), 1);
    policy_.WritePolicyIni(uR"({"passwd_min_len": 10})");
    EXPECT_EQ(IniNumber(gp, L"System Access", L"MinimumPasswordLength"), 10);
    EXPECT_EQ(IniNumber(gp, L"System Access", L"PasswordHistorySize"), 4) << "earlier keys stay";
    EXPECT_FALSE(platform::FileExists(GetWindowsDir() + u"\\db"));
}

TEST_F(WinePolicy, RecoveryTemplateOnlyFromAPolicyReadFromAnExport) {
    const std::u16string run = RunFile();
    const std::u16string recovery = GetWindowsDir() + u"\\gp_recover.ini";
    policy_.RemovePolicyOnUninstall();
    EXPECT_FALSE(platform::FileExists(recovery)) << "nothing was saved";

    const wchar_t* const keys[] = {L"MaximumPasswordAge", L"MinimumPasswordAge",  L"MinimumPasswordLength",
                                   L"PasswordComplexity", L"PasswordHistorySize", L"LockoutBadCount",
                                   L"LockoutDuration"};
    int value = 40;
    for (const wchar_t* key : keys)
        WritePrivateProfileStringW(L"System Access", key, std::to_wstring(value++).c_str(), Wide(run));
    WritePrivateProfileStringW(L"status", L"policy_saved", L"1", Wide(run));
    policy_.SavePolicyOnInstall();  // Wine's secedit exports nothing: the saved policy stays
    EXPECT_EQ(IniNumber(run, L"System Access", L"MinimumPasswordLength"), 42);
    policy_.RemovePolicyOnUninstall();
    value = 40;
    for (const wchar_t* key : keys) EXPECT_EQ(IniNumber(recovery, L"System Access", key), value++);
    EXPECT_EQ(IniText(recovery, L"Version", L"signature"), u"$CHICAGO$");
}

TEST(WineShell, ProgramsStartHiddenAndAreAwaitedForTheirExitCode) {
    std::u16string system;
    ASSERT_EQ(platform::GetSpecialFolderPath(platform::kCsidlSystem, &system), 0);
    EXPECT_TRUE(EqualsIgnoreCase(system, platform::SystemDirectory())) << ToUtf8(system);
    platform::ProcessHandle process;
    ASSERT_EQ(platform::ShellStartProgram(system + u"\\cmd.exe", u"/c exit 3", &process), 0);
    ASSERT_EQ(platform::WaitForProcess(process, 30000), platform::WaitResult::Signaled);
    uint32_t code = 0;
    EXPECT_EQ(platform::GetProcessExitCode(process, &code), 0);
    EXPECT_EQ(code, 3u);
    platform::ProcessHandle missing;
    EXPECT_EQ(platform::ShellStartProgram(system + u"\\no-such-program.exe", u"", &missing), ERROR_FILE_NOT_FOUND);
}

TEST(WineAccounts, WellKnownIdentitiesAndTheGuestAccountOfTheAccountDomain) {
    platform::Sid world, administrators, domain, guest;
    ASSERT_EQ(platform::CreateWellKnownSid(platform::WellKnownSid::World, {}, &world), 0);
    EXPECT_EQ(SidText(world), u"S-1-1-0");
    ASSERT_EQ(platform::CreateWellKnownSid(platform::WellKnownSid::BuiltinAdministrators, {}, &administrators), 0);
    EXPECT_EQ(SidText(administrators), u"S-1-5-32-544");
    platform::LsaPolicy lsa;
    ASSERT_EQ(lsa.Open(platform::kPolicyViewLocalInformation), 0);
    ASSERT_EQ(lsa.QueryAccountDomainSid(&domain), 0);
    EXPECT_EQ(SidText(domain).rfind(u"S-1-5-21-", 0), 0u) << ToUtf8(SidText(domain));
    ASSERT_EQ(platform::CreateWellKnownSid(platform::WellKnownSid::AccountGuest, domain, &guest), 0);
    std::u16string name;
    ASSERT_EQ(platform::LookupAccountNameOfSid(guest, &name), 0);
    EXPECT_EQ(name, u"Guest");
    std::vector<std::u16string> groups;
    EXPECT_EQ(platform::NetUserGetLocalGroupNames(name, &groups), 0);

    std::vector<platform::UserFlagsEntry> users;
    int32_t status = platform::NetUserEnumNormal(&users);
    if (status == ERROR_INVALID_LEVEL) GTEST_SKIP() << "Wine's NetUserEnum has no level 1";
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(users.empty());
}

TEST(WineAccessLists, DenyEntryOnARegistryKeyIsHeldOnceAndRemoved) {
    const std::u16string key = u"SOFTWARE\\VantelPolicyTest" +
                               FromUtf8(std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    ASSERT_EQ(platform::RegWriteDword(platform::RegRoot::LocalMachine, key, u"Seed", 1), 0);
    const std::u16string object = u"MACHINE\\" + key;
    AccountPolicy& policy = AccountPolicy::Instance();
    auto denies = [&] {
        platform::Dacl dacl;
        uint32_t count = 0, found = 0;
        EXPECT_EQ(platform::GetKeyDacl(object, &dacl), 0);
        if (dacl.GetAceCount(&count) != 0) return 0u;
        for (uint32_t i = 0; i < count; ++i) {
            platform::AccessEntry entry{};
            if (dacl.GetAce(i, &entry) == 0 && entry.type == platform::kAccessDeniedAce && entry.mask == 0x10004 &&
                SidText(entry.sid) == u"S-1-1-0") {
                EXPECT_EQ(entry.flags, 2) << "handed down to containers";
                ++found;
            }
        }
        return found;
    };
    EXPECT_TRUE(policy.AddEveryOneDenyDACL(object));
    EXPECT_TRUE(policy.AddEveryOneDenyDACL(object));
    EXPECT_EQ(denies(), 1u) << "Wine's SetEntriesInAclW appends: the second add must not";
    EXPECT_EQ(policy.RemoveEveryOneDenyDACL(object), 0);
    EXPECT_EQ(denies(), 0u);
    EXPECT_EQ(policy.RemoveEveryOneDenyDACL(object), 0) << "nothing to remove, the list is written back";
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, Wide(key));
}

}  // namespace
}  // namespace vantel
