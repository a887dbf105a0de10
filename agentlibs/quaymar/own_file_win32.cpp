#include <windows.h>

#include <cstdlib>
#include <string>

#include "agentlibs/quaymar/log_registry.h"

namespace quaymar {

std::filesystem::path OwnFilePath() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&OwnFilePath), &self))
        return {};
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(self, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return std::filesystem::path(buffer.substr(0, length));
        buffer.resize(buffer.size() * 2);
    }
}

std::filesystem::path EnvironmentPath(const char* name) {
    const wchar_t* value = _wgetenv(std::wstring(name, name + std::char_traits<char>::length(name)).c_str());
    return value ? std::filesystem::path(value) : std::filesystem::path();
}

}  // namespace quaymar
