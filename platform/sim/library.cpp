#include "platform/library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <memory>
#include <new>
#include <utility>

#include "platform/errors.h"
#include "winsim/files.h"
#include "winsim/last_error.h"
#include "winsim/message_modules.h"
#include "winsim/signing.h"
#include "winsim/system_libraries.h"

namespace vantel::platform {

namespace {

// A loaded library: a shared object of the host, one that winsim implements itself, or a
// message module mapped as a data file.
struct SimLibrary {
    void* shared = nullptr;
    const winsim::SystemLibrary* builtIn = nullptr;
    std::shared_ptr<const winsim::MessageTable> messages{};
};

LibraryHandle Wrap(SimLibrary library) {
    auto* handle = new (std::nothrow) SimLibrary(std::move(library));
    if (handle == nullptr) {
        if (library.shared) dlclose(library.shared);
        winsim::SetLastError(kErrorOutOfMemory);
    }
    return handle;
}

}  // namespace

LibraryHandle LoadLibraryByPath(const std::u16string& fullPath) {
    std::string host = winsim::HostPath(fullPath);
    void* shared = host.empty() ? nullptr : dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (shared == nullptr) {
        winsim::SetLastError(kErrorModNotFound);
        return nullptr;
    }
    return Wrap({.shared = shared});
}

LibraryHandle LoadSystemLibrary(const std::u16string& fileName) {
    const winsim::SystemLibrary* builtIn = winsim::LoadBuiltInLibrary(fileName);
    return builtIn ? Wrap({.builtIn = builtIn}) : nullptr;
}

LibraryHandle LoadLibraryAsDataFile(const std::u16string& path) {
    std::shared_ptr<const winsim::MessageTable> messages = winsim::LoadMessageModule(path);
    if (!messages) {
        winsim::SetLastError(kErrorModNotFound);
        return nullptr;
    }
    return Wrap({.messages = std::move(messages)});
}

int32_t FormatMessageFromLibrary(LibraryHandle library, uint32_t messageId, const std::vector<std::u16string>* inserts,
                                 std::u16string* text) {
    auto* loaded = static_cast<SimLibrary*>(library);
    return winsim::FormatMessage(loaded ? loaded->messages.get() : nullptr, messageId, inserts, text);
}

void* GetLibraryProcedure(LibraryHandle library, const char* name) {
    auto* loaded = static_cast<SimLibrary*>(library);
    if (loaded == nullptr || loaded->messages) {
        winsim::SetLastError(kErrorInvalidHandle);
        return nullptr;
    }
    if (loaded->builtIn) return winsim::BuiltInProcedure(loaded->builtIn, name);
    void* procedure = dlsym(loaded->shared, name);
    if (procedure == nullptr) winsim::SetLastError(kErrorProcNotFound);
    return procedure;
}

void FreeLibraryHandle(LibraryHandle library) {
    auto* loaded = static_cast<SimLibrary*>(library);
    if (loaded && loaded->shared) dlclose(loaded->shared);
    delete loaded;
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

uint32_t LastError() { return winsim::GetLastError(); }

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
