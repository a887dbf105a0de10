// What the host does in one run: which plugins it drives and the steps it takes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vantel/plugin_abi.h"

namespace qorexthost {

struct PluginClass {
    const char* name;
    const vantel::Guid& classId;
};

// A plugin is named by its index in this table.
inline constexpr PluginClass kPluginClasses[] = {
    {"EventLog", vantel::kClsidEventLog},
    {"NtUsers", vantel::kClsidNtUsers},
    {"Certificate", vantel::kClsidCertificate},
};

// The agent's own files, signed by the agent's signer unless a scenario says otherwise.
inline constexpr const char* kAgentFiles[] = {"Vantel.dll", "Quaymar.dll", "Qorbase.dll"};

// The plugin's slots in table order, less the reserved one.
enum class Slot {
    Install, Uninstall, Initialize, Start, Stop, IsBusy, OnFileUpdated, SetProperty, GetProperty, Destroy
};
std::string_view SlotName(Slot slot);

struct CallStep {
    Slot slot;
    std::optional<size_t> plugin{};  // none: every plugin of the run, in its order
    int32_t propertyId = 0;
    std::string path{};  // for OnFileUpdated
};

struct MessageStep {
    size_t plugin;
    std::string command;
    std::string value;
    std::optional<std::string> payload{};  // none: GetPayload answers null
};

struct WaitIdleStep {
    size_t plugin;
};

struct PauseStep {
    int milliseconds;
};

// A change to the simulated machine (a published event record, an account, ...), kept as its
// JSON text; the host then waits until the module's named events have settled.
struct MachineStep {
    std::string json;
};

// Recorded event-log files replayed into the machine's channels (qorexthost --evtx, or a
// scenario's {"replay": [...]}); the host then waits until the module's named events have settled.
struct ReplayStep {
    std::vector<std::string> paths;
};

using Step = std::variant<CallStep, MessageStep, WaitIdleStep, PauseStep, MachineStep, ReplayStep>;

struct Scenario {
    std::vector<size_t> plugins;
    std::vector<Step> steps;
    std::vector<std::string> unsignedFiles;  // spelt as in kAgentFiles
};

// A scenario file that cannot be read or makes no sense.
struct ScenarioError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

Scenario ParseScenario(const std::string& text);
// Install, Initialize, Start, Stop and Destroy for the three plugins.
Scenario DefaultScenario();
// The event-log plugin initialized and started, the files replayed, then stopped and destroyed.
Scenario ReplayScenario(std::vector<std::string> paths);

}  // namespace qorexthost
