#include "platform/lsa.h"

#include <cstddef>

#include "winsim/accounts.h"
#include "winsim/lsa.h"

namespace vantel::platform {

namespace {
int g_policyObject;  // what an open policy handle points at
constexpr int32_t kStatusInvalidHandle = static_cast<int32_t>(0xC0000008);
}  // namespace

LsaPolicy::~LsaPolicy() = default;

int32_t LsaPolicy::Open(uint32_t) {
    if (int32_t status = winsim::LsaFailure(winsim::LsaStep::Open)) return status;
    handle_ = &g_policyObject;
    return 0;
}

int32_t LsaPolicy::QueryAuditEvents(AuditEventsInfo* info) const {
    if (handle_ == nullptr) return kStatusInvalidHandle;
    if (int32_t status = winsim::LsaFailure(winsim::LsaStep::Query)) return status;
    winsim::AuditPolicy policy = winsim::GetAuditPolicy();
    info->auditingMode = policy.auditingMode;
    info->options = policy.options;
    return 0;
}

int32_t LsaPolicy::SetAuditEvents(const AuditEventsInfo& info) const {
    if (handle_ == nullptr) return kStatusInvalidHandle;
    if (int32_t status = winsim::LsaFailure(winsim::LsaStep::Set)) return status;
    winsim::AuditPolicy policy = winsim::GetAuditPolicy();
    policy.auditingMode = info.auditingMode;
    // As on Windows, "unchanged" leaves a category's option as it was.
    for (size_t i = 0; i < info.options.size() && i < policy.options.size(); ++i)
        if (info.options[i] != 0) policy.options[i] = info.options[i];
    winsim::SetAuditPolicy(policy);
    return 0;
}

int32_t LsaPolicy::QueryAccountDomainSid(Sid* sid) const {
    if (handle_ == nullptr) return kStatusInvalidHandle;
    if (int32_t status = winsim::LsaFailure(winsim::LsaStep::Query)) return status;
    *sid = winsim::SidFromText(winsim::AccountDomainSid());
    return 0;
}

}  // namespace vantel::platform
