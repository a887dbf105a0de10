#include "winsim/signing.h"

#include <map>
#include <mutex>

#include "winsim/files.h"

namespace winsim {

namespace {

std::mutex& SignersLock() {
    // Never destroyed, like all of the machine: the module's threads may use it while the process ends.
    static auto* const lock = new std::mutex;
    return *lock;
}

std::map<std::string, std::string>& Signers() {
    static auto* const signers = new std::map<std::string, std::string>;
    return *signers;
}

}  // namespace

void SetFileSigner(const std::string& hostPath, const std::string& signer) {
    std::lock_guard guard(SignersLock());
    Signers()[CanonicalHostPath(hostPath)] = signer;
}

std::string FileSigner(const std::string& hostPath) {
    std::lock_guard guard(SignersLock());
    auto found = Signers().find(CanonicalHostPath(hostPath));
    return found == Signers().end() ? std::string() : found->second;
}

}  // namespace winsim
