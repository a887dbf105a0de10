#include "platform/certificates.h"

#include <windows.h>
#include <wincrypt.h>

namespace vantel::platform {

namespace {

int32_t LastError() { return static_cast<int32_t>(GetLastError()); }

PCCERT_CONTEXT Context(const CertContext& context) { return static_cast<PCCERT_CONTEXT>(context.get()); }

uint64_t Ticks(const FILETIME& time) { return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

}  // namespace

void CloseCertStore(void* store) { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }

void FreeCertContext(void* context) { CertFreeCertificateContext(static_cast<PCCERT_CONTEXT>(context)); }

int32_t OpenSystemStore(const std::u16string& name, CertStore* store) {
    HCERTSTORE handle = CertOpenSystemStoreW(0, reinterpret_cast<LPCWSTR>(name.c_str()));
    if (handle == nullptr) return LastError();
    *store = CertStore(handle);
    return ERROR_SUCCESS;
}

int32_t OpenCurrentUserSystemStore(const std::u16string& name, CertStore* store) {
    HCERTSTORE handle = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                      CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_MAXIMUM_ALLOWED_FLAG, name.c_str());
    if (handle == nullptr) return LastError();
    *store = CertStore(handle);
    return ERROR_SUCCESS;
}

bool EnumCertificatesInStore(const CertStore& store, CertContext* context) {
    // The call frees the previous context itself.
    auto* previous = static_cast<PCCERT_CONTEXT>(context->release());
    *context = CertContext(const_cast<CERT_CONTEXT*>(
        CertEnumCertificatesInStore(static_cast<HCERTSTORE>(store.get()), previous)));
    return static_cast<bool>(*context);
}

uint32_t GetCertNameString(const CertContext& context, uint32_t type, uint32_t flags, char16_t* buffer,
                           uint32_t length) {
    return CertGetNameStringW(Context(context), type, flags, nullptr, reinterpret_cast<LPWSTR>(buffer), length);
}

int32_t GetCertContextProperty(const CertContext& context, uint32_t id, void* data, uint32_t* size) {
    DWORD bytes = data != nullptr ? *size : 0;
    if (!CertGetCertificateContextProperty(Context(context), id, data, &bytes)) return LastError();
    *size = bytes;
    return ERROR_SUCCESS;
}

void GetCertValidity(const CertContext& context, uint64_t* notBefore, uint64_t* notAfter) {
    *notBefore = Ticks(Context(context)->pCertInfo->NotBefore);
    *notAfter = Ticks(Context(context)->pCertInfo->NotAfter);
}

int32_t FindCertificateBySha1(const CertStore& store, const uint8_t* hash, uint32_t length, CertContext* found) {
    CRYPT_HASH_BLOB blob{length, const_cast<BYTE*>(hash)};
    PCCERT_CONTEXT match = CertFindCertificateInStore(static_cast<HCERTSTORE>(store.get()),
                                                      X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH,
                                                      &blob, nullptr);
    // Not every implementation sets an error when nothing matches.
    if (match == nullptr) return LastError() != ERROR_SUCCESS ? LastError() : static_cast<int32_t>(CRYPT_E_NOT_FOUND);
    *found = CertContext(const_cast<CERT_CONTEXT*>(match));
    return ERROR_SUCCESS;
}

int32_t DeleteCertificateFromStore(const CertStore& store, const CertContext& context) {
    // The call frees the duplicate, whatever it answers.
    if (!CertDeleteCertificateFromStore(CertDuplicateCertificateContext(Context(context)))) return LastError();
    // Wine writes a registry store out only when its last reference goes, and a deletion from the
    // root collection keeps one: commit, so the certificate is gone for everyone now.
    CertControlStore(static_cast<HCERTSTORE>(store.get()), 0, CERT_STORE_CTRL_COMMIT, nullptr);
    return ERROR_SUCCESS;
}

}  // namespace vantel::platform
