#include "plugin/receive_callback.h"

#include <new>

#include "plugin/boundary.h"
#include "plugin/commands.h"
#include "plugin/factory.h"
#include "plugin/module_lifetime.h"
#include "plugin/run_state.h"

namespace vantel {

ComPtr<CReceiveCallback> CReceiveCallback::Create(const std::u16string& pluginName) {
    ComPtr<CReceiveCallback> handler;
    *handler.put() = new (std::nothrow) CReceiveCallback(pluginName);
    return handler;
}

int32_t CReceiveCallback::OnMessage(IServerPushedMessage* message) {
    return AtBoundary(u"OnMessage", 0, [&] {
        if (message == nullptr || withdrawn_) return 0;
        PluginRunState* state = RunStateOf(pluginName_);
        if (state == nullptr || state->stopped) return 0;
        std::u16string command = FromWide(message->GetCommand(0));
        std::optional<PluginClass> target = CommandTarget(pluginName_, command);
        if (target && LiveInstance(*target) == nullptr) {
            // Nothing would carry it out, and no plugin object is built behind the host's back.
            TraceError(u"OnMessage cmd:%s refused: no %s plugin lives", command, PluginNameOf(*target));
            return 0;
        }
        PluginRunState* targetState = target ? RunStateOf(PluginNameOf(*target)) : nullptr;
        auto* context = new CommandContext{message, pluginName_, state, targetState == state ? nullptr : targetState};
        TraceInfo(u"OnMessage cmd:%s ,value:%s", command, FromWide(message->GetValue(0)));
        // Counted before it is queued, so that IsBusy never misses a command that already runs,
        // in the plugin it acts on too.
        ++state->running;
        if (context->targetState) ++context->targetState->running;
        if (!QueueModuleWork(&CommandWorker, context)) {
            // Refused, so the host keeps the message and may offer it again.
            --state->running;
            if (context->targetState) --context->targetState->running;
            delete context;
            TraceError(u"OnMessage: the command could not be queued");
            return 0;
        }
        return 1;
    });
}

}  // namespace vantel
