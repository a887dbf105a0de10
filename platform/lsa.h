// The local security authority's audit policy and account domain, in the shape of the Windows
// calls; results are NTSTATUS codes (0 success).
#pragma once
#include <cstdint>
#include <vector>

#include "platform/accounts.h"

namespace vantel::platform {

constexpr uint32_t kPolicyViewLocalInformation = 0x1;
constexpr uint32_t kPolicyViewAuditInformation = 0x2;
constexpr uint32_t kPolicySetAuditRequirements = 0x100;

constexpr uint32_t kAuditOptionUnchanged = 0;
constexpr uint32_t kAuditOptionSuccessAndFailure = 3;
constexpr uint32_t kAuditOptionNone = 4;

// The audit-events information: whether auditing is on and one option per category.
struct AuditEventsInfo {
    bool auditingMode = false;
    std::vector<uint32_t> options;
};

class LsaPolicy {
public:
    LsaPolicy() = default;
    ~LsaPolicy();
    LsaPolicy(const LsaPolicy&) = delete;
    LsaPolicy& operator=(const LsaPolicy&) = delete;

    // LsaOpenPolicy on the local computer.
    int32_t Open(uint32_t access);
    int32_t QueryAuditEvents(AuditEventsInfo* info) const;
    int32_t SetAuditEvents(const AuditEventsInfo& info) const;
    // The identifier of this computer's account domain (PolicyAccountDomainInformation).
    int32_t QueryAccountDomainSid(Sid* sid) const;

private:
    void* handle_ = nullptr;
};

}  // namespace vantel::platform
