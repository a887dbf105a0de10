#include "host/scenario.h"

#include <algorithm>
#include <iterator>

#include <nlohmann/json.hpp>

#include "common/text.h"

namespace qorexthost {

namespace {

using nlohmann::json;

constexpr std::string_view kSlotNames[] = {"Install", "Uninstall",     "Initialize",  "Start",       "Stop",
                                           "IsBusy",  "OnFileUpdated", "SetProperty", "GetProperty", "Destroy"};

Slot SlotNamed(const std::string& name) {
    auto found = std::find(std::begin(kSlotNames), std::end(kSlotNames), name);
    if (found == std::end(kSlotNames)) throw ScenarioError("no slot \"" + name + "\"");
    return static_cast<Slot>(found - std::begin(kSlotNames));
}

size_t PluginNamed(const json& name) {
    std::string text = name.get<std::string>();
    for (size_t i = 0; i < std::size(kPluginClasses); ++i)
        if (text == kPluginClasses[i].name) return i;
    throw ScenarioError("no plugin \"" + text + "\"");
}

std::vector<size_t> AllPlugins() {
    std::vector<size_t> plugins;
    for (size_t plugin = 0; plugin < std::size(kPluginClasses); ++plugin) plugins.push_back(plugin);
    return plugins;
}

// A plugin that steps may name: one of the run's.
size_t PluginOfRun(const json& name, const Scenario& scenario) {
    size_t plugin = PluginNamed(name);
    if (std::find(scenario.plugins.begin(), scenario.plugins.end(), plugin) == scenario.plugins.end())
        throw ScenarioError("plugin \"" + name.get<std::string>() + "\" is not among the scenario's plugins");
    return plugin;
}

std::string AgentFileNamed(const json& name) {
    std::u16string text = vantel::FromUtf8(name.get<std::string>());
    for (const char* file : kAgentFiles)
        if (vantel::EqualsIgnoreCase(text, vantel::FromUtf8(file))) return file;
    throw ScenarioError("no agent file \"" + name.get<std::string>() + "\"");
}

// A missing list is an empty one.
json ListMember(const json& object, const char* key) {
    json list = object.value(key, json::array());
    if (!list.is_array()) throw ScenarioError(std::string("\"") + key + "\" is no list");
    return list;
}

Step ParseStep(const json& step, const Scenario& scenario) {
    if (!step.is_object()) throw ScenarioError("a step is no object: " + step.dump());
    if (step.contains("call")) {
        CallStep call{SlotNamed(step["call"].get<std::string>())};
        if (step.contains("plugin")) call.plugin = PluginOfRun(step["plugin"], scenario);
        call.propertyId = step.value("id", 0);
        call.path = step.value("path", "");
        return call;
    }
    if (step.contains("message")) {
        const json& message = step["message"];
        MessageStep parsed{PluginOfRun(message.at("plugin"), scenario), message.value("command", ""),
                           message.value("value", "")};
        if (message.contains("payload")) parsed.payload = message["payload"].get<std::string>();
        return parsed;
    }
    if (step.contains("wait_idle")) return WaitIdleStep{PluginOfRun(step["wait_idle"], scenario)};
    if (step.contains("pause_ms")) return PauseStep{std::max(0, step["pause_ms"].get<int>())};
    if (step.contains("machine")) return MachineStep{step["machine"].dump()};
    if (step.contains("replay")) return ReplayStep{ListMember(step, "replay").get<std::vector<std::string>>()};
    throw ScenarioError("unknown step: " + step.dump());
}

}  // namespace

std::string_view SlotName(Slot slot) { return kSlotNames[static_cast<size_t>(slot)]; }

Scenario ParseScenario(const std::string& text) {
    try {
        json root = json::parse(text);
        if (!root.is_object()) throw ScenarioError("the scenario is no JSON object");
        Scenario scenario;
        if (!root.contains("plugins")) scenario.plugins = AllPlugins();
        for (const json& name : ListMember(root, "plugins")) {
            size_t plugin = PluginNamed(name);
            if (std::find(scenario.plugins.begin(), scenario.plugins.end(), plugin) != scenario.plugins.end())
                throw ScenarioError("plugin \"" + name.get<std::string>() + "\" is listed twice");
            scenario.plugins.push_back(plugin);
        }
        for (const json& step : ListMember(root, "steps")) scenario.steps.push_back(ParseStep(step, scenario));
        for (const json& file : ListMember(root, "unsigned")) scenario.unsignedFiles.push_back(AgentFileNamed(file));
        return scenario;
    } catch (const json::exception& error) {
        throw ScenarioError(error.what());
    }
}

Scenario ReplayScenario(std::vector<std::string> paths) {
    constexpr size_t kEventLog = 0;
    return {{kEventLog},
            {CallStep{Slot::Initialize, kEventLog}, CallStep{Slot::Start, kEventLog}, WaitIdleStep{kEventLog},
             ReplayStep{std::move(paths)}, CallStep{Slot::Stop, kEventLog}, CallStep{Slot::Destroy, kEventLog}},
            {}};
}

Scenario DefaultScenario() {
    Scenario scenario;
    scenario.plugins = AllPlugins();
    for (Slot slot : {Slot::Install, Slot::Initialize, Slot::Start, Slot::Stop, Slot::Destroy})
        scenario.steps.push_back(CallStep{slot});
    return scenario;
}

}  // namespace qorexthost
