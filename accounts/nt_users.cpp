#include "accounts/nt_users.h"

#include "plugin/boundary.h"
#include "plugin/host_link.h"

namespace vantel {

int32_t CNtUsers::Initialize(IPluginHost* host) {
    return AtBoundary(u"[CNtUsers] Initialize", 0, [&] {
        // No once-only guard here: registering the host link again is harmless.
        TraceInfo(u"[CNtUsers] init");
        PluginHostLink::For(pluginName())->Register(host);
        initialised_ = true;
        return 0;
    });
}

void CNtUsers::BeforeDestroy() { initialised_ = false; }

}  // namespace vantel
