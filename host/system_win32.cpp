#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "common/text.h"
#include "host/scenario.h"
#include "host/system.h"

namespace qorexthost {

namespace {

struct LocalFreeDeleter {
    void operator()(LPWSTR* memory) const { LocalFree(memory); }
};

}  // namespace

std::vector<std::string> Arguments(int, char**) {
    // The narrow arguments would lose what the ANSI code page cannot spell.
    int count = 0;
    std::unique_ptr<LPWSTR, LocalFreeDeleter> arguments(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!arguments) throw std::runtime_error("cannot read the command line");
    std::vector<std::string> result;
    for (int i = 1; i < count; ++i)
        result.push_back(vantel::ToUtf8(reinterpret_cast<const char16_t*>(arguments.get()[i])));
    return result;
}

std::filesystem::path ExecutableFolder() {
    std::wstring buffer(32768, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) throw std::runtime_error("cannot read the host's own path");
    buffer.resize(length);
    return std::filesystem::path(buffer).parent_path();
}

LoadedModule LoadModule(const std::filesystem::path& path) {
    HMODULE library = LoadLibraryW(std::filesystem::absolute(path).c_str());
    if (library == nullptr)
        throw ModuleError("cannot load " + Utf8Text(path) + ": error " + std::to_string(GetLastError()));
    FARPROC entry = GetProcAddress(library, "CreatePlugin");
    if (entry == nullptr) {
        FreeLibrary(library);
        throw ModuleError(Utf8Text(path) + " has no export CreatePlugin");
    }
    return {library, reinterpret_cast<vantel::CreatePluginFn>(reinterpret_cast<void*>(entry))};
}


const char* const kMachineRootOption = nullptr;

std::filesystem::path PrepareMachine(const MachineSetup&) {
    // The real machine needs nothing: the agent's signatures are whatever its files carry.
    return {};
}

}  // namespace qorexthost

namespace qorexthost {

void ApplyMachineStep(const std::string&) { throw ScenarioError("machine steps need the simulated machine"); }

}  // namespace qorexthost
