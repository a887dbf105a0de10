// The service control manager of the simulated machine. A hosted service's "ServiceDll" lives
// in the registry, as on Windows (HKLM "SYSTEM\CurrentControlSet\Services\<name>\Parameters").
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace winsim {

// Numbered as the service manager numbers them.
enum class ServiceState : uint32_t { Stopped = 1, StartPending = 2, StopPending = 3, Running = 4 };
// Service types, also combined as masks of the enumeration.
constexpr uint32_t kServiceKernelDriver = 0x01;
constexpr uint32_t kServiceFileSystemDriver = 0x02;
constexpr uint32_t kServiceOwnProcess = 0x10;
constexpr uint32_t kServiceShareProcess = 0x20;

struct ServiceEntry {
    std::u16string name;
    std::u16string displayName;
    std::u16string commandLine;  // the configured binary path, arguments included
    uint32_t processId = 0;      // reported only while the service is not stopped
    ServiceState state = ServiceState::Running;
    uint32_t type = kServiceOwnProcess;
};

enum class ServiceCall { OpenManager, OpenService, QueryStatus, QueryConfig, Enumerate };

// Control, for tests and scenarios.
void AddService(const ServiceEntry& service);  // replaces the service of the same name
// Makes every later call of the kind fail with the Windows error until cleared with 0.
void FailServiceCall(ServiceCall call, int32_t error);
// No services and no failures; handles still open stay open.
void ResetServices();
size_t OpenServiceHandleCount();

// The machine's side, for the platform backend. Sizes are those of the 32-bit Windows structures.
int32_t OpenManager(uintptr_t* manager);
int32_t OpenService(uintptr_t manager, const std::u16string& name, uintptr_t* service);
int32_t QueryProcessId(uintptr_t service, uint32_t* processId);
int32_t QueryCommandLine(uintptr_t service, uint32_t bufferBytes, uint32_t* bytesNeeded, std::u16string* commandLine);
// The services of the types in the mask, in the order of their names.
int32_t EnumerateServices(uintptr_t manager, uint32_t typeMask, uint32_t bufferBytes, uint32_t* bytesNeeded,
                          std::vector<ServiceEntry>* services);
bool CloseServiceHandle(uintptr_t handle);

}  // namespace winsim
