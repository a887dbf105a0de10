#include "platform/library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "winsim/files.h"
#include "winsim/signing.h"

namespace vantel::platform {

LibraryHandle LoadLibraryByPath(const std::u16string& fullPath) {
    std::string host = winsim::HostPath(fullPath);
    if (host.empty()) return nullptr;
    return dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* GetLibraryProcedure(LibraryHandle library, const char* name) {
    return library ? dlsym(library, name) : nullptr;
}

void FreeLibraryHandle(LibraryHandle library) {
    if (library) dlclose(library);
}

std::u16string ThisModulePath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ThisModulePath), &info) == 0 || info.dli_fname == nullptr) return {};
    std::error_code error;
    std::filesystem::path path = std::filesystem::canonical(info.dli_fname, error);
    return error ? std::u16string() : winsim::WindowsPath(path.string());
}

std::u16string ProcessImagePath() {
    std::error_code error;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::u16string() : winsim::WindowsPath(path.string());
}

bool FileExists(const std::u16string& path) {
    std::string host = winsim::HostPath(path);
    std::error_code error;
    return !host.empty() && std::filesystem::is_regular_file(host, error);
}

bool VerifiesAsAgentOwn(const std::u16string& path) {
    std::string signer = winsim::FileSigner(winsim::HostPath(path));
    return !signer.empty() && signer == winsim::FileSigner(winsim::HostPath(ThisModulePath()));
}

}  // namespace vantel::platform
