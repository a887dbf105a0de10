#include "platform/shell.h"

#include "platform/errors.h"
#include "winsim/programs.h"
#include "winsim/system.h"

namespace vantel::platform {

namespace {
uintptr_t Native(const ProcessHandle& process) { return reinterpret_cast<uintptr_t>(process.get()); }
}  // namespace

int32_t GetSpecialFolderPath(int csidl, std::u16string* path) {
    if (csidl != kCsidlSystem) return kErrorFileNotFound;
    *path = winsim::SystemDirectory();
    return kErrorSuccess;
}

void CloseProcessHandle(void* process) { winsim::CloseProgram(reinterpret_cast<uintptr_t>(process)); }

int32_t ShellStartProgram(const std::u16string& file, const std::u16string& parameters, ProcessHandle* process) {
    uintptr_t started = 0;
    if (int32_t error = winsim::ShellExecuteProgram(file, parameters, &started)) return error;
    *process = ProcessHandle(reinterpret_cast<void*>(started));
    return kErrorSuccess;
}

WaitResult WaitForProcess(const ProcessHandle& process, uint32_t milliseconds) {
    if (!process) return WaitResult::Failed;
    return winsim::WaitForProgram(Native(process), milliseconds) ? WaitResult::Signaled : WaitResult::Timeout;
}

int32_t GetProcessExitCode(const ProcessHandle& process, uint32_t* code) {
    return winsim::GetProgramExitCode(Native(process), code);
}

}  // namespace vantel::platform
