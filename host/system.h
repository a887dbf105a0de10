// What the host needs from the operating system, implemented once for Linux over the simulated
// machine (system_sim.cpp) and once for Windows (system_win32.cpp).
#pragma once
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "vantel/plugin_abi.h"

namespace qorexthost {

// The module or its export cannot be had.
struct ModuleError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline std::filesystem::path Utf8Path(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
inline std::string Utf8Text(const std::filesystem::path& path) {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The command line's arguments after the program name, as UTF-8.
std::vector<std::string> Arguments(int argc, char** argv);

std::filesystem::path ExecutableFolder();

struct LoadedModule {
    void* library;
    vantel::CreatePluginFn createPlugin;
};

// Loads the module and finds its export.
LoadedModule LoadModule(const std::filesystem::path& path);

// The host's answers about the machine's processes, handed to the event-log plugin with
// property 3.
vantel::IProcessInfoProvider* MachineProcessInfo();

// Carries out a machine step; throws ScenarioError for one the machine cannot take.
void ApplyMachineStep(const std::string& json);

// Throws ScenarioError for a path to recordings that does not exist, or where none can be replayed;
// run before any plugin starts.
void CheckRecordings(const std::vector<std::string>& paths);

// Replays recorded event-log files (.evtx, folders recursively in name order) into the machine's
// channels, writing progress and each file read only in part or not at all (with the reason) to
// standard error; answers the totals for the closing summary once the module has handed the host
// every named event the records gave.
struct ReplayTotals {
    uint64_t files = 0;
    uint64_t records = 0;
    uint64_t skipped = 0;
};
ReplayTotals ReplayRecordings(const std::vector<std::string>& paths);

// The option that names the folder of the simulated C: drive; null where the machine is real.
extern const char* const kMachineRootOption;

struct MachineSetup {
    std::filesystem::path root;  // the simulated C: drive; empty for a fresh temporary folder
    std::filesystem::path module;
    std::vector<std::string> unsignedFiles;  // names from kAgentFiles
};

// Readies the machine the module runs on. Answers a folder made for the run, which the caller
// removes afterwards, or an empty path.
std::filesystem::path PrepareMachine(const MachineSetup& setup);

}  // namespace qorexthost
