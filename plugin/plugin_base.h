// What the three plugin classes share: the slots' default behaviour, the run state and the
// virtual destructor that follows the interface's eleven slots.
#pragma once
#include <string>

#include "plugin/run_state.h"
#include "vantel/plugin_abi.h"

namespace vantel {

enum class PluginClass { EventLog = 0, NtUsers = 1, Certificate = 2 };

// "EventLog", "NtUsers" or "Certificate": the key of the class's run state and host link.
const char16_t* PluginNameOf(PluginClass pluginClass);

class PluginBase : public IKestranePlugin {
public:
    virtual ~PluginBase() = default;

    int32_t VANTEL_CALL Install() override { return 0; }
    int32_t VANTEL_CALL Uninstall() override { return 0; }
    int32_t VANTEL_CALL Initialize(IPluginHost*) override { return 0; }
    int32_t VANTEL_CALL Start() override;
    int32_t VANTEL_CALL Stop() override;
    int32_t VANTEL_CALL IsBusy() override;
    int32_t VANTEL_CALL OnFileUpdated(const WChar* path) override;
    void VANTEL_CALL Reserved(uintptr_t) override {}
    int32_t VANTEL_CALL SetProperty(int32_t id, void* data) override;
    int32_t VANTEL_CALL GetProperty(int32_t id, void* data) override;
    int32_t VANTEL_CALL Destroy() override;

    PluginClass pluginClass() const { return class_; }
    const char16_t* pluginName() const;
    PluginRunState& runState() const { return *runState_; }

protected:
    explicit PluginBase(PluginClass pluginClass);
    // The class's trace tag, "[CNtEventLog]" and so on.
    const char16_t* tag() const;
    // What the class does before the object ends; nobody is handed the object any more.
    virtual void BeforeDestroy() {}

    bool initialised_ = false;

private:
    PluginClass class_;
    PluginRunState* runState_;
};

}  // namespace vantel
