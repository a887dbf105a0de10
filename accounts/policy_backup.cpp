// The machine's policy kept at install and put back at uninstall.
#include "accounts/account_policy.h"
#include "accounts/policy_files.h"
#include "platform/files.h"
#include "platform/library.h"
#include "platform/profile.h"
#include "plugin/trace.h"

namespace vantel {

namespace {

using namespace policy_files;

// The saved policy, in the order it is written.
constexpr const char16_t* kSavedKeys[] = {u"MaximumPasswordAge",  u"MinimumPasswordAge",  u"MinimumPasswordLength",
                                          u"PasswordComplexity",  u"PasswordHistorySize", u"LockoutBadCount",
                                          u"LockoutDuration"};
// Set in the run file's "status" once its saved policy was read from an export: only such a
// policy is put back, never values that merely default to 0.
constexpr char16_t kPolicySaved[] = u"policy_saved";
// One-second waits for the export.
constexpr int32_t kExportWaitSeconds = 11;

}  // namespace

int32_t AccountPolicy::SavePolicyOnInstall() {
    TraceInfoText(u"[Vantel]Save policy on install \n");
    std::u16string exported = InWindowsDirectory(u"\\gp_old.ini");
    std::u16string arguments = Format(u"/export /cfg \"%s\"", exported);
    TraceInfoText(Format(u"[Vantel]save old cmd is %s \n", arguments));
    platform::DeleteFileAt(exported);
    platform::ProcessHandle secedit = RunSecedit(arguments);
    // Waits for secedit to end rather than for the file to appear, so that the export is read
    // whole; a secedit that did not start leaves nothing to wait for.
    int32_t i = 0;
    while (secedit && i < kExportWaitSeconds && platform::WaitForProcess(secedit, 1000) == platform::WaitResult::Timeout)
        ++i;
    bool found = platform::FileExists(exported);
    TraceInfoText(Format(found ? u"[vantel]ini found, i=%d!!!\n" : u"[vantel]ini not found, i=%d!!!\n", i));
    if (found) {
        std::u16string runFile = RunFilePath();
        bool saved = true;
        for (const char16_t* key : kSavedKeys) {
            auto value = static_cast<int32_t>(platform::IniReadInt(exported, kSystemAccess, key, 0));
            saved &= WriteIniNumber(runFile, kSystemAccess, key, value);
        }
        WriteIniNumber(runFile, kStatus, kPolicySaved, saved ? 1 : 0);
    } else {
        TraceInfoText(u"[Vantel]no export, the saved policy stays as it was\n");
    }
    platform::DeleteFileAt(exported);
    return 1;
}

void AccountPolicy::RemovePolicyOnUninstall() {
    TraceInfoText(u"[Vantel]remove policy on uninstall \n");
    std::u16string runFile = RunFilePath();
    if (!platform::FileExists(runFile)) TraceInfo(u"[Vantel]run file not exist!");
    if (platform::IniReadInt(runFile, kStatus, kPolicySaved, 0) == 1)
        RestoreSavedPolicy(runFile);
    else
        TraceInfoText(u"[Vantel]no saved policy, nothing to restore\n");
    RemoveEveryOneDenyDACL(kAccountNamesKey);
}

void AccountPolicy::RestoreSavedPolicy(const std::u16string& runFile) {
    std::u16string recovery = InWindowsDirectory(u"\\gp_recover.ini");
    platform::DeleteFileAt(recovery);
    TraceInfo(u"[Vantel]create recover ini %s", recovery);
    WriteTemplateVersion(recovery);
    for (const char16_t* key : kSavedKeys)
        WriteIniNumber(recovery, kSystemAccess, key,
                       static_cast<int32_t>(platform::IniReadInt(runFile, kSystemAccess, key, 0)));
    if (!platform::FileExists(recovery)) TraceInfo(u"[Vantel]strIniPath not exist!");
    std::u16string arguments = ConfigureArguments(recovery);
    TraceInfo(u"[Vantel] recover cmd is %s", arguments);
    RunConfigure(arguments);
}

}  // namespace vantel
