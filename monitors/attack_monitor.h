// Watches the folder where another component of the agent writes remote-logon attack entries
// ("AtLog.xml"); when the file changes, reports each entry newer than the last one reported.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "monitors/attack_log.h"
#include "monitors/directory_watch.h"
#include "monitors/monitor_watchers.h"
#include "platform/files.h"

namespace vantel {

// True when anyone but the system and administrators may add or replace files in the folder.
bool OrdinaryUsersMayWrite(const std::u16string& folder);

class CAttackMonitor {
public:
    // Finds, or creates, the folder.
    CAttackMonitor();

    // Keeps the plugin's registry key (where "NextId" lives) and queues the watcher.
    bool StartMonitor(const std::u16string& registryKeyPath);
    // Wakes the watcher, which then leaves; counts and the file data last seen stay.
    void StopMonitor();
    // True when no watcher is queued or running, within the time.
    bool WaitForWatcher(uint32_t milliseconds) { return watchers_.WaitForNone(milliseconds); }

    const std::u16string& folderPath() const { return folderPath_; }
    const std::u16string& configurationFilePath() const { return configurationFilePath_; }

private:
    void CreateFolder();
    void Watch();
    void HandleNotification();
    bool FileChanged();
    void ReportAttacks();

    std::vector<AttackRecord> attacks_;
    std::map<std::u16string, uint64_t> counts_;  // by attack type, for the instance's life
    DirectoryWatch folder_;
    std::u16string folderPath_;
    std::u16string configurationFilePath_;
    platform::FileFindData lastSeen_{};
    std::mutex keyLock_;  // the key is set by StartMonitor while a watcher may read it
    std::u16string registryKeyPath_;
    std::u16string computerName_;
    std::atomic<int32_t> stop_{0};
    std::mutex lock_;  // held by the watcher for its whole life
    MonitorWatchers watchers_;
};

}  // namespace vantel
