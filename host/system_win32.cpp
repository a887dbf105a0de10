#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

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

void CheckRecordings(const std::vector<std::string>&) {
    throw ScenarioError("replaying recordings needs the simulated machine");
}

ReplayTotals ReplayRecordings(const std::vector<std::string>&) {
    throw ScenarioError("replaying recordings needs the simulated machine");
}

}  // namespace qorexthost

namespace qorexthost {

namespace {

class WindowsProcessInfo final : public vantel::IProcessInfoProvider {
public:
    uint32_t VANTEL_CALL ParentProcessId(uint32_t processId) override {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return 0;
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        uint32_t parent = 0;
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
            if (entry.th32ProcessID == processId) {
                parent = entry.th32ParentProcessID;
                break;
            }
        }
        CloseHandle(snapshot);
        return parent;
    }
    int32_t VANTEL_CALL HostOperation1() override { return 0; }
    int32_t VANTEL_CALL HostOperation2() override { return 0; }
    int32_t VANTEL_CALL HostOperation3() override { return 0; }
    // Seconds since 1970.
    int32_t VANTEL_CALL ProcessStartTime(uint32_t processId, uint64_t* startTime) override {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
        if (process == nullptr || startTime == nullptr) return 0;
        FILETIME created, exited, kernel, user;
        BOOL known = GetProcessTimes(process, &created, &exited, &kernel, &user);
        CloseHandle(process);
        if (!known) return 0;
        uint64_t ticks = (uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
        *startTime = (ticks - 116444736000000000ull) / 10000000ull;
        return 1;
    }
};

}  // namespace

vantel::IProcessInfoProvider* MachineProcessInfo() {
    static WindowsProcessInfo provider;
    return &provider;
}

}  // namespace qorexthost
