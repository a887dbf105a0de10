#include "platform/lsa.h"

#include <windows.h>
#include <ntsecapi.h>

namespace vantel::platform {

LsaPolicy::~LsaPolicy() {
    if (handle_) LsaClose(handle_);
}

int32_t LsaPolicy::Open(uint32_t access) {
    LSA_OBJECT_ATTRIBUTES attributes{};
    LSA_HANDLE handle = nullptr;
    NTSTATUS status = LsaOpenPolicy(nullptr, &attributes, access, &handle);
    if (status == 0) handle_ = handle;
    return status;
}

int32_t LsaPolicy::QueryAuditEvents(AuditEventsInfo* info) const {
    void* buffer = nullptr;
    NTSTATUS status = LsaQueryInformationPolicy(handle_, PolicyAuditEventsInformation, &buffer);
    if (status != 0) return status;
    auto* events = static_cast<POLICY_AUDIT_EVENTS_INFO*>(buffer);
    info->auditingMode = events->AuditingMode != FALSE;
    info->options.assign(events->EventAuditingOptions, events->EventAuditingOptions + events->MaximumAuditEventCount);
    LsaFreeMemory(buffer);
    return 0;
}

int32_t LsaPolicy::SetAuditEvents(const AuditEventsInfo& info) const {
    std::vector<POLICY_AUDIT_EVENT_OPTIONS> options(info.options.begin(), info.options.end());
    POLICY_AUDIT_EVENTS_INFO events{};
    events.AuditingMode = info.auditingMode ? TRUE : FALSE;
    events.EventAuditingOptions = options.data();
    events.MaximumAuditEventCount = static_cast<ULONG>(options.size());
    return LsaSetInformationPolicy(handle_, PolicyAuditEventsInformation, &events);
}

int32_t LsaPolicy::QueryAccountDomainSid(Sid* sid) const {
    void* buffer = nullptr;
    NTSTATUS status = LsaQueryInformationPolicy(handle_, PolicyAccountDomainInformation, &buffer);
    if (status != 0) return status;
    PSID domain = static_cast<POLICY_ACCOUNT_DOMAIN_INFO*>(buffer)->DomainSid;
    if (domain != nullptr && ::IsValidSid(domain)) {
        auto* bytes = static_cast<const uint8_t*>(domain);
        sid->assign(bytes, bytes + GetLengthSid(domain));
    } else {
        sid->clear();  // a machine without an account domain
    }
    LsaFreeMemory(buffer);
    return 0;
}

}  // namespace vantel::platform
