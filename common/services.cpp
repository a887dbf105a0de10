#include <new>
#include <vector>

#include "common/format.h"
#include "common/path.h"
#include "common/system_helpers.h"
#include "common/text.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "plugin/trace.h"

namespace vantel {

namespace {

// The executable of a command line: up to the first space outside quotes, without the quotes.
std::u16string ExecutableOf(const std::u16string& commandLine) {
    std::u16string executable;
    bool quoted = false;
    for (char16_t c : commandLine) {
        if (c == u'"') quoted = !quoted;
        else if (c == u' ' && !quoted) break;
        else executable += c;
    }
    return executable;
}

}  // namespace

int GetServiceInfo(const std::u16string& serviceName, ServiceInfo* info) {
    if (info == nullptr) return 0;
    const std::u16string serviceHost = PathAppend(platform::SystemDirectory(), u"svchost.exe");

    platform::ServiceHandle manager;
    if (int32_t error = platform::OpenServiceManager(platform::ManagerAccess::All, &manager)) {
        TraceError(u"OpenSCManager failed (%d)\n", error);
        return 0;
    }
    platform::ServiceHandle service;
    if (int32_t error = platform::OpenServiceForQuery(manager, serviceName, &service)) {
        TraceError(u"OpenService failed (%d)\n", error);
        return 0;
    }
    uint32_t processId = 0;
    if (int32_t error = platform::QueryServiceProcessId(service, &processId)) {
        TraceError(u"QueryServiceStatusEx failed (%d)\n", error);
        return 0;
    }
    uint32_t needed = 0;
    std::u16string commandLine;
    int32_t error = platform::QueryServiceBinaryPath(service, {}, &needed, &commandLine);
    bool sized = error == platform::kErrorInsufficientBuffer;
    if (sized) {
        std::vector<uint8_t> buffer(needed);
        error = platform::QueryServiceBinaryPath(service, buffer, &needed, &commandLine);
    }
    if (!sized || error != platform::kErrorSuccess) {
        TraceError(u"QueryServiceConfig failed (%d)", error);
        return 0;
    }

    info->commandLine = commandLine;
    info->imageFileName = ExecutableOf(commandLine);
    info->processId = processId;
    info->hosted = EqualsIgnoreCase(info->imageFileName, serviceHost);
    std::u16string serviceDll;
    if (info->hosted &&
        platform::RegReadString(platform::RegRoot::LocalMachine,
                                Format(u"SYSTEM\\CurrentControlSet\\Services\\%s\\Parameters", serviceName),
                                u"ServiceDll", &serviceDll) == platform::kErrorSuccess)
        info->imageFileName = serviceDll;
    return 1;
}

int GetServiceInfoByDisplayName(const std::u16string& displayName, ServiceInfo* info) {
    platform::ServiceHandle manager;
    if (int32_t error = platform::OpenServiceManager(platform::ManagerAccess::Enumerate, &manager)) {
        TraceError(u"OpenSCManager fail(%ld)", error);
        return 0;
    }
    uint32_t needed = 0;
    std::vector<platform::ServiceNames> services;
    int32_t error = platform::EnumerateServices(manager, {}, &needed, &services);
    if (error == platform::kErrorMoreData) {
        std::vector<uint8_t> buffer;
        try {
            buffer.resize(needed);
        } catch (const std::bad_alloc&) {
            TraceError(u"lpServices = new BYTE[%ld] -> fail(%ld)\n", needed, error);
            return 0;
        }
        error = platform::EnumerateServices(manager, buffer, &needed, &services);
    }
    if (error != platform::kErrorSuccess) return 0;
    for (const platform::ServiceNames& service : services) {
        if (service.displayName != displayName) continue;
        TraceInfo(u"EnumServicesStatusEx find %s", service.serviceName);
        return GetServiceInfo(service.serviceName, info);
    }
    return 0;
}

}  // namespace vantel
