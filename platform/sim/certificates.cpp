#include "platform/certificates.h"

#include <algorithm>
#include <cstring>

#include "platform/errors.h"
#include "winsim/certificates.h"

namespace vantel::platform {

namespace {

uintptr_t HandleOf(const void* handle) { return reinterpret_cast<uintptr_t>(handle); }
void* Native(uintptr_t handle) { return reinterpret_cast<void*>(handle); }

}  // namespace

void CloseCertStore(void* store) { winsim::CloseCertStore(HandleOf(store)); }

void FreeCertContext(void* context) { winsim::FreeCertificateContext(HandleOf(context)); }

int32_t OpenSystemStore(const std::u16string& name, CertStore* store) {
    uintptr_t handle = 0;
    int32_t error = winsim::OpenRootStore(name, &handle);
    if (error == kErrorSuccess) *store = CertStore(Native(handle));
    return error;
}

int32_t OpenCurrentUserSystemStore(const std::u16string& name, CertStore* store) {
    return OpenSystemStore(name, store);
}

bool EnumCertificatesInStore(const CertStore& store, CertContext* context) {
    *context = CertContext(Native(winsim::EnumCertificates(HandleOf(store.get()), HandleOf(context->release()))));
    return static_cast<bool>(*context);
}

uint32_t GetCertNameString(const CertContext& context, uint32_t type, uint32_t flags, char16_t* buffer,
                           uint32_t length) {
    if (buffer == nullptr || length == 0) return 0;
    std::optional<winsim::Certificate> certificate = winsim::CertificateOf(HandleOf(context.get()));
    std::u16string name;
    if (certificate) {
        if (flags & kCertNameIssuerFlag)
            name = certificate->issuer;
        else if (type == kCertNameFriendlyDisplayType && !certificate->friendlyName.empty())
            name = certificate->friendlyName;
        else
            name = certificate->subject;
    }
    size_t copied = std::min<size_t>(name.size(), length - 1);
    std::copy_n(name.begin(), copied, buffer);
    buffer[copied] = u'\0';
    return static_cast<uint32_t>(copied + 1);
}

int32_t GetCertContextProperty(const CertContext& context, uint32_t id, void* data, uint32_t* size) {
    std::optional<winsim::Certificate> certificate = winsim::CertificateOf(HandleOf(context.get()));
    if (!certificate) return kErrorInvalidHandle;
    constexpr int32_t kCryptENotFound = static_cast<int32_t>(0x80092004);
    if (id != kCertSha1HashPropId || certificate->sha1.empty()) return kCryptENotFound;
    uint32_t needed = static_cast<uint32_t>(certificate->sha1.size());
    if (data == nullptr) {
        *size = needed;
        return kErrorSuccess;
    }
    if (*size < needed) {
        *size = needed;
        return kErrorMoreData;
    }
    std::memcpy(data, certificate->sha1.data(), needed);
    *size = needed;
    return kErrorSuccess;
}

void GetCertValidity(const CertContext& context, uint64_t* notBefore, uint64_t* notAfter) {
    std::optional<winsim::Certificate> certificate = winsim::CertificateOf(HandleOf(context.get()));
    *notBefore = certificate ? certificate->notBefore : 0;
    *notAfter = certificate ? certificate->notAfter : 0;
}

int32_t FindCertificateBySha1(const CertStore& store, const uint8_t* hash, uint32_t length, CertContext* found) {
    uintptr_t handle = 0;
    int32_t error = winsim::FindCertificateBySha1(HandleOf(store.get()), std::vector<uint8_t>(hash, hash + length),
                                                  &handle);
    if (error == kErrorSuccess) *found = CertContext(Native(handle));
    return error;
}

int32_t DeleteCertificateFromStore(const CertStore&, const CertContext& context) {
    uintptr_t duplicate = winsim::DuplicateCertificateContext(HandleOf(context.get()));
    if (duplicate == 0) return kErrorInvalidHandle;
    return winsim::DeleteCertificate(duplicate);
}

}  // namespace vantel::platform
