#include "platform/services.h"

#include <windows.h>

namespace vantel::platform {

namespace {

int32_t LastError() { return static_cast<int32_t>(GetLastError()); }

SC_HANDLE HandleOf(const ServiceHandle& handle) { return static_cast<SC_HANDLE>(handle.get()); }

std::u16string Text(const wchar_t* text) {
    return text ? std::u16string(reinterpret_cast<const char16_t*>(text)) : std::u16string();
}

}  // namespace

void ReleaseServiceHandle(void* handle) { ::CloseServiceHandle(static_cast<SC_HANDLE>(handle)); }

int32_t OpenServiceManager(ManagerAccess access, ServiceHandle* manager) {
    DWORD rights = access == ManagerAccess::All ? SC_MANAGER_ALL_ACCESS : SC_MANAGER_ENUMERATE_SERVICE;
    SC_HANDLE handle = OpenSCManagerW(nullptr, nullptr, rights);
    if (handle == nullptr) return LastError();
    *manager = ServiceHandle(handle);
    return ERROR_SUCCESS;
}

int32_t OpenServiceForQuery(const ServiceHandle& manager, const std::u16string& name, ServiceHandle* service) {
    SC_HANDLE handle = OpenServiceW(HandleOf(manager), reinterpret_cast<const wchar_t*>(name.c_str()),
                                    SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    if (handle == nullptr) return LastError();
    *service = ServiceHandle(handle);
    return ERROR_SUCCESS;
}

int32_t QueryServiceProcessId(const ServiceHandle& service, uint32_t* processId) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(HandleOf(service), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof(status), &needed))
        return LastError();
    *processId = status.dwProcessId;
    return ERROR_SUCCESS;
}

int32_t QueryServiceBinaryPath(const ServiceHandle& service, std::span<uint8_t> buffer, uint32_t* bytesNeeded,
                               std::u16string* binaryPath) {
    auto* config = buffer.empty() ? nullptr : reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD needed = 0;
    BOOL done = QueryServiceConfigW(HandleOf(service), config, static_cast<DWORD>(buffer.size()), &needed);
    *bytesNeeded = needed;
    if (!done) return LastError();
    *binaryPath = config ? Text(config->lpBinaryPathName) : std::u16string();
    return ERROR_SUCCESS;
}

int32_t EnumerateServices(const ServiceHandle& manager, std::span<uint8_t> buffer, uint32_t* bytesNeeded,
                          std::vector<ServiceNames>* services) {
    services->clear();
    DWORD resume = 0;
    for (;;) {
        DWORD needed = 0, count = 0;
        BOOL done = EnumServicesStatusExW(HandleOf(manager), SC_ENUM_PROCESS_INFO, SERVICE_DRIVER | SERVICE_WIN32,
                                          SERVICE_STATE_ALL, buffer.empty() ? nullptr : buffer.data(),
                                          static_cast<DWORD>(buffer.size()), &needed, &count, &resume, nullptr);
        int32_t error = done ? ERROR_SUCCESS : LastError();
        const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
        for (DWORD i = 0; i < count; ++i)
            services->push_back({Text(entries[i].lpServiceName), Text(entries[i].lpDisplayName)});
        // The manager hands out at most 256 KB at a time; the rest follows from the resume point.
        if (error == ERROR_MORE_DATA && count > 0) continue;
        *bytesNeeded = needed;
        return error;
    }
}

}  // namespace vantel::platform
