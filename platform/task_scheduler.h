// The classic task scheduler's component objects, in the shape of their calls; results are
// HRESULTs (negative on failure). The texts they hand out are copied and their memory freed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/com.h"

namespace vantel::platform {

constexpr int32_t kSFalse = 1;

// CoCreateInstance of CTaskScheduler, in process, for ITaskScheduler.
int32_t CreateTaskScheduler(ComRef* scheduler);
// ITaskScheduler::Enum: the work items of the system's task folder.
int32_t TaskSchedulerEnum(const ComRef& scheduler, ComRef* workItems);
// IEnumWorkItems::Next: up to count names ("Name.job"); S_FALSE (1) when fewer were left.
int32_t EnumWorkItemsNext(const ComRef& workItems, uint32_t count, std::vector<std::u16string>* names);
// ITaskScheduler::Activate of a work item by name, for ITask.
int32_t TaskSchedulerActivate(const ComRef& scheduler, const std::u16string& name, ComRef* task);
// ITask::GetApplicationName, GetParameters and GetCreator.
int32_t TaskGetApplicationName(const ComRef& task, std::u16string* text);
int32_t TaskGetParameters(const ComRef& task, std::u16string* text);
int32_t TaskGetCreator(const ComRef& task, std::u16string* text);

}  // namespace vantel::platform
