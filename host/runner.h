// Drives the plugins of one run through the scenario's steps, writing a line for each call.
#pragma once
#include <array>
#include <cstddef>
#include <vector>

#include "host/scenario.h"
#include "host/system.h"
#include "vantel/plugin_abi.h"

namespace qorexthost {

class Runner {
public:
    Runner(vantel::CreatePluginFn createPlugin, std::vector<size_t> plugins)
        : createPlugin_(createPlugin), plugins_(std::move(plugins)) {}
    // However the run ends, the module's work is let finish first (every live plugin idle):
    // its work items must not run on while the process takes itself down.
    ~Runner();
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // Throws ModuleError when the module gives no plugin object.
    void Run(const std::vector<Step>& steps);
    // What the replay steps read.
    const ReplayTotals& replayed() const { return replayed_; }

private:
    void Call(size_t plugin, const CallStep& step);
    void WaitIdle(size_t plugin);
    void SettleEvents();
    // The live plugin object; after Destroy the next step asks the module for a new one.
    vantel::IKestranePlugin& Plugin(size_t plugin);

    vantel::CreatePluginFn createPlugin_;
    std::vector<size_t> plugins_;
    std::array<vantel::IKestranePlugin*, std::size(kPluginClasses)> live_{};
    ReplayTotals replayed_;
};

}  // namespace qorexthost
