#include "accounts/certificate.h"

#include "plugin/boundary.h"
#include "plugin/host_link.h"

namespace vantel {

int32_t CCertificate::Uninstall() {
    return AtBoundary(u"[CCertificate] Uninstall", 0, [&] {
        TraceInfo(u"[CCertificate] Uninstall");
        return 0;
    });
}

int32_t CCertificate::Initialize(IPluginHost* host) {
    return AtBoundary(u"[CCertificate] Initialize", 0, [&] {
        if (initialised_) return 0;
        TraceInfo(u"[CCertificate] init");
        PluginHostLink::For(pluginName())->Register(host);
        initialised_ = true;
        return 0;
    });
}

}  // namespace vantel
