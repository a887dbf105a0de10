#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "host/scenario.h"
#include "host/system.h"
#include "winsim/accounts.h"
#include "winsim/files.h"
#include "winsim/secedit.h"
#include "winsim/signing.h"
#include "winsim/system.h"

namespace qorexthost {

std::vector<std::string> Arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

std::filesystem::path ExecutableFolder() { return std::filesystem::read_symlink("/proc/self/exe").parent_path(); }

LoadedModule LoadModule(const std::filesystem::path& path) {
    void* library = dlopen(std::filesystem::absolute(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) throw ModuleError(dlerror());
    void* entry = dlsym(library, "CreatePlugin");
    if (entry == nullptr) {
        dlclose(library);
        throw ModuleError(Utf8Text(path) + " has no export CreatePlugin");
    }
    return {library, reinterpret_cast<vantel::CreatePluginFn>(entry)};
}


const char* const kMachineRootOption = "--winsim-root";

std::filesystem::path PrepareMachine(const MachineSetup& setup) {
    std::filesystem::path scratch;
    std::filesystem::path root = setup.root;
    if (root.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "qorexthost-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a folder for the C: drive");
        root = scratch = pattern;
    }
    winsim::MapDrive(u'C', root.string());
    // A machine as installed: its folders, accounts, groups and policy.
    std::filesystem::create_directories(winsim::HostPath(winsim::SystemDirectory()));
    winsim::ResetAccounts();
    winsim::ResetPasswordPolicy();

    // The agent's layout: the log library beside the module, the companion library one folder up.
    std::filesystem::path module = std::filesystem::absolute(setup.module);
    const std::filesystem::path agentFiles[] = {module, module.parent_path() / kAgentFiles[1],
                                                module.parent_path().parent_path() / kAgentFiles[2]};
    for (size_t i = 0; i < std::size(agentFiles); ++i) {
        bool isUnsigned = std::find(setup.unsignedFiles.begin(), setup.unsignedFiles.end(), kAgentFiles[i]) !=
                          setup.unsignedFiles.end();
        winsim::SetFileSigner(agentFiles[i].string(), isUnsigned ? std::string() : "Vantel agent");
    }
    // A fresh agent on the fresh machine: a run file of an earlier run would start its SAM watch.
    std::filesystem::path runFiles = module.parent_path().parent_path() / "pelmar" / "plugin";
    std::filesystem::remove_all(runFiles);
    std::filesystem::create_directories(runFiles);
    return scratch;
}

}  // namespace qorexthost
