// The service control manager, in the shape of the Windows calls; results are Windows error codes.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/handle.h"

namespace vantel::platform {

void ReleaseServiceHandle(void* handle);
// A handle of the service manager or of one service.
using ServiceHandle = UniqueHandle<ReleaseServiceHandle>;

enum class ManagerAccess { All, Enumerate };

// OpenSCManager on the local computer.
int32_t OpenServiceManager(ManagerAccess access, ServiceHandle* manager);
// OpenService with the rights to query its configuration and status.
int32_t OpenServiceForQuery(const ServiceHandle& manager, const std::u16string& name, ServiceHandle* service);
// The process id of QueryServiceStatusEx (0 when the service has no process).
int32_t QueryServiceProcessId(const ServiceHandle& service, uint32_t* processId);
// The binary path (command line) of QueryServiceConfig, read through the buffer; a buffer too
// small answers 122 with the bytes needed.
int32_t QueryServiceBinaryPath(const ServiceHandle& service, std::span<uint8_t> buffer, uint32_t* bytesNeeded,
                               std::u16string* binaryPath);

struct ServiceNames {
    std::u16string serviceName;
    std::u16string displayName;
};

// EnumServicesStatusEx of drivers and process services in every state, read through the
// buffer; a buffer too small answers 234 (more data) with the bytes needed.
int32_t EnumerateServices(const ServiceHandle& manager, std::span<uint8_t> buffer, uint32_t* bytesNeeded,
                          std::vector<ServiceNames>* services);

}  // namespace vantel::platform
