// Watches the server's network shares on systems without the modern event log: a snapshot of
// the visible shares with their permissions, compared anew at every change of the server's
// share key, each difference reported as a named event.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "monitors/monitor_watchers.h"
#include "platform/threads.h"

namespace vantel {

struct ShareRecord {
    uint32_t maxUses = 0;  // 4294967295: unlimited
    std::u16string path;
    uint32_t permissions = 0;
    std::u16string name;
    uint32_t type = 0;
    std::u16string remark;
    std::u16string security;  // the permission text

    // Limits, permissions word and remark take no part.
    bool operator==(const ShareRecord& other) const {
        return path == other.path && name == other.name && type == other.type && security == other.security;
    }
};

class CShareMonitor {
public:
    // Takes the snapshot and queues the watcher; false (nothing started) when the shares
    // cannot be listed.
    bool StartMonitor();
    // Ends the watcher, at once when it waits and at its next look at the flag otherwise.
    void StopMonitor();
    // True when no watcher is queued or running, within the time.
    bool WaitForWatcher(uint32_t milliseconds) { return watchers_.WaitForNone(milliseconds); }

    // The visible shares (none whose name holds "$"), in enumeration order; false when the
    // shares cannot be listed.
    static bool TakeSnapshot(std::vector<ShareRecord>* shares);

private:
    void Watch();
    void Compare();

    std::mutex snapshotLock_;  // the snapshot is replaced by StartMonitor and by the watcher
    std::vector<ShareRecord> snapshot_;
    std::atomic<int32_t> stop_{0};
    // One event for the monitor's life, so that StopMonitor can always signal it.
    platform::Event notification_{true, false};
    std::recursive_mutex lock_;  // held by the watcher for its whole life
    MonitorWatchers watchers_;
};

}  // namespace vantel
