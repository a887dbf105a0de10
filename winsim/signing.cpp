#include "winsim/signing.h"

#include <map>
#include <mutex>

#include "winsim/files.h"

namespace winsim {

namespace {

std::mutex& SignersLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::string, std::string>& Signers() {
    static std::map<std::string, std::string> signers;
    return signers;
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
