#include "winsim/sessions.h"

#include <map>
#include <mutex>

#include "platform/errors.h"
#include "winsim/handles.h"

namespace winsim {

using namespace vantel::platform;  // the Windows error codes

namespace {

struct Machine {
    std::mutex lock;
    std::map<uint32_t, SessionInfo> sessions;
    std::map<uint32_t, ProcessInfo> processes;
    uint32_t console = 0xFFFFFFFFu;
    int32_t queryTokenFailure = 0;
    HandleTable<TokenInfo> tokens;
};

// Never destroyed: tokens held by the module's statics are released after ours would be.
Machine& TheMachine() {
    static Machine* machine = new Machine;
    return *machine;
}

thread_local std::optional<TokenInfo> impersonated;

}  // namespace

void AddSession(const SessionInfo& session) {
    Machine& machine = TheMachine();
    std::lock_guard guard(machine.lock);
    machine.sessions[session.id] = session;
}

void SetConsoleSession(uint32_t id) {
    Machine& machine = TheMachine();
    std::lock_guard guard(machine.lock);
    machine.console = id;
}

void FailQueryUserToken(int32_t error) {
    Machine& machine = TheMachine();
    std::lock_guard guard(machine.lock);
    machine.queryTokenFailure = error;
}

void AddProcess(const ProcessInfo& process) {
    Machine& machine = TheMachine();
    std::lock_guard guard(machine.lock);
    machine.processes[process.id] = process;
}

void ResetSessions() {
    Machine& machine = TheMachine();
    std::lock_guard guard(machine.lock);
    machine.sessions.clear();
    machine.processes.clear();
    machine.console = 0xFFFFFFFFu;
    machine.queryTokenFailure = 0;
}

size_t OpenTokenCount() { return TheMachine().tokens.Count(); }

std::optional<TokenInfo> InspectToken(uintptr_t token) { return TheMachine().tokens.Get(token); }

std::vector<SessionInfo> Sessions() {
    Machine& machine = TheMachine();
    std::lock_guard guard(machine.lock);
    std::vector<SessionInfo> sessions;
    for (const auto& entry : machine.sessions) sessions.push_back(entry.second);
    return sessions;
}

uint32_t ConsoleSession() {
    Machine& machine = TheMachine();
    std::lock_guard guard(machine.lock);
    return machine.console;
}

int32_t QueryUserToken(uint32_t session, uintptr_t* token) {
    Machine& machine = TheMachine();
    std::lock_guard guard(machine.lock);
    if (machine.queryTokenFailure) return machine.queryTokenFailure;
    auto found = machine.sessions.find(session);
    if (found == machine.sessions.end()) return kErrorFileNotFound;
    if (found->second.user.empty()) return kErrorNoToken;
    *token = machine.tokens.Open({found->second.user, session});
    return kErrorSuccess;
}

std::vector<ProcessInfo> Processes() {
    Machine& machine = TheMachine();
    std::lock_guard guard(machine.lock);
    std::vector<ProcessInfo> processes;
    for (const auto& entry : machine.processes) processes.push_back(entry.second);
    return processes;
}

int32_t OpenProcessToken(uint32_t processId, uintptr_t* token) {
    Machine& machine = TheMachine();
    std::lock_guard guard(machine.lock);
    auto found = machine.processes.find(processId);
    if (found == machine.processes.end()) return kErrorInvalidParameter;
    if (found->second.accessDenied) return kErrorAccessDenied;
    *token = machine.tokens.Open({found->second.user, found->second.session});
    return kErrorSuccess;
}

int32_t DuplicateToken(uintptr_t token, uintptr_t* duplicate) {
    Machine& machine = TheMachine();
    std::optional<TokenInfo> info = machine.tokens.Get(token);
    if (!info) return kErrorInvalidHandle;
    *duplicate = machine.tokens.Open(*info);
    return kErrorSuccess;
}

bool CloseToken(uintptr_t token) { return TheMachine().tokens.Close(token); }

int32_t ImpersonateToken(uintptr_t token) {
    std::optional<TokenInfo> info = TheMachine().tokens.Get(token);
    if (!info) return kErrorInvalidHandle;
    impersonated = info;
    return kErrorSuccess;
}

void RevertToSelf() { impersonated.reset(); }

std::optional<std::u16string> ImpersonatedUser() {
    if (!impersonated) return std::nullopt;
    return impersonated->user;
}

}  // namespace winsim
