#include "eventlog/nt_event_log.h"

#include "plugin/boundary.h"

namespace vantel {

int32_t CNtEventLog::Install() {
    return AtBoundary(u"[CNtEventLog] Install", 0, [&] {
        TraceInfo(u"[CNtEventLog] Install");
        return 0;
    });
}

int32_t CNtEventLog::Uninstall() {
    return AtBoundary(u"[CNtEventLog] Uninstall", 0, [&] {
        TraceInfo(u"[CNtEventLog] Uninstall");
        return 0;
    });
}

int32_t CNtEventLog::Initialize(IPluginHost*) {
    return AtBoundary(u"[CNtEventLog] Initialize", 0, [&] {
        TraceInfo(u"[CNtEventLog] init");
        if (initialised_) return 0;
        initialised_ = true;
        return 0;
    });
}

int32_t CNtEventLog::SetProperty(int32_t id, void* data) {
    return AtBoundary(u"[CNtEventLog] SetProperty", 0, [&] {
        TraceInfo(u"[CNtEventLog] SetProperty %d", id);
        if (id == kPropertyProcessInfoProvider && data != nullptr)
            processInfoProvider_ = static_cast<void**>(data)[2];
        else if (id == kPropertyDesktopProduct)
            desktopProduct_ = true;
        return 0;
    });
}

}  // namespace vantel
