#include "winsim/signing.h"

#include <filesystem>
#include <map>
#include <mutex>

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

std::string Canonical(const std::string& hostPath) {
    std::error_code error;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(hostPath, error);
    return error ? hostPath : canonical.string();
}

}  // namespace

void SetFileSigner(const std::string& hostPath, const std::string& signer) {
    std::lock_guard guard(SignersLock());
    Signers()[Canonical(hostPath)] = signer;
}

std::string FileSigner(const std::string& hostPath) {
    std::lock_guard guard(SignersLock());
    auto found = Signers().find(Canonical(hostPath));
    return found == Signers().end() ? std::string() : found->second;
}

}  // namespace winsim
