#include "monitors/task_monitor.h"

#include <algorithm>

#include "common/path.h"
#include "common/system_helpers.h"
#include "common/text.h"
#include "monitors/named_event_log.h"
#include "platform/task_scheduler.h"
#include "plugin/run_state.h"
#include "plugin/singleton.h"
#include "plugin/trace.h"

namespace vantel {

namespace {

constexpr uint32_t kNamesPerFetch = 260;
// After a failed read the watcher tries again, but not in a tight loop.
constexpr uint32_t kRetryAfterFailureMs = 5000;

std::u16string WithoutJobExtension(const std::u16string& fileName) {
    constexpr std::u16string_view kExtension = u".job";
    bool job = fileName.size() >= kExtension.size() &&
               EqualsIgnoreCase(std::u16string_view(fileName).substr(fileName.size() - kExtension.size()), kExtension);
    return job ? fileName.substr(0, fileName.size() - kExtension.size()) : fileName;
}

// Activates the task and reads what a record holds; traces and answers false at the first
// call that fails.
bool ReadTask(const platform::ComRef& scheduler, const std::u16string& name, TaskRecord* task) {
    platform::ComRef activated;
    if (platform::TaskSchedulerActivate(scheduler, name, &activated) < 0) {
        TraceError(u"[TaskMonitor] calling ITaskScheduler::Activate Error!");
        return false;
    }
    const struct {
        int32_t (*get)(const platform::ComRef&, std::u16string*);
        std::u16string TaskRecord::*field;
        const char16_t* failure;
    } kReads[] = {
        {platform::TaskGetApplicationName, &TaskRecord::execCommand, u"[TaskMonitor] calling ITask::GetApplicationName Error!"},
        {platform::TaskGetParameters, &TaskRecord::execArguments, u"[TaskMonitor] calling ITask::GetParameters Error!"},
        {platform::TaskGetCreator, &TaskRecord::author, u"[TaskMonitor] calling ITask::GetCreator Error!"}};
    TaskRecord read{name, {}, {}, {}, {}};
    for (const auto& step : kReads)
        if (step.get(activated, &(read.*step.field)) < 0) {
            TraceError(step.failure);
            return false;
        }
    *task = std::move(read);
    return true;
}

// COM on this thread and the scheduler; false (traced) when either cannot be had.
bool OpenScheduler(const platform::ComApartment& com, platform::ComRef* scheduler) {
    if (com.result() < 0) {
        TraceErrorText(u"[TaskMonitor] CoInitialize Error!\n");
        return false;
    }
    if (platform::CreateTaskScheduler(scheduler) < 0 || !*scheduler) {
        TraceErrorText(u"[TaskMonitor] CoCreateInstance Error!\n");
        return false;
    }
    return true;
}

void Report(const char16_t* eventName, const TaskRecord& task) {
    CSpecialLog& log = LL_singleton<CSpecialLog>::Instance();
    log.SetField(u"EventName", eventName);
    log.SetField(u"task_xml", task.xml);
    log.SetField(u"task_author", task.author);
    log.SetField(u"task_name", task.name);
    log.SetField(u"task_exec_command", task.execCommand);
    log.SetField(u"task_exec_arguments", task.execArguments);
    log.Commit();
}

void ReportDeleted(const std::u16string& name) {
    CSpecialLog& log = LL_singleton<CSpecialLog>::Instance();
    log.SetField(u"EventName", u"ScheduledTaskDeleted");
    log.SetField(u"task_name", name);
    log.Commit();
}

}  // namespace

CTaskMonitor::CTaskMonitor()
    : folder_(true, platform::kFileShareRead | platform::kFileShareWrite,
              platform::kNotifyChangeFileName | platform::kNotifyChangeLastWrite) {}

bool CTaskMonitor::EnumTasks(std::vector<TaskRecord>* tasks) {
    tasks->clear();
    platform::ComApartment com;
    platform::ComRef scheduler, workItems;
    if (!OpenScheduler(com, &scheduler)) return false;
    if (platform::TaskSchedulerEnum(scheduler, &workItems) < 0 || !workItems) {
        TraceErrorText(u"[TaskMonitor] Enum Error!\n");
        return false;
    }
    for (;;) {
        std::vector<std::u16string> names;
        int32_t result = platform::EnumWorkItemsNext(workItems, kNamesPerFetch, &names);
        if (result < 0 || names.empty()) break;
        for (const std::u16string& fileName : names) {
            TaskRecord task;
            if (!ReadTask(scheduler, WithoutJobExtension(fileName), &task)) continue;
            TraceInfoText(Format(u"[TaskMonitor] Enum-- TaskName:%s,lpwszApplicationName :%s ,lpwszParameters :%s,lpwszCreator:%s\n",
                                 task.name, task.execCommand, task.execArguments, task.author));
            tasks->push_back(std::move(task));
        }
    }
    return true;
}

bool CTaskMonitor::QueryTask(const std::u16string& name, TaskRecord* task) {
    platform::ComApartment com;
    platform::ComRef scheduler;
    if (!OpenScheduler(com, &scheduler) || !ReadTask(scheduler, name, task)) return false;
    TraceInfoText(Format(u"[TaskMonitor] Query---TaskName:%s, lpwszApplicationName :%s ,lpwszParameters :%s,lpwszCreator:%s\n",
                         task->name, task->execCommand, task->execArguments, task->author));
    return true;
}

void CTaskMonitor::CompareChange() {
    std::vector<TaskRecord> fresh;
    // A list that cannot be read says nothing about the tasks; keep the one there is.
    if (!EnumTasks(&fresh)) return;
    std::vector<TaskRecord> old;
    {
        std::lock_guard guard(snapshotLock_);
        old = std::move(snapshot_);
        snapshot_ = fresh;
    }
    if (fresh.size() != old.size()) return;
    for (const TaskRecord& task : fresh)
        if (std::find(old.begin(), old.end(), task) == old.end()) {
            TraceInfo(u"[TaskMonitor] CompareChange Found ScheduledTaskModified");
            Report(u"ScheduledTaskModified", task);
        }
}

bool CTaskMonitor::StartMonitor() {
    TraceInfo(u"[TaskMonitor] StartMonitor");
    stop_.exchange(0);
    std::vector<TaskRecord> tasks;
    if (!EnumTasks(&tasks)) return false;
    {
        std::lock_guard guard(snapshotLock_);
        snapshot_ = std::move(tasks);
    }
    // Counted as the plugin's work from now, so that the host's wait for an idle plugin also
    // covers a watcher that has not begun yet.
    return watchers_.Queue([](void* self) { static_cast<CTaskMonitor*>(self)->Watch(); }, this,
                           RunStateOf(u"EventLog"), u"[TaskMonitor]");
}

void CTaskMonitor::StopMonitor() {
    TraceInfo(u"[TaskMonitor] StopMonitor");
    stop_.exchange(1);
    folder_.Wake();
}

void CTaskMonitor::Watch() {
    std::lock_guard life(lock_);
    std::u16string folder = PathAppend(GetWindowsDir(), u"Tasks");
    DirectoryWatch::Step failed = DirectoryWatch::Step::Open;
    auto arm = [&] {
        int32_t error = folder_.Arm(folder, &failed);
        if (error == 0) return true;
        if (failed == DirectoryWatch::Step::Open) TraceError(u"[TaskMonitor] can't open dir %s: %d", folder, error);
        else TraceError(u"[TaskMonitor] ReadDirectoryChangesW() %d,", error);
        return false;
    };
    // A folder that cannot be opened at the start ends the watcher; later failures are retried.
    // The flag is read after each arming: a StopMonitor after that wakes the wait.
    if (arm() || failed != DirectoryWatch::Step::Open) {
        for (bool armed = folder_.armed(); !stop_; armed = arm()) {
            if (!armed) {
                folder_.Pause(kRetryAfterFailureMs);
                continue;
            }
            std::vector<DirectoryChange> changes;
            int32_t error = folder_.Wait(&changes);
            if (error == platform::kErrorSuccess) {
                Handle(changes);
            } else if (error != platform::kErrorIoIncomplete) {
                TraceErrorText(Format(u"[TaskMonitor] GetOverlappedResult() %s\n", Format(u"%d", error)));
                folder_.Pause(kRetryAfterFailureMs);
            }
        }
    }
    folder_.Close();
    TraceInfo(u"[TaskMonitor] stopped!!!");
}

void CTaskMonitor::Handle(const std::vector<DirectoryChange>& changes) {
    if (changes.empty()) {
        // The changes overflowed the buffer: which tasks came and went is lost; refresh the list.
        TraceError(u"[TaskMonitor] the notification buffer overflowed");
        CompareChange();
        return;
    }
    bool modified = false;
    for (const DirectoryChange& change : changes) {
        if (change.name.empty()) continue;
        TraceInfo(u"[TaskMonitor] %s Action:%d ,pNotify->NextEntryOffset :%d", change.name, change.action,
                  change.nextEntryOffset);
        std::u16string name = WithoutJobExtension(change.name);
        switch (change.action) {
            case platform::kFileActionAdded: {
                TraceInfo(u"[TaskMonitor] %s FILE_ACTION_ADDED", name);
                TaskRecord task;
                if (QueryTask(name, &task)) Report(u"ScheduledTaskRegistered", task);
                break;
            }
            case platform::kFileActionRemoved:
                TraceInfo(u"[TaskMonitor] %s FILE_ACTION_REMOVED", name);
                ReportDeleted(name);
                break;
            case platform::kFileActionModified:
            case platform::kFileActionRenamedOldName:
                TraceInfo(u"[TaskMonitor] %s FILE_ACTION_MODIFIED", name);
                modified = true;
                break;
            default: break;
        }
    }
    // One comparison answers for every change of the buffer.
    if (modified) CompareChange();
}

}  // namespace vantel
