#include "plugin/receive_callback.h"

#include <new>

#include "platform/threads.h"
#include "plugin/boundary.h"
#include "plugin/commands.h"
#include "plugin/run_state.h"

namespace vantel {

ComPtr<IServerPushedMessageHandler> CReceiveCallback::Create(const std::u16string& pluginName) {
    ComPtr<IServerPushedMessageHandler> handler;
    *handler.put() = new (std::nothrow) CReceiveCallback(pluginName);
    return handler;
}

int32_t CReceiveCallback::OnMessage(IServerPushedMessage* message) {
    return AtBoundary(u"OnMessage", 0, [&] {
        if (message == nullptr) return 0;
        PluginRunState* state = RunStateOf(pluginName_);
        if (state == nullptr || state->stopped) return 0;
        auto* context = new CommandContext{message, &pluginName_};
        TraceInfo(u"OnMessage cmd:%s ,value:%s", FromWide(message->GetCommand(0)), FromWide(message->GetValue(0)));
        // Counted before it is queued, so that IsBusy never misses a command that already runs.
        ++state->running;
        if (!platform::QueueLongRunningWork(&CommandWorker, context)) {
            // Refused, so the host keeps the message and may offer it again.
            --state->running;
            delete context;
            TraceError(u"OnMessage: the command could not be queued");
            return 0;
        }
        return 1;
    });
}

}  // namespace vantel
