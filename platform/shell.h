// Programs started through the shell, and the shell's folders, in the shape of the Windows
// calls; results are Windows error codes.
#pragma once
#include <cstdint>
#include <string>

#include "platform/handle.h"
#include "platform/threads.h"

namespace vantel::platform {

constexpr int kCsidlSystem = 0x25;

// SHGetSpecialFolderPath of a folder, without creating it.
int32_t GetSpecialFolderPath(int csidl, std::u16string* path);

void CloseProcessHandle(void* process);
// A started program's process, closed with CloseHandle.
using ProcessHandle = UniqueHandle<CloseProcessHandle>;

// ShellExecuteEx with the verb "open", no working folder and the window hidden, keeping the
// process (SEE_MASK_NOCLOSEPROCESS) so that its end can be awaited.
int32_t ShellStartProgram(const std::u16string& file, const std::u16string& parameters, ProcessHandle* process);
WaitResult WaitForProcess(const ProcessHandle& process, uint32_t milliseconds);
// GetExitCodeProcess: 259 (still active) while it runs.
int32_t GetProcessExitCode(const ProcessHandle& process, uint32_t* code);

}  // namespace vantel::platform
