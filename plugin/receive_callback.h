// The message handler each plugin registers with the host. It accepts a server-pushed message
// at once and runs the command on the system thread pool.
#pragma once
#include <string>

#include "common/com_object.h"
#include "common/com_ptr.h"
#include "vantel/plugin_abi.h"

namespace vantel {

class CReceiveCallback final : public ComObject<IServerPushedMessageHandler, kIidServerPushedMessageHandler> {
public:
    // A new handler with one reference, or null.
    static ComPtr<IServerPushedMessageHandler> Create(const std::u16string& pluginName);

    int32_t VANTEL_CALL OnMessage(IServerPushedMessage* message) override;

private:
    explicit CReceiveCallback(std::u16string pluginName) : pluginName_(std::move(pluginName)) {}

    const std::u16string pluginName_;
};

}  // namespace vantel
