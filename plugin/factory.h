// The plugin factory: one object per class, built on first request.
#pragma once
#include "plugin/plugin_base.h"
#include "vantel/plugin_abi.h"

namespace vantel {

// What CreatePlugin answers, the bootstrap included.
IKestranePlugin* CreatePluginObject(const Guid* classId);

// The class's single object, built when none lives; null when it cannot be built.
PluginBase* InstanceOf(PluginClass pluginClass);

template <typename T>
T* InstanceOf() {
    return static_cast<T*>(InstanceOf(T::kClass));
}

// Ends the object, clears its class's slot and answers how many plugin objects still live.
int32_t ReleaseInstance(PluginClass pluginClass, PluginBase* object);

}  // namespace vantel
