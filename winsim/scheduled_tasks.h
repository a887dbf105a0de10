// The classic task scheduler of the simulated machine: one "<name>.job" file per task in the
// Windows "Tasks" folder, holding its program, parameters and creator.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace winsim {

struct ScheduledTask {
    std::u16string program;
    std::u16string parameters;
    std::u16string creator;
};

// Control: task files written and removed through the file changes, so that watches of the
// folder see them. AddTask replaces a task of that name; ChangeTask and RemoveTask answer false
// when there is none.
bool AddTask(const std::u16string& name, const ScheduledTask& task);
bool ChangeTask(const std::u16string& name, const ScheduledTask& task);
bool RemoveTask(const std::u16string& name);

// Fault injection: creating the scheduler object fails with the HRESULT until cleared with 0.
void FailTaskScheduler(int32_t result);

// The machine's side. The folder is the Windows directory's "Tasks", created when missing.
std::u16string TasksFolder();
// What creating the scheduler object answers: 0, or the failure injected.
int32_t TaskSchedulerFailure();
// The task files ("Name.job"), in name order.
std::vector<std::u16string> TaskFileNames();
// The task of that name (".job" appended), as an HRESULT: 0x80070002 when there is no such
// file, 0x8007000D when the file is no task.
int32_t ReadTask(const std::u16string& name, ScheduledTask* task);

}  // namespace winsim
