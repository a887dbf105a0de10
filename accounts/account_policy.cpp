#include "accounts/account_policy.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "accounts/policy_files.h"
#include "common/system_helpers.h"
#include "common/text.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "plugin/companion.h"
#include "plugin/singleton.h"
#include "plugin/trace.h"

namespace vantel {

namespace policy_files {

std::u16string InWindowsDirectory(const char16_t* name) { return GetWindowsDir() + name; }

std::u16string RunFilePath() {
    return Format(u"%s\\pelmar\\plugin\\%s.run", GetQorEDRPath(), u"{DDC140E2-2F0C-411E-AA89-6A423685F837}");
}

bool WriteIniNumber(const std::u16string& file, const char16_t* section, const char16_t* key, int32_t value) {
    int32_t error = platform::IniWriteText(file, section, key, Format(u"%d", value));
    if (error != 0) TraceInfo(u"[Vantel]write ini %s failed, %d", file, error);
    return error == 0;
}

void WriteTemplateVersion(const std::u16string& file) {
    if (int32_t error = platform::IniWriteText(file, u"Version", u"signature", u"$CHICAGO$"))
        TraceInfo(u"[Vantel]write ini %s failed, %d", file, error);
    platform::IniWriteText(file, u"Version", u"Revision", u"1");
}

std::u16string DatabasePath() { return InWindowsDirectory(u"\\db"); }

std::u16string ConfigureArguments(const std::u16string& templateFile) {
    // Both paths quoted: a Windows folder may hold blanks.
    return Format(u"/configure /db \"%s\" /cfg \"%s\"", DatabasePath(), templateFile);
}

}  // namespace policy_files

namespace {

using namespace policy_files;

// How long a configure may take before the module stops waiting for it.
constexpr uint32_t kConfigureWaitMs = 60000;

enum class Effect { None, CloseLocal, PasswordExpiry };

// The members of "SetPolicy" that become template keys, in the order they are handled.
struct TemplateMember {
    const char16_t* member;
    const char16_t* key;
    const char16_t* before;   // traced whether the member is there or not
    const char16_t* written;  // traced with the value
    Effect effect;
};

constexpr TemplateMember kTemplateMembers[] = {
    {u"strategy", u"PasswordComplexity", u"[Vantel]before write strategy\n", u"[Vantel]write strategy %d ",
     Effect::CloseLocal},
    {u"passwd_min_len", u"MinimumPasswordLength", u"[Vantel]before write passwd_min_len\n",
     u"[Vantel]write passwd_min_len %d ", Effect::None},
    {u"passwd_expire", u"MaximumPasswordAge", u"[Vantel]before write passwd_expire\n",
     u"[Vantel]write passwd_expire %d ", Effect::PasswordExpiry},
    {u"passwd_history_num", u"PasswordHistorySize", nullptr, u"[Vantel]write passwd_hist_num %d ", Effect::None},
    {u"guest_acc_manage", u"EnableGuestAccount", nullptr, u"[Vantel]write guest_acc_manage %d ", Effect::None},
    {u"acc_err_times", u"LockoutBadCount", nullptr, nullptr, Effect::None},
    {u"acc_lock_time", u"LockoutDuration", nullptr, nullptr, Effect::None},
};

// A member read as a 32-bit number; none when it is missing or is no number (then it changes
// nothing, as if it were missing).
std::optional<int32_t> IntegerMember(IJsonObject* json, const char16_t* name) {
    int32_t error = 0;
    IJsonValue* value = json->Member(ToWide(name), &error);
    if (value == nullptr) return std::nullopt;
    int64_t number = value->IntegerValue(&error);
    if (error != 0) {
        TraceInfo(u"[Vantel]%s is no number, left as it was", name);
        return std::nullopt;
    }
    using Limits = std::numeric_limits<int32_t>;
    return static_cast<int32_t>(std::clamp<int64_t>(number, Limits::min(), Limits::max()));
}

// Traces how a secedit run ended: a failure or a wait that ran out.
void AwaitSecedit(const platform::ProcessHandle& secedit, uint32_t milliseconds) {
    if (!secedit) return;
    switch (platform::WaitForProcess(secedit, milliseconds)) {
        case platform::WaitResult::Signaled: {
            uint32_t exitCode = 0;
            if (platform::GetProcessExitCode(secedit, &exitCode) == 0 && exitCode != 0)
                TraceInfo(u"[Vantel]secedit failed, exit code %u", exitCode);
            break;
        }
        case platform::WaitResult::Timeout:
            TraceInfo(u"[Vantel]secedit did not end within %u ms", milliseconds);
            break;
        case platform::WaitResult::Failed: TraceInfo(u"[Vantel]waiting for secedit failed"); break;
    }
}

}  // namespace

AccountPolicy& AccountPolicy::Instance() { return LL_singleton<AccountPolicy>::Instance(); }

void AccountPolicy::WritePolicyIni(const std::u16string& value) {
    if (BuildPolicyIni(value) == 0) {
        TraceInfoText(u"[Vantel]WritePolicyIni Failed\n");
        return;
    }
    RunConfigure(ConfigureArguments(InWindowsDirectory(u"\\gp.ini")));
}

void AccountPolicy::RunConfigure(const std::u16string& arguments) {
    AwaitSecedit(RunSecedit(arguments), kConfigureWaitMs);
    // Only once secedit is done with it: a database deleted while secedit opens it leaves the
    // policy unapplied, and one left behind would merge into the next configure.
    platform::DeleteFileAt(DatabasePath());
}

int32_t AccountPolicy::BuildPolicyIni(const std::u16string& value) {
    ComPtr<IJsonObject> json;
    std::u16string root = GetQorEDRPath();
    if (root.empty() || ProcessCompanions().CreateJsonObject(root + u"\\Qorbase.dll", &json) != kOk || !json) {
        TraceInfo(u"[Vantel]Create Json object failed");
        return 0;
    }
    if (int32_t error = json->Parse(ToWide(value))) {
        TraceInfo(u"[Vantel]load json buf failed %d", error);
        return 0;
    }
    const std::u16string templateFile = InWindowsDirectory(u"\\gp.ini");
    const std::u16string runFile = RunFilePath();
    WriteTemplateVersion(templateFile);
    for (const TemplateMember& row : kTemplateMembers) {
        if (row.before) TraceInfoText(row.before);
        std::optional<int32_t> number = IntegerMember(json.get(), row.member);
        if (!number) continue;
        if (row.effect == Effect::PasswordExpiry) WriteIniNumber(runFile, kStatus, u"MaximumPasswordAge", *number);
        WriteIniNumber(templateFile, kSystemAccess, row.key, *number);
        if (row.written) TraceInfo(row.written, *number);
        if (row.effect == Effect::CloseLocal) SetSecLogonCloseLocal(*number != 0);
        if (row.effect == Effect::PasswordExpiry) ClearPasswordNeverExpires();
    }
    if (std::optional<int32_t> watch = IntegerMember(json.get(), u"has_change_acc_pri")) {
        WriteIniNumber(runFile, kStatus, u"has_change_acc_pri", *watch);
        if (*watch != 0)
            QueueSamMonitor();
        else
            EnableSamMonitor(false);
    }
    if (std::optional<int32_t> lock = IntegerMember(json.get(), u"has_manage_acc_pri")) {
        TraceInfo(u"[Vantel]manage acc pri %d", *lock);
        if (*lock != 0)
            AddEveryOneDenyDACL(kAccountNamesKey);
        else
            RemoveEveryOneDenyDACL(kAccountNamesKey);
    }
    return 1;
}

platform::ProcessHandle AccountPolicy::RunSecedit(const std::u16string& arguments) {
    std::u16string system;
    std::u16string secedit = platform::GetSpecialFolderPath(platform::kCsidlSystem, &system) == 0
                                 ? system + u"\\secedit.exe"
                                 : u"c:\\windows\\system32\\secedit.exe";
    TraceInfoText(Format(u"[Vantel] find secedit path=%s\n", secedit));
    platform::ProcessHandle process;
    if (int32_t error = platform::ShellStartProgram(secedit, arguments, &process))
        TraceInfo(u"[Vantel]start secedit failed, %d", error);
    return process;
}

int32_t AccountPolicy::ApplyPolicyOnStart() {
    std::u16string runFile = RunFilePath();
    if (platform::IniReadInt(runFile, kStatus, u"has_change_acc_pri", 0) != 0) QueueSamMonitor();
    if (platform::IniReadInt(runFile, kStatus, u"MaximumPasswordAge", 0) != 0) ClearPasswordNeverExpires();
    return 1;
}

void AccountPolicy::ClearPasswordNeverExpires() {
    std::vector<platform::UserFlagsEntry> users;
    int32_t status = platform::NetUserEnumNormal(&users);
    if (status != platform::kErrorSuccess && status != platform::kErrorMoreData) {
        TraceInfo(u"[Vantel]NetUserEnum failed, %d", status);
        return;
    }
    for (const platform::UserFlagsEntry& user : users) {
        if (int32_t error = platform::NetUserSetFlags(user.name, user.flags & ~platform::kPasswordNeverExpires))
            TraceInfoText(Format(u"[Vantel]Set user info failed, err=%d \n", error));
    }
}

int32_t AccountPolicy::SetSecLogonCloseLocal(bool strategy) {
    std::u16string file = GetQorEDRPath() + u"\\Utils\\QorSecLogon\\QorSecLogon.ini";
    if (int32_t error = platform::IniWriteText(file, u"QorSecLogon", u"CloseLocal", strategy ? u"0" : u"1")) {
        TraceInfo(u"[Vantel]write ini %s failed, %d", file, error);
        return 0;
    }
    return 1;
}

}  // namespace vantel
