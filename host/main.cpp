// qorexthost: loads the module, creates its plugins and drives them through a scenario, writing
// what the plugins do as JSON lines.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "host/host_objects.h"
#include "host/runner.h"
#include "host/scenario.h"
#include "host/system.h"

namespace {

using namespace qorexthost;

constexpr int kExitBadUsage = 2;
constexpr int kExitNoModule = 3;
constexpr int kExitFailure = 1;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::string scenario;
    std::string module;
    std::string machineRoot;
    std::vector<std::string> recordings;
};

Options ParseOptions(const std::vector<std::string>& arguments) {
    Options options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        if (kMachineRootOption && name == "--evtx") {  // recordings replay on the simulated machine only
            if (i + 1 == arguments.size()) throw UsageError(name + " needs a value");
            options.recordings.push_back(arguments[++i]);
            continue;
        }
        std::string* value = name == "--scenario"                                 ? &options.scenario
                             : name == "--module"                               ? &options.module
                             : kMachineRootOption && name == kMachineRootOption ? &options.machineRoot
                                                                                : nullptr;
        if (value == nullptr) throw UsageError("unknown option " + name);
        if (i + 1 == arguments.size()) throw UsageError(name + " needs a value");
        *value = arguments[++i];
    }
    return options;
}

Scenario LoadScenario(const std::string& file) {
    if (file.empty()) return DefaultScenario();
    std::ifstream stream(Utf8Path(file), std::ios::binary);
    std::ostringstream text;
    if (!(text << stream.rdbuf())) throw ScenarioError("cannot read " + file);
    return ParseScenario(text.str());
}

// Removes the folder made for the run, whatever way the run ends.
struct Scratch {
    std::filesystem::path folder;
    ~Scratch() {
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }
};

int Run(int argc, char** argv) {
    Options options = ParseOptions(Arguments(argc, argv));
    if (!options.recordings.empty() && !options.scenario.empty()) throw UsageError("--evtx and --scenario exclude each other");
    Scenario scenario = options.recordings.empty() ? LoadScenario(options.scenario) : ReplayScenario(options.recordings);
    std::filesystem::path module =
        options.module.empty() ? ExecutableFolder() / "Vantel.dll" : Utf8Path(options.module);
    Scratch scratch{PrepareMachine({Utf8Path(options.machineRoot), module, scenario.unsignedFiles})};
    LoadedModule loaded = LoadModule(module);
    Runner runner(loaded.createPlugin, scenario.plugins);
    runner.Run(scenario.steps);
    if (!options.recordings.empty()) {
        const ReplayTotals& totals = runner.replayed();
        uint64_t nameless = NamelessEventRecordRequests();
        std::fprintf(stderr,
                     "qorexthost: %llu files, %llu records read, %llu skipped, %llu named events, "
                     "%llu records committed without an event name\n",
                     static_cast<unsigned long long>(totals.files), static_cast<unsigned long long>(totals.records),
                     static_cast<unsigned long long>(totals.skipped),
                     static_cast<unsigned long long>(EventRecordRequests() - nameless),
                     static_cast<unsigned long long>(nameless));
    }
    // The module stays loaded until the process ends: its process-wide objects live that long.
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const UsageError& error) {
        std::string usage = "usage: qorexthost [--scenario FILE] [--module PATH]";
        if (kMachineRootOption) usage += std::string(" [") + kMachineRootOption + " DIR] [--evtx FILE|DIR ...]";
        std::fprintf(stderr, "qorexthost: %s\n%s\n", error.what(), usage.c_str());
        return kExitBadUsage;
    } catch (const ScenarioError& error) {
        std::fprintf(stderr, "qorexthost: scenario: %s\n", error.what());
        return kExitBadUsage;
    } catch (const ModuleError& error) {
        std::fprintf(stderr, "qorexthost: module: %s\n", error.what());
        return kExitNoModule;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "qorexthost: %s\n", error.what());
        return kExitFailure;
    }
}
