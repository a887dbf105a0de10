#include "platform/sessions.h"

#include <windows.h>
#include <tlhelp32.h>
#include <wtsapi32.h>

#include <memory>

namespace vantel::platform {

namespace {

int32_t LastError() { return static_cast<int32_t>(GetLastError()); }

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

struct WtsMemoryFree {
    void operator()(void* memory) const { WTSFreeMemory(memory); }
};

}  // namespace

void ReleaseToken(void* handle) { CloseHandle(handle); }

int32_t EnumerateSessions(std::vector<SessionEntry>* sessions) {
    WTS_SESSION_INFOW* raw = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &raw, &count)) return LastError();
    std::unique_ptr<WTS_SESSION_INFOW, WtsMemoryFree> info(raw);
    sessions->clear();
    for (DWORD i = 0; i < count; ++i)
        sessions->push_back({raw[i].SessionId, static_cast<SessionState>(raw[i].State)});
    return ERROR_SUCCESS;
}

uint32_t ActiveConsoleSessionId() { return WTSGetActiveConsoleSessionId(); }

int32_t QuerySessionUserToken(uint32_t session, Token* token) {
    HANDLE handle = nullptr;
    if (!WTSQueryUserToken(session, &handle)) return LastError();
    *token = Token(handle);
    return ERROR_SUCCESS;
}

int32_t ListProcesses(std::vector<ProcessEntry>* processes) {
    HANDLE raw = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (raw == INVALID_HANDLE_VALUE) return LastError();
    OwnedHandle snapshot(raw);
    processes->clear();
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        processes->push_back({entry.th32ProcessID, reinterpret_cast<const char16_t*>(entry.szExeFile)});
    return ERROR_SUCCESS;
}

int32_t OpenProcessTokenById(uint32_t processId, Token* token) {
    OwnedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process) return LastError();
    HANDLE handle = nullptr;
    if (!::OpenProcessToken(process.get(), TOKEN_ALL_ACCESS, &handle)) return LastError();
    *token = Token(handle);
    return ERROR_SUCCESS;
}

int32_t GetTokenSessionId(const Token& token, uint32_t* session) {
    DWORD id = 0, length = 0;
    if (!GetTokenInformation(token.get(), TokenSessionId, &id, sizeof(id), &length)) return LastError();
    *session = id;
    return ERROR_SUCCESS;
}

int32_t DuplicateAsPrimaryToken(const Token& token, Token* duplicate) {
    HANDLE handle = nullptr;
    if (!DuplicateTokenEx(token.get(), MAXIMUM_ALLOWED, nullptr, SecurityIdentification, TokenPrimary, &handle))
        return LastError();
    *duplicate = Token(handle);
    return ERROR_SUCCESS;
}

Impersonation::Impersonation(const Token& token)
    : error_(ImpersonateLoggedOnUser(token.get()) ? ERROR_SUCCESS : LastError()) {}

Impersonation::~Impersonation() { RevertToSelf(); }

}  // namespace vantel::platform
