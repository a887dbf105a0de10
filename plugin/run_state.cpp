#include "plugin/run_state.h"

#include "common/text.h"

namespace vantel {

PluginRunState* RunStateOf(std::u16string_view pluginName) {
    static constexpr std::u16string_view kNames[] = {u"EventLog", u"NtUsers", u"Certificate"};
    static PluginRunState* const states = new PluginRunState[3];  // never freed: work items may outlive unload order
    for (size_t i = 0; i < 3; ++i)
        if (EqualsIgnoreCase(pluginName, kNames[i])) return &states[i];
    return nullptr;
}

}  // namespace vantel
