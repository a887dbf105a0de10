#include "plugin/commands.h"

#include "plugin/boundary.h"
#include "plugin/host_link.h"
#include "plugin/run_state.h"

namespace vantel {

std::recursive_mutex& CommandLock() {
    static std::recursive_mutex* const lock = new std::recursive_mutex;
    return *lock;
}

void CommandWorker(void* raw) {
    auto* context = static_cast<CommandContext*>(raw);
    {
        std::lock_guard guard(CommandLock());
        AtBoundary(u"CommandWorker", [&] {
            if (PluginHostLink* link = PluginHostLink::For(*context->pluginName)) link->currentMessage = context->message;
            TraceInfo(u"got server pushed message cmd:%s ,value:%s", FromWide(context->message->GetCommand(0)),
                      FromWide(context->message->GetValue(0)));
        });
        // Every path ends here: the count, the host's reference and the context go together.
        if (PluginRunState* state = RunStateOf(*context->pluginName)) --state->running;
        context->message->Release();
    }
    delete context;
}

}  // namespace vantel
