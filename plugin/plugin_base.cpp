#include "plugin/plugin_base.h"

#include "plugin/boundary.h"
#include "plugin/commands.h"
#include "plugin/factory.h"
#include "plugin/host_link.h"

namespace vantel {

namespace {

constexpr const char16_t* kNames[] = {u"EventLog", u"NtUsers", u"Certificate"};
constexpr const char16_t* kTags[] = {u"[CNtEventLog]", u"[CNtUsers]", u"[CCertificate]"};

}  // namespace

const char16_t* PluginNameOf(PluginClass pluginClass) { return kNames[static_cast<int>(pluginClass)]; }

PluginBase::PluginBase(PluginClass pluginClass) : class_(pluginClass), runState_(RunStateOf(PluginNameOf(pluginClass))) {}

const char16_t* PluginBase::pluginName() const { return PluginNameOf(class_); }

const char16_t* PluginBase::tag() const { return kTags[static_cast<int>(class_)]; }

int32_t PluginBase::Start() {
    return AtBoundary(u"Start", 0, [&] {
        TraceInfo(u"%s Start", tag());
        runState_->stopped.exchange(0);
        return 0;
    });
}

int32_t PluginBase::Stop() {
    return AtBoundary(u"Stop", 0, [&] {
        TraceInfo(u"%s Stop", tag());
        runState_->stopped.exchange(1);
        return 0;
    });
}

int32_t PluginBase::IsBusy() { return runState_->running.load() != 0 ? 1 : 0; }

int32_t PluginBase::OnFileUpdated(const WChar* path) {
    return AtBoundary(u"OnFileUpdated", 1, [&] {
        TraceInfo(u"%s OnFileUpdated %s", tag(), FromWide(path));
        return 1;
    });
}

int32_t PluginBase::SetProperty(int32_t, void*) {
    return AtBoundary(u"SetProperty", 0, [&] {
        TraceInfo(u"%s SetProperty", tag());
        return 0;
    });
}

int32_t PluginBase::GetProperty(int32_t, void*) {
    return AtBoundary(u"GetProperty", 0, [&] {
        TraceInfo(u"%s GetProperty", tag());
        return 0;
    });
}

int32_t PluginBase::Destroy() {
    {
        // A command that runs ends first; a later one finds no object, and the handler refuses
        // every message from now on.
        std::lock_guard commands(CommandLock());
        ForgetInstance(class_, this);
        PluginHostLink::For(pluginName())->Withdraw();
    }
    AtBoundary(u"Destroy", [&] { BeforeDestroy(); });
    return ReleaseInstance(this);
}

}  // namespace vantel
