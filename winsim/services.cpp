#include "winsim/services.h"

#include <map>
#include <mutex>
#include <optional>

#include "common/text.h"
#include "platform/errors.h"
#include "winsim/handles.h"

namespace winsim {

using namespace vantel::platform;  // the Windows error codes

namespace {

// Sizes of QUERY_SERVICE_CONFIGW and ENUM_SERVICE_STATUS_PROCESSW on 32-bit Windows.
constexpr uint32_t kConfigBytes = 36;
constexpr uint32_t kEnumEntryBytes = 44;

uint32_t TextBytes(const std::u16string& text) { return static_cast<uint32_t>((text.size() + 1) * 2); }

struct Manager {
    std::mutex lock;
    std::map<std::u16string, ServiceEntry> services;  // by folded name
    std::map<ServiceCall, int32_t> failures;
    HandleTable<std::u16string> handles;  // the folded service name; empty for the manager
};

// Never destroyed: handles held by the module's statics are released after ours would be.
Manager& TheManager() {
    static Manager* manager = new Manager;
    return *manager;
}

int32_t FailureOf(Manager& manager, ServiceCall call) {
    auto found = manager.failures.find(call);
    return found == manager.failures.end() ? 0 : found->second;
}

// The service behind a service handle; the lock is held.
const ServiceEntry* ServiceOf(Manager& manager, uintptr_t handle) {
    std::optional<std::u16string> name = manager.handles.Get(handle);
    if (!name || name->empty()) return nullptr;
    auto found = manager.services.find(*name);
    return found == manager.services.end() ? nullptr : &found->second;
}

}  // namespace

void AddService(const ServiceEntry& service) {
    Manager& manager = TheManager();
    std::lock_guard guard(manager.lock);
    manager.services[vantel::FoldCase(service.name)] = service;
}

void FailServiceCall(ServiceCall call, int32_t error) {
    Manager& manager = TheManager();
    std::lock_guard guard(manager.lock);
    manager.failures[call] = error;
}

void ResetServices() {
    Manager& manager = TheManager();
    std::lock_guard guard(manager.lock);
    manager.services.clear();
    manager.failures.clear();
}

size_t OpenServiceHandleCount() { return TheManager().handles.Count(); }

int32_t OpenManager(uintptr_t* handle) {
    Manager& manager = TheManager();
    std::lock_guard guard(manager.lock);
    if (int32_t failure = FailureOf(manager, ServiceCall::OpenManager)) return failure;
    *handle = manager.handles.Open(u"");
    return kErrorSuccess;
}

int32_t OpenService(uintptr_t managerHandle, const std::u16string& name, uintptr_t* service) {
    Manager& manager = TheManager();
    std::lock_guard guard(manager.lock);
    std::optional<std::u16string> opened = manager.handles.Get(managerHandle);
    if (!opened || !opened->empty()) return kErrorInvalidHandle;
    if (int32_t failure = FailureOf(manager, ServiceCall::OpenService)) return failure;
    std::u16string folded = vantel::FoldCase(name);
    if (manager.services.count(folded) == 0) return kErrorServiceDoesNotExist;
    *service = manager.handles.Open(folded);
    return kErrorSuccess;
}

int32_t QueryProcessId(uintptr_t handle, uint32_t* processId) {
    Manager& manager = TheManager();
    std::lock_guard guard(manager.lock);
    const ServiceEntry* service = ServiceOf(manager, handle);
    if (service == nullptr) return kErrorInvalidHandle;
    if (int32_t failure = FailureOf(manager, ServiceCall::QueryStatus)) return failure;
    *processId = service->state == ServiceState::Stopped ? 0 : service->processId;
    return kErrorSuccess;
}

int32_t QueryCommandLine(uintptr_t handle, uint32_t bufferBytes, uint32_t* bytesNeeded, std::u16string* commandLine) {
    Manager& manager = TheManager();
    std::lock_guard guard(manager.lock);
    const ServiceEntry* service = ServiceOf(manager, handle);
    if (service == nullptr) return kErrorInvalidHandle;
    if (int32_t failure = FailureOf(manager, ServiceCall::QueryConfig)) return failure;
    *bytesNeeded = kConfigBytes + TextBytes(service->commandLine) + TextBytes(service->displayName);
    if (bufferBytes < *bytesNeeded) return kErrorInsufficientBuffer;
    *commandLine = service->commandLine;
    return kErrorSuccess;
}

int32_t EnumerateServices(uintptr_t managerHandle, uint32_t typeMask, uint32_t bufferBytes, uint32_t* bytesNeeded,
                          std::vector<ServiceEntry>* services) {
    Manager& manager = TheManager();
    std::lock_guard guard(manager.lock);
    std::optional<std::u16string> opened = manager.handles.Get(managerHandle);
    if (!opened || !opened->empty()) return kErrorInvalidHandle;
    if (int32_t failure = FailureOf(manager, ServiceCall::Enumerate)) return failure;
    std::vector<ServiceEntry> listed;
    *bytesNeeded = 0;
    for (const auto& [name, service] : manager.services) {
        if ((service.type & typeMask) == 0) continue;
        listed.push_back(service);
        *bytesNeeded += kEnumEntryBytes + TextBytes(service.name) + TextBytes(service.displayName);
    }
    if (bufferBytes < *bytesNeeded) return kErrorMoreData;
    *services = std::move(listed);
    return kErrorSuccess;
}

bool CloseServiceHandle(uintptr_t handle) { return TheManager().handles.Close(handle); }

}  // namespace winsim
