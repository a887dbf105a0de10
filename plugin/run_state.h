// Per-plugin run state: whether the plugin is stopped and how many of its work items run.
#pragma once
#include <atomic>
#include <cstdint>
#include <string_view>

namespace vantel {

struct PluginRunState {
    std::atomic<int32_t> stopped{0};
    std::atomic<int32_t> running{0};
};

// The run state of "EventLog", "NtUsers" or "Certificate" (any case); null for any other name.
// Records are never freed, so the pointer stays valid for the life of the process.
PluginRunState* RunStateOf(std::u16string_view pluginName);

// Counts one work item of a plugin for as long as it lives.
class RunningWorkItem {
public:
    explicit RunningWorkItem(PluginRunState* state) : state_(state) {
        if (state_) ++state_->running;
    }
    ~RunningWorkItem() {
        if (state_) --state_->running;
    }
    RunningWorkItem(const RunningWorkItem&) = delete;
    RunningWorkItem& operator=(const RunningWorkItem&) = delete;

private:
    PluginRunState* state_;
};

}  // namespace vantel
