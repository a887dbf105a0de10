#include "winsim/lsa.h"

#include <mutex>

namespace winsim {

namespace {

struct Lsa {
    std::mutex lock;
    AuditPolicy policy;
    int32_t failures[3] = {0, 0, 0};
};

Lsa& TheLsa() {
    // Never destroyed, like all of the machine: the module's threads may use it while the process ends.
    static Lsa* const lsa = new Lsa;
    return *lsa;
}

}  // namespace

AuditPolicy GetAuditPolicy() {
    std::lock_guard guard(TheLsa().lock);
    return TheLsa().policy;
}

void SetAuditPolicy(const AuditPolicy& policy) {
    std::lock_guard guard(TheLsa().lock);
    TheLsa().policy = policy;
}

void FailLsa(LsaStep step, int32_t status) {
    std::lock_guard guard(TheLsa().lock);
    TheLsa().failures[static_cast<int>(step)] = status;
}

int32_t LsaFailure(LsaStep step) {
    std::lock_guard guard(TheLsa().lock);
    return TheLsa().failures[static_cast<int>(step)];
}

}  // namespace winsim
