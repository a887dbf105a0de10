// Terminal sessions of the simulated machine, the processes running in them, the access tokens
// of their users, and threads impersonating a user.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

// Numbered as the terminal services number them.
enum class SessionState : uint32_t { Active = 0, Connected = 1, Disconnected = 4, Idle = 5, Listen = 6 };

struct SessionInfo {
    uint32_t id;
    SessionState state;
    std::u16string user;  // empty: nobody is logged on
};

struct ProcessInfo {
    uint32_t id;
    std::u16string imageName;
    uint32_t session;
    std::u16string user;        // the owner of the process's token
    bool accessDenied = false;  // opening the process fails with 5, as for a protected process
    uint32_t parentId = 0;
    uint64_t startTime = 0;  // seconds since 1970; 0 when unknown
};

struct TokenInfo {
    std::u16string user;
    uint32_t session;
};

// Control, for tests and scenarios.
void AddSession(const SessionInfo& session);  // replaces the session of the same id
// The session attached to the physical console; 0xFFFFFFFF detaches it.
void SetConsoleSession(uint32_t id);
// Makes the terminal services' user-token query fail with the Windows error until cleared with 0.
void FailQueryUserToken(int32_t error);
void AddProcess(const ProcessInfo& process);  // replaces the process of the same id
// No sessions, processes, console session or failure; tokens still open stay open.
void ResetSessions();
size_t OpenTokenCount();
std::optional<TokenInfo> InspectToken(uintptr_t token);

// The machine's side, for the platform backend.
std::vector<SessionInfo> Sessions();
uint32_t ConsoleSession();
int32_t QueryUserToken(uint32_t session, uintptr_t* token);
std::vector<ProcessInfo> Processes();
int32_t OpenProcessToken(uint32_t processId, uintptr_t* token);
int32_t DuplicateToken(uintptr_t token, uintptr_t* duplicate);
bool CloseToken(uintptr_t token);
// Thread impersonation: the calling thread acts as the token's user until it reverts.
int32_t ImpersonateToken(uintptr_t token);
void RevertToSelf();
// The user the calling thread impersonates, none while it is itself.
std::optional<std::u16string> ImpersonatedUser();

}  // namespace winsim
