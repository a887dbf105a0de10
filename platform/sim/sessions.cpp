#include "platform/sessions.h"

#include "winsim/sessions.h"

namespace vantel::platform {

namespace {

uintptr_t HandleOf(const Token& token) { return reinterpret_cast<uintptr_t>(token.get()); }

Token TokenOf(uintptr_t handle) { return Token(reinterpret_cast<void*>(handle)); }

}  // namespace

void ReleaseToken(void* handle) { winsim::CloseToken(reinterpret_cast<uintptr_t>(handle)); }

int32_t EnumerateSessions(std::vector<SessionEntry>* sessions) {
    sessions->clear();
    for (const winsim::SessionInfo& session : winsim::Sessions())
        sessions->push_back({session.id, static_cast<SessionState>(session.state)});
    return kErrorSuccess;
}

uint32_t ActiveConsoleSessionId() { return winsim::ConsoleSession(); }

int32_t QuerySessionUserToken(uint32_t session, Token* token) {
    uintptr_t handle = 0;
    int32_t error = winsim::QueryUserToken(session, &handle);
    if (error == kErrorSuccess) *token = TokenOf(handle);
    return error;
}

int32_t ListProcesses(std::vector<ProcessEntry>* processes) {
    processes->clear();
    for (const winsim::ProcessInfo& process : winsim::Processes())
        processes->push_back({process.id, process.imageName});
    return kErrorSuccess;
}

int32_t OpenProcessTokenById(uint32_t processId, Token* token) {
    uintptr_t handle = 0;
    int32_t error = winsim::OpenProcessToken(processId, &handle);
    if (error == kErrorSuccess) *token = TokenOf(handle);
    return error;
}

int32_t GetTokenSessionId(const Token& token, uint32_t* session) {
    std::optional<winsim::TokenInfo> info = winsim::InspectToken(HandleOf(token));
    if (!info) return kErrorInvalidHandle;
    *session = info->session;
    return kErrorSuccess;
}

int32_t DuplicateAsPrimaryToken(const Token& token, Token* duplicate) {
    uintptr_t handle = 0;
    int32_t error = winsim::DuplicateToken(HandleOf(token), &handle);
    if (error == kErrorSuccess) *duplicate = TokenOf(handle);
    return error;
}

Impersonation::Impersonation(const Token& token) : error_(winsim::ImpersonateToken(HandleOf(token))) {}

Impersonation::~Impersonation() { winsim::RevertToSelf(); }

}  // namespace vantel::platform
