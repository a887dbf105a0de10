// Execution of server-pushed commands, one at a time across all plugins.
#pragma once
#include <mutex>
#include <string>

#include "vantel/plugin_abi.h"

namespace vantel {

// Held for the whole of every command, and with it every report flush.
std::recursive_mutex& CommandLock();

struct CommandContext {
    IServerPushedMessage* message;  // the host's reference, taken over by the worker
    const std::u16string* pluginName;
};

// The thread-pool work item of one accepted message; frees the context and releases the message.
void CommandWorker(void* context);

}  // namespace vantel
