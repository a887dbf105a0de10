// Terminal sessions, processes, the tokens of their users and impersonation, in the shape of
// the Windows calls; results are Windows error codes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/handle.h"

namespace vantel::platform {

void ReleaseToken(void* handle);
// An access token.
using Token = UniqueHandle<ReleaseToken>;

// The session number that stands for none.
constexpr uint32_t kNoSession = 0xFFFFFFFFu;

enum class SessionState : uint32_t { Active = 0, Connected = 1, Disconnected = 4, Idle = 5, Listen = 6 };

struct SessionEntry {
    uint32_t id;
    SessionState state;
};

// The sessions of the local server (WTSEnumerateSessions).
int32_t EnumerateSessions(std::vector<SessionEntry>* sessions);
// The session attached to the physical console, kNoSession when none (WTSGetActiveConsoleSessionId).
uint32_t ActiveConsoleSessionId();
// The primary token of the user logged on to a session (WTSQueryUserToken).
int32_t QuerySessionUserToken(uint32_t session, Token* token);

struct ProcessEntry {
    uint32_t id;
    std::u16string imageName;  // file name only, as the process snapshot gives it
};

// The running processes (a process snapshot).
int32_t ListProcesses(std::vector<ProcessEntry>* processes);
// Opens a process for query information and memory reading, then its token with all access.
int32_t OpenProcessTokenById(uint32_t processId, Token* token);
// The session a token belongs to (GetTokenInformation, TokenSessionId).
int32_t GetTokenSessionId(const Token& token, uint32_t* session);
// A primary token with maximum allowed access at identification level (DuplicateTokenEx).
int32_t DuplicateAsPrimaryToken(const Token& token, Token* duplicate);

// Impersonates a token on the calling thread (ImpersonateLoggedOnUser) for the object's life;
// the thread reverts to itself (RevertToSelf) at its end, also when impersonating failed.
class Impersonation {
public:
    explicit Impersonation(const Token& token);
    ~Impersonation();
    Impersonation(const Impersonation&) = delete;
    Impersonation& operator=(const Impersonation&) = delete;

    // 0 while the thread impersonates, else why it does not.
    int32_t error() const { return error_; }

private:
    int32_t error_;
};

}  // namespace vantel::platform
