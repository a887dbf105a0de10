#include "platform/task_scheduler.h"

#include "platform/sim/com_object.h"
#include "winsim/scheduled_tasks.h"

namespace vantel::platform {

namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kInvalidPointer = static_cast<int32_t>(0x80004003);
constexpr int32_t kInvalidArgument = static_cast<int32_t>(0x80070057);

struct Scheduler {};
struct WorkItems {
    std::vector<std::u16string> names;
    size_t next = 0;
};
using Task = winsim::ScheduledTask;

using TaskObject = SimComObjectOf<Scheduler, WorkItems, Task>;

template <typename T>
T* As(const ComRef& pointer) {
    return SimComAs<T, TaskObject>(pointer);
}

template <typename T>
ComRef Make(T object) {
    return SimComMake<TaskObject>(std::move(object));
}

int32_t TaskText(const ComRef& task, std::u16string Task::*field, std::u16string* text) {
    const Task* found = As<Task>(task);
    if (!found) return kInvalidPointer;
    *text = found->*field;
    return kOk;
}

}  // namespace

int32_t CreateTaskScheduler(ComRef* scheduler) {
    if (int32_t failure = winsim::TaskSchedulerFailure()) return failure;
    *scheduler = Make(Scheduler{});
    return kOk;
}

int32_t TaskSchedulerEnum(const ComRef& scheduler, ComRef* workItems) {
    if (!As<Scheduler>(scheduler)) return kInvalidPointer;
    *workItems = Make(WorkItems{winsim::TaskFileNames()});
    return kOk;
}

int32_t EnumWorkItemsNext(const ComRef& workItems, uint32_t count, std::vector<std::u16string>* names) {
    names->clear();
    auto* walk = As<WorkItems>(workItems);
    if (!walk) return kInvalidPointer;
    if (count == 0) return kInvalidArgument;
    while (names->size() < count && walk->next < walk->names.size()) names->push_back(walk->names[walk->next++]);
    return names->size() == count ? kOk : kSFalse;
}

int32_t TaskSchedulerActivate(const ComRef& scheduler, const std::u16string& name, ComRef* task) {
    if (!As<Scheduler>(scheduler)) return kInvalidPointer;
    Task found;
    if (int32_t result = winsim::ReadTask(name, &found)) return result;
    *task = Make(std::move(found));
    return kOk;
}

int32_t TaskGetApplicationName(const ComRef& task, std::u16string* text) {
    return TaskText(task, &Task::program, text);
}

int32_t TaskGetParameters(const ComRef& task, std::u16string* text) { return TaskText(task, &Task::parameters, text); }

int32_t TaskGetCreator(const ComRef& task, std::u16string* text) { return TaskText(task, &Task::creator, text); }

}  // namespace vantel::platform
