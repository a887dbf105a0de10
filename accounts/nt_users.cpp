#include "accounts/nt_users.h"

#include "plugin/boundary.h"

namespace vantel {

int32_t CNtUsers::Initialize(IPluginHost*) {
    return AtBoundary(u"[CNtUsers] Initialize", 0, [&] {
        // No once-only guard here: registering the host link again is harmless.
        TraceInfo(u"[CNtUsers] init");
        initialised_ = true;
        return 0;
    });
}

void CNtUsers::BeforeDestroy() { initialised_ = false; }

}  // namespace vantel
