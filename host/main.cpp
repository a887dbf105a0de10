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

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitBadUsage = 2;
constexpr int kExitNoModule = 3;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::string scenario;
    std::string module;
    std::string machineRoot;
    std::vector<std::string> recordings;
    bool help = false;
};

bool IsOption(const std::string& argument) { return argument.size() > 1 && argument[0] == '-'; }

Options ParseOptions(const std::vector<std::string>& arguments) {
    Options options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        if (kMachineRootOption && name == "--evtx") {  // recordings replay on the simulated machine only
            // Every path up to the next option, as a shell glob hands them over.
            size_t first = options.recordings.size();
            while (i + 1 < arguments.size() && !IsOption(arguments[i + 1])) options.recordings.push_back(arguments[++i]);
            if (options.recordings.size() == first) throw UsageError(name + " needs a file or folder");
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

std::string UsageLine() {
    std::string usage = "usage: qorexthost [--scenario FILE] [--module PATH]";
    if (kMachineRootOption) usage += std::string(" [") + kMachineRootOption + " DIR] [--evtx FILE|DIR ...]";
    return usage;
}

std::string HelpText() {
    std::string text = UsageLine() + R"(
       qorexthost --help

Loads the module, creates its plugins and drives them through a scenario, writing what they do
to standard output, one JSON object per line. Progress and problems go to standard error.

Options:
  --scenario FILE      the steps to take, as JSON (without it: Install, Initialize, Start, Stop
                       and Destroy of every plugin)
  --module PATH        the module to load (default: Vantel.dll beside qorexthost)
)";
    if (kMachineRootOption)
        text += std::string("  ") + kMachineRootOption + R"( DIR    the folder that holds the simulated C: drive (default: a
                       fresh temporary folder, removed at the end)
  --evtx FILE|DIR ...  replays .evtx recordings (folders recursively, in name order) through the
                       event-log plugin; every argument up to the next option is a path. Files
                       read in part or not at all are named on standard error with the reason,
                       and a closing summary counts files, records and named events.
)";
    text += R"(  -h, --help           this text

Output lines:
  {"type":"call","plugin":P,"slot":S,"result":N}
      a plugin slot the host called, with the number it returned
  {"type":"event","plugin":P,"name":E,"fields":{...}}
      a named event and its text fields ("time" too when the module set one)
  {"type":"message","plugin":P,"command":C,"accepted":0|1}
      a server command handed to the plugin's message handler
  {"type":"reply","plugin":P,"kind":K,"command":C,"fields":{...},"nodes":[...]}
      the document the plugin sent in answer to a server command
  {"type":"report","plugin":P,"kind":K,"fields":{...},"nodes":[...]}
      a document the plugin sent unasked
)";
    if (kMachineRootOption)
        text += R"(  {"type":"policy","system_access":{...},"groups":{...},"account_names_acl":A}
      the simulated machine's password policy, groups and account-name access list, as a
      read_policy step reads them back
)";
    text += R"(
Example:
)";
    text += kMachineRootOption ? "  qorexthost --evtx logs/*.evtx | jq -c 'select(.type==\"event\")'\n"
                               : "  qorexthost --scenario demo.json > lines.json\n";
    text += R"(
Exit codes:
  0  the run went through
  1  the run failed otherwise (the machine could not be prepared, ...)
  2  bad usage: an unknown option, a missing value, a path that does not exist, or a scenario
     that cannot be read, makes no sense or has a step the machine cannot take
  3  the module cannot be loaded, has no CreatePlugin, or gives no plugin
)";
    return text;
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
    if (options.help) {
        std::fputs(HelpText().c_str(), stdout);
        return kExitSuccess;
    }
    if (!options.recordings.empty() && !options.scenario.empty()) throw UsageError("--evtx and --scenario exclude each other");
    Scenario scenario = options.recordings.empty() ? LoadScenario(options.scenario) : ReplayScenario(options.recordings);
    // A path that is not there fails the run before any plugin is called.
    try {
        for (const Step& step : scenario.steps)
            if (const auto* replay = std::get_if<ReplayStep>(&step)) CheckRecordings(replay->paths);
    } catch (const ScenarioError& error) {
        if (options.recordings.empty()) throw;
        throw UsageError(error.what());
    }
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
    return kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "qorexthost: %s\n%s\nqorexthost --help tells more.\n", error.what(), UsageLine().c_str());
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
