// The event-log plugin.
#pragma once
#include "plugin/plugin_base.h"

namespace vantel {

class CNtEventLog : public PluginBase {
public:
    static constexpr PluginClass kClass = PluginClass::EventLog;
    static constexpr int32_t kPropertyProcessInfoProvider = 3;
    static constexpr int32_t kPropertyDesktopProduct = 5;

    CNtEventLog() : PluginBase(kClass) {}

    int32_t VANTEL_CALL Install() override;
    int32_t VANTEL_CALL Uninstall() override;
    int32_t VANTEL_CALL Initialize(IPluginHost* host) override;
    int32_t VANTEL_CALL SetProperty(int32_t id, void* data) override;

    void* processInfoProvider() const { return processInfoProvider_; }
    bool desktopProduct() const { return desktopProduct_; }

private:
    void* processInfoProvider_ = nullptr;
    bool desktopProduct_ = false;
};

}  // namespace vantel
