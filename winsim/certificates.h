// Root certificate stores of the simulated machine, one per user: a thread opens the store of
// the user it impersonates, or of the process's own account.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

struct Certificate {
    std::u16string issuer;        // simple display names
    std::u16string subject;
    std::u16string friendlyName;  // empty: the friendly name falls back to the subject's
    std::vector<uint8_t> sha1;    // the SHA-1 hash property, 20 bytes
    uint64_t notBefore = 0;       // 100-ns ticks since 1601-01-01 UTC
    uint64_t notAfter = 0;
};

// The process's own account, the store of a thread that impersonates nobody.
inline constexpr char16_t kProcessAccount[] = u"";

// Control, for tests and scenarios.
void AddRootCertificate(const std::u16string& user, const Certificate& certificate);
std::vector<Certificate> RootCertificates(const std::u16string& user);
// Makes opening a store fail with the Windows error until cleared with 0.
void FailOpenCertStore(int32_t error);
// Called before each certificate a walk of a store hands out.
void OnCertificateEnumerated(std::function<void()> hook);
// No certificates, failures or hook; handles still open stay open.
void ResetCertificates();
size_t OpenCertHandleCount();

// The machine's side. Only the store named "root" (any case) exists.
int32_t OpenRootStore(const std::u16string& name, uintptr_t* store);
bool CloseCertStore(uintptr_t store);
// Frees the previous context (0 for none) and answers the next, or 0 at the end.
uintptr_t EnumCertificates(uintptr_t store, uintptr_t previous);
std::optional<Certificate> CertificateOf(uintptr_t context);
uintptr_t DuplicateCertificateContext(uintptr_t context);
bool FreeCertificateContext(uintptr_t context);
int32_t FindCertificateBySha1(uintptr_t store, const std::vector<uint8_t>& hash, uintptr_t* context);
// Deletes the context's certificate from its store and frees the context.
int32_t DeleteCertificate(uintptr_t context);

}  // namespace winsim
