// The message handler each plugin registers with the host. It accepts a server-pushed message
// at once and runs the command on the system thread pool.
#pragma once
#include <atomic>
#include <string>

#include "common/com_object.h"
#include "common/com_ptr.h"
#include "vantel/plugin_abi.h"

namespace vantel {

class CReceiveCallback final : public ComObject<IServerPushedMessageHandler, kIidServerPushedMessageHandler> {
public:
    // A new handler with one reference, or null.
    static ComPtr<CReceiveCallback> Create(const std::u16string& pluginName);

    // Accepts a message (1) by queueing its command, counted as running in the receiving plugin
    // and in the plugin the command acts on until it has ended; refuses it (0) once withdrawn,
    // while the plugin is stopped, when the plugin the command acts on does not live, or when the
    // command cannot be queued.
    int32_t VANTEL_CALL OnMessage(IServerPushedMessage* message) override;
    // The plugin is being destroyed: every later message is refused.
    void Withdraw() { withdrawn_ = true; }

private:
    explicit CReceiveCallback(std::u16string pluginName) : pluginName_(std::move(pluginName)) {}

    const std::u16string pluginName_;
    std::atomic<bool> withdrawn_{false};
};

}  // namespace vantel
