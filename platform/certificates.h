// Certificate stores and their certificates, in the shape of the CryptoAPI calls; results are
// Windows error codes. Stores open as the calling thread's user, impersonated or not.
#pragma once
#include <cstdint>
#include <string>

#include "platform/handle.h"

namespace vantel::platform {

void CloseCertStore(void* store);
void FreeCertContext(void* context);
using CertStore = UniqueHandle<CloseCertStore>;
using CertContext = UniqueHandle<FreeCertContext>;

// CertOpenSystemStoreW with no provider.
int32_t OpenSystemStore(const std::u16string& name, CertStore* store);
// CertOpenStore of the system-store provider, X.509 and PKCS #7 encoding, flags current-user
// system store and maximum allowed.
int32_t OpenCurrentUserSystemStore(const std::u16string& name, CertStore* store);

// CertEnumCertificatesInStore: replaces the context with the store's next certificate (the first
// when it is empty); false, with the context empty, at the end.
bool EnumCertificatesInStore(const CertStore& store, CertContext* context);

constexpr uint32_t kCertNameSimpleDisplayType = 4;
constexpr uint32_t kCertNameFriendlyDisplayType = 5;
constexpr uint32_t kCertNameIssuerFlag = 1;
// CertGetNameStringW: the characters written, terminator included (1 for no name).
uint32_t GetCertNameString(const CertContext& context, uint32_t type, uint32_t flags, char16_t* buffer,
                           uint32_t length);

constexpr uint32_t kCertSha1HashPropId = 3;
// CertGetCertificateContextProperty: with no data it only answers the size.
int32_t GetCertContextProperty(const CertContext& context, uint32_t id, void* data, uint32_t* size);

// The certificate's NotBefore and NotAfter, in 100-ns ticks since 1601-01-01 UTC.
void GetCertValidity(const CertContext& context, uint64_t* notBefore, uint64_t* notAfter);

// CertFindCertificateInStore by SHA-1 hash, from the store's start.
int32_t FindCertificateBySha1(const CertStore& store, const uint8_t* hash, uint32_t length, CertContext* found);
// CertDeleteCertificateFromStore on a duplicate of the context, which stays the caller's; the
// store's change is committed at once.
int32_t DeleteCertificateFromStore(const CertStore& store, const CertContext& context);

}  // namespace vantel::platform
