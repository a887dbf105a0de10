// The plugin factory: one object per class, built on first request.
#pragma once
#include "plugin/plugin_base.h"
#include "vantel/plugin_abi.h"

namespace vantel {

// What CreatePlugin answers.
IKestranePlugin* CreatePluginObject(const Guid* classId);

// The class's single object, built when none lives; null when it cannot be built. The first
// object of the process, or the first after the last was destroyed, takes the module's
// process-wide resources.
PluginBase* InstanceOf(PluginClass pluginClass);

template <typename T>
T* InstanceOf() {
    return static_cast<T*>(InstanceOf(T::kClass));
}

// The class's object while one lives; never builds one.
PluginBase* LiveInstance(PluginClass pluginClass);

// Clears the class's slot, so that nobody is handed the object any more.
void ForgetInstance(PluginClass pluginClass, PluginBase* object);
// Ends the object and answers how many plugin objects still live; with the last, the module
// lets go of its process-wide resources first.
int32_t ReleaseInstance(PluginBase* object);

}  // namespace vantel
