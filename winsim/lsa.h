// The local security authority's audit policy on the simulated machine.
#pragma once
#include <cstdint>
#include <vector>

namespace winsim {

struct AuditPolicy {
    bool auditingMode = false;
    std::vector<uint32_t> options = std::vector<uint32_t>(9, 0);  // one per audit category
};

AuditPolicy GetAuditPolicy();
void SetAuditPolicy(const AuditPolicy& policy);

// Fault injection: the next open, query or write answers this NTSTATUS (0 clears it).
enum class LsaStep { Open, Query, Set };
void FailLsa(LsaStep step, int32_t status);
int32_t LsaFailure(LsaStep step);

}  // namespace winsim
