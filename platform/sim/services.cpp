#include "platform/services.h"

#include "winsim/services.h"

namespace vantel::platform {

namespace {

uintptr_t HandleOf(const ServiceHandle& handle) { return reinterpret_cast<uintptr_t>(handle.get()); }

// The enumeration's type mask: drivers and both kinds of process services.
constexpr uint32_t kDriversAndProcesses = winsim::kServiceKernelDriver | winsim::kServiceFileSystemDriver |
                                          winsim::kServiceOwnProcess | winsim::kServiceShareProcess;

}  // namespace

void ReleaseServiceHandle(void* handle) { winsim::CloseServiceHandle(reinterpret_cast<uintptr_t>(handle)); }

int32_t OpenServiceManager(ManagerAccess, ServiceHandle* manager) {
    uintptr_t handle = 0;
    int32_t error = winsim::OpenManager(&handle);
    if (error == kErrorSuccess) *manager = ServiceHandle(reinterpret_cast<void*>(handle));
    return error;
}

int32_t OpenServiceForQuery(const ServiceHandle& manager, const std::u16string& name, ServiceHandle* service) {
    uintptr_t handle = 0;
    int32_t error = winsim::OpenService(HandleOf(manager), name, &handle);
    if (error == kErrorSuccess) *service = ServiceHandle(reinterpret_cast<void*>(handle));
    return error;
}

int32_t QueryServiceProcessId(const ServiceHandle& service, uint32_t* processId) {
    return winsim::QueryProcessId(HandleOf(service), processId);
}

int32_t QueryServiceBinaryPath(const ServiceHandle& service, std::span<uint8_t> buffer, uint32_t* bytesNeeded,
                               std::u16string* binaryPath) {
    return winsim::QueryCommandLine(HandleOf(service), static_cast<uint32_t>(buffer.size()), bytesNeeded, binaryPath);
}

int32_t EnumerateServices(const ServiceHandle& manager, std::span<uint8_t> buffer, uint32_t* bytesNeeded,
                          std::vector<ServiceNames>* services) {
    std::vector<winsim::ServiceEntry> entries;
    int32_t error = winsim::EnumerateServices(HandleOf(manager), kDriversAndProcesses,
                                              static_cast<uint32_t>(buffer.size()), bytesNeeded, &entries);
    if (error != kErrorSuccess) return error;
    services->clear();
    for (const winsim::ServiceEntry& entry : entries) services->push_back({entry.name, entry.displayName});
    return kErrorSuccess;
}

}  // namespace vantel::platform
