#include <dlfcn.h>

#include <cstdlib>

#include "agentlibs/quaymar/log_registry.h"

namespace quaymar {

std::filesystem::path OwnFilePath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OwnFilePath), &info) == 0 || info.dli_fname == nullptr) return {};
    std::error_code error;
    std::filesystem::path path = std::filesystem::canonical(info.dli_fname, error);
    return error ? std::filesystem::path() : path;
}

std::filesystem::path EnvironmentPath(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::filesystem::path(value) : std::filesystem::path();
}

}  // namespace quaymar
