#include "accounts/certificate.h"

#include "plugin/boundary.h"

namespace vantel {

int32_t CCertificate::Uninstall() {
    return AtBoundary(u"[CCertificate] Uninstall", 0, [&] {
        TraceInfo(u"[CCertificate] Uninstall");
        return 0;
    });
}

int32_t CCertificate::Initialize(IPluginHost*) {
    return AtBoundary(u"[CCertificate] Initialize", 0, [&] {
        TraceInfo(u"[CCertificate] init");
        if (initialised_) return 0;
        initialised_ = true;
        return 0;
    });
}

}  // namespace vantel
