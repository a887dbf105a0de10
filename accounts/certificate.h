// The root-certificate plugin.
#pragma once
#include "plugin/plugin_base.h"

namespace vantel {

class CCertificate : public PluginBase {
public:
    static constexpr PluginClass kClass = PluginClass::Certificate;

    CCertificate() : PluginBase(kClass) {}

    int32_t VANTEL_CALL Uninstall() override;
    int32_t VANTEL_CALL Initialize(IPluginHost* host) override;
};

}  // namespace vantel
