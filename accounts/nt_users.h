// The user-account plugin.
#pragma once
#include "plugin/plugin_base.h"

namespace vantel {

class CNtUsers : public PluginBase {
public:
    static constexpr PluginClass kClass = PluginClass::NtUsers;

    CNtUsers() : PluginBase(kClass) {}

    int32_t VANTEL_CALL Initialize(IPluginHost* host) override;

private:
    void BeforeDestroy() override;
};

}  // namespace vantel
