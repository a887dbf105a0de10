#include <vector>

#include "common/system_helpers.h"
#include "common/text.h"

namespace vantel {

namespace {

// The token of the user's shell in the session, for when the terminal services give none.
platform::Token ShellTokenOf(uint32_t session) {
    std::vector<platform::ProcessEntry> processes;
    if (platform::ListProcesses(&processes) != platform::kErrorSuccess) return {};
    for (const platform::ProcessEntry& process : processes) {
        if (!EqualsIgnoreCase(process.imageName, u"explorer.exe")) continue;
        platform::Token token;
        uint32_t tokenSession = 0;
        if (platform::OpenProcessTokenById(process.id, &token) == platform::kErrorSuccess &&
            platform::GetTokenSessionId(token, &tokenSession) == platform::kErrorSuccess && tokenSession == session)
            return token;
    }
    return {};
}

}  // namespace

uint32_t GetActiveSessionID() {
    std::vector<platform::SessionEntry> sessions;
    if (platform::EnumerateSessions(&sessions) == platform::kErrorSuccess)
        for (const platform::SessionEntry& session : sessions)
            if (session.state == platform::SessionState::Active) return session.id;
    return platform::ActiveConsoleSessionId();
}

platform::Token GetCurUserToken(uint32_t session) {
    platform::Token found;
    if (platform::QuerySessionUserToken(session, &found) != platform::kErrorSuccess) found = ShellTokenOf(session);
    platform::Token duplicate;
    if (found) platform::DuplicateAsPrimaryToken(found, &duplicate);
    return duplicate;
}

}  // namespace vantel
