// Watches the classic scheduled tasks on systems without the modern event log: a snapshot of
// the tasks, the Windows "Tasks" folder watched for task files added, removed or changed, each
// reported as a named event.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "monitors/directory_watch.h"
#include "monitors/monitor_watchers.h"

namespace vantel {

struct TaskRecord {
    std::u16string name;  // the task file's name without ".job"
    std::u16string execCommand;
    std::u16string execArguments;
    std::u16string author;
    std::u16string xml;  // the classic scheduler has none: always empty

    bool operator==(const TaskRecord&) const = default;
};

class CTaskMonitor {
public:
    CTaskMonitor();

    // Takes the snapshot and queues the watcher; false (nothing started) when the tasks cannot
    // be listed.
    bool StartMonitor();
    // Ends the watcher, at once when it waits and at its next look at the flag otherwise.
    void StopMonitor();
    // True when no watcher is queued or running, within the time.
    bool WaitForWatcher(uint32_t milliseconds) { return watchers_.WaitForNone(milliseconds); }

    // Every task the scheduler can read, in enumeration order.
    static bool EnumTasks(std::vector<TaskRecord>* tasks);
    static bool QueryTask(const std::u16string& name, TaskRecord* task);
    // Reports the tasks that changed, when their number did not, and keeps the new list.
    void CompareChange();

private:
    void Watch();
    void Handle(const std::vector<DirectoryChange>& changes);

    std::atomic<int32_t> stop_{0};
    std::mutex snapshotLock_;  // the snapshot is replaced by StartMonitor and by the watcher
    std::vector<TaskRecord> snapshot_;
    DirectoryWatch folder_;
    std::recursive_mutex lock_;  // held by the watcher for its whole life
    MonitorWatchers watchers_;
};

}  // namespace vantel
