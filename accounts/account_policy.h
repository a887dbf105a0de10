// The machine's password and lockout policy as the server pushes it, the protection of the
// account database (SAM), and the policy's backup at install and restore at uninstall: one
// process-wide object, never destroyed.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/accounts.h"
#include "platform/shell.h"
#include "platform/threads.h"

namespace vantel {

template <typename T>
class LL_singleton;

class AccountPolicy {
public:
    static AccountPolicy& Instance();

    // The "SetPolicy" command: the template built from the JSON value, applied by secedit.
    void WritePolicyIni(const std::u16string& value);
    // Writes the template's keys and acts on the members of the JSON value; 0 when it is not JSON.
    int32_t BuildPolicyIni(const std::u16string& value);
    // Starts secedit with the arguments; an empty handle when it could not start.
    platform::ProcessHandle RunSecedit(const std::u16string& arguments);
    // The user plugin's Start: SAM monitoring and password expiry again, as the run file says.
    int32_t ApplyPolicyOnStart();
    // Clears the never-expires flag of every normal account of this computer.
    void ClearPasswordNeverExpires();
    // The secure-logon component's "CloseLocal": 0 with complex passwords, 1 without.
    int32_t SetSecLogonCloseLocal(bool strategy);

    // On: runs the SAM monitoring loop on the calling thread until monitoring is switched off
    // and a change is seen (0), or answers 1 at once when a loop runs already. Off: 1.
    int32_t EnableSamMonitor(bool enable);
    // Takes the Guest account out of every local group but Guests.
    int32_t RemoveGuestFromGroups();
    bool AddEveryOneDenyDACL(const std::u16string& object);
    int32_t RemoveEveryOneDenyDACL(const std::u16string& object);
    bool GrantAdministratorsOnSam();
    bool LookupAdministratorsSid(platform::Sid* sid);
    // Merges one entry into a registry key's access list (object named "MACHINE\..."), unless
    // the list holds it already; 87 for no name, else the status of the last call made.
    int32_t AddAceToObject(const std::u16string& object, const platform::Sid& sid, uint32_t rights,
                           platform::AccessMode mode, uint32_t inheritance);
    // Deletes every explicit entry of that identifier and those rights, allowing or denying, and
    // writes the list back in any case.
    int32_t RemoveAceFromObject(const std::u16string& object, const platform::Sid& sid, uint32_t rights);

    // The user plugin's Install: the policy in force, exported by secedit, kept in the run file.
    int32_t SavePolicyOnInstall();
    // The user plugin's Uninstall: the kept policy applied again, the account names' lock taken away.
    void RemovePolicyOnUninstall();

    // When the last plugin object goes: wakes the SAM monitoring loop and waits, bounded, until it
    // and every queued start of it have ended, so that no module code runs afterwards.
    void ReleaseSamMonitor();

private:
    class StartingCount;

    friend class LL_singleton<AccountPolicy>;
    AccountPolicy() = default;

    // EnableSamMonitor (true) on a long-running pool item, counted as running work of "NtUsers"
    // until its loop watches, so that the host's wait for the plugin covers the start.
    void QueueSamMonitor();
    static void SamMonitorWorkItem(void* context);
    int32_t EnableSamMonitor(bool enable, StartingCount* starting);
    int32_t WatchSam(StartingCount* starting);
    // "/configure" of a template, waited for, then the database deleted.
    void RunConfigure(const std::u16string& arguments);
    void RestoreSavedPolicy(const std::u16string& runFile);

    std::atomic<int32_t> samMonitorEnabled_{0};
    std::atomic<int32_t> samMonitorRunning_{0};

    // What the last Destroy needs to end the SAM watch.
    std::mutex monitorLock_;
    std::condition_variable monitorEnded_;
    platform::Event* watchEvent_ = nullptr;  // the running loop's event
    bool releasing_ = false;
    int queuedMonitors_ = 0;
};

}  // namespace vantel
