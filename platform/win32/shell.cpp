#include "platform/shell.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

namespace vantel::platform {

namespace {
const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
}  // namespace

int32_t GetSpecialFolderPath(int csidl, std::u16string* path) {
    wchar_t buffer[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE)) {
        DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? static_cast<int32_t>(error) : ERROR_PATH_NOT_FOUND;
    }
    *path = reinterpret_cast<const char16_t*>(buffer);
    return ERROR_SUCCESS;
}

void CloseProcessHandle(void* process) { CloseHandle(process); }

int32_t ShellStartProgram(const std::u16string& file, const std::u16string& parameters, ProcessHandle* process) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // No dialog on failure, and the start is complete when the call returns.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = Wide(file);
    info.lpParameters = Wide(parameters);
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info)) return static_cast<int32_t>(GetLastError());
    if (info.hProcess == nullptr) return ERROR_INVALID_HANDLE;  // handed to a running program, nothing to await
    *process = ProcessHandle(info.hProcess);
    return ERROR_SUCCESS;
}

WaitResult WaitForProcess(const ProcessHandle& process, uint32_t milliseconds) {
    switch (WaitForSingleObject(process.get(), milliseconds)) {
        case WAIT_OBJECT_0: return WaitResult::Signaled;
        case WAIT_TIMEOUT: return WaitResult::Timeout;
        default: return WaitResult::Failed;
    }
}

int32_t GetProcessExitCode(const ProcessHandle& process, uint32_t* code) {
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) return static_cast<int32_t>(GetLastError());
    *code = exitCode;
    return ERROR_SUCCESS;
}

}  // namespace vantel::platform
