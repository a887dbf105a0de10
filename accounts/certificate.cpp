#include "accounts/certificate.h"

#include <memory>
#include <new>

#include "common/system_helpers.h"
#include "platform/certificates.h"
#include "platform/errors.h"
#include "platform/locale.h"
#include "plugin/boundary.h"
#include "plugin/host_link.h"

namespace vantel {

namespace {

// Acts as the console user for the life of the object, so that the user's own store is read
// and changed; without one the thread keeps its own identity. Reverts before the token closes.
class ConsoleUserIdentity {
public:
    ConsoleUserIdentity() {
        uint32_t session = GetActiveSessionID();
        if (session == platform::kNoSession)
            TraceErrorText(u"[Certificate], GetActiveSessionID fail maybe user not login");
        token_ = GetCurUserToken(session);
        if (!token_) {
            // The helper keeps no error of its own: the one Windows gives for a session without a user.
            TraceError(u"[Certificate] GetCurUserToken NULL %08x", platform::kErrorNoToken);
            return;
        }
        impersonation_.emplace(token_);
        if (impersonation_->error() != platform::kErrorSuccess)
            TraceError(u"[Certificate] ImpersonateLoggedOnUser Fail %08x", impersonation_->error());
    }

private:
    platform::Token token_;
    std::optional<platform::Impersonation> impersonation_;
};

std::optional<std::u16string> NameOf(const platform::CertContext& context, uint32_t type, uint32_t flags,
                                     uint32_t length) {
    std::u16string buffer(length, u'\0');
    if (platform::GetCertNameString(context, type, flags, buffer.data(), length) == 0) return std::nullopt;
    return std::u16string(buffer.c_str());
}

std::u16string FingerprintOf(const platform::CertContext& context) {
    uint32_t size = 0;
    if (platform::GetCertContextProperty(context, platform::kCertSha1HashPropId, nullptr, &size) !=
        platform::kErrorSuccess)
        return {};
    std::unique_ptr<uint8_t[]> hash(new (std::nothrow) uint8_t[size]);
    if (!hash) {
        TraceErrorText(u"[Certificate] CertGetCertificateContextProperty Memory allocation failed.");
        return {};
    }
    if (int32_t error = platform::GetCertContextProperty(context, platform::kCertSha1HashPropId, hash.get(), &size)) {
        TraceError(u"[Certificate] CertGetCertificateContextProperty %d", error);
        return {};
    }
    std::u16string text;
    for (uint32_t i = 0; i < size; ++i) text += Format(u"%02X", hash[i]);
    TraceInfo(u"[Certificate] CertGetCertificateContextProperty sign %s.", text);
    return text;
}

std::u16string LocalDateText(uint64_t ticks) {
    uint64_t local = 0;
    platform::SystemTime time{};
    if (!platform::FileTimeToLocalFileTime(ticks, &local) || !platform::FileTimeToSystemTime(local, &time)) return {};
    return Format(u"%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month, time.day, time.hour, time.minute,
                  time.second);
}

CertItem ItemOf(const platform::CertContext& context) {
    CertItem item;
    if (auto issuer = NameOf(context, platform::kCertNameSimpleDisplayType, platform::kCertNameIssuerFlag, 260)) {
        item.Issuer = *issuer;
        TraceInfo(u"[Certificate] wzIssUser %s \n", item.Issuer);
    } else {
        TraceErrorText(u"[Certificate] failed. \n");
    }
    if (auto subject = NameOf(context, platform::kCertNameSimpleDisplayType, 0, 256)) {
        item.Subject = *subject;
        TraceInfo(u"[Certificate] wzSubjector %s \n", item.Subject);
    } else {
        TraceErrorText(u"[Certificate] CertGetName failed. \n");
    }
    if (auto friendly = NameOf(context, platform::kCertNameFriendlyDisplayType, 0, 260)) {
        item.FriendlyName = *friendly;
        TraceInfo(u"[Certificate] wzFriendlyName %s \n", item.FriendlyName);
    } else {
        TraceErrorText(u"[Certificate] CertGetName failed. \n");
    }
    item.FingerPrint = FingerprintOf(context);
    uint64_t notBefore = 0, notAfter = 0;
    platform::GetCertValidity(context, &notBefore, &notAfter);
    item.BeginDate = LocalDateText(notBefore);
    item.EndDate = LocalDateText(notAfter);
    return item;
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::vector<uint8_t>> DecodeFingerprint(std::u16string_view fingerprint) {
    if (fingerprint.size() % 2 != 0 || fingerprint.size() / 2 > kMaxHashBytes) return std::nullopt;
    std::vector<uint8_t> hash;
    for (size_t i = 0; i < fingerprint.size(); i += 2) {
        int high = HexDigit(fingerprint[i]), low = HexDigit(fingerprint[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        hash.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return hash;
}

int32_t CCertificate::Uninstall() {
    return AtBoundary(u"[CCertificate] Uninstall", 0, [&] {
        TraceInfo(u"[CCertificate] Uninstall");
        return 0;
    });
}

int32_t CCertificate::Initialize(IPluginHost* host) {
    return AtBoundary(u"[CCertificate] Initialize", 0, [&] {
        if (initialised_) return 0;
        TraceInfo(u"[CCertificate] init");
        PluginHostLink::For(pluginName())->Register(host);
        initialised_ = true;
        return 0;
    });
}

bool CCertificate::EnumRootCertificates() {
    std::lock_guard guard(certsLock_);
    certs_.clear();
    bool result = false;
    {
        ConsoleUserIdentity identity;
        platform::CertStore store;
        if (int32_t error = platform::OpenSystemStore(u"root", &store)) {
            TraceError(u"[Certificate] The store was not opened %d", error);
        } else {
            TraceInfoText(u"[Certificate] The root store has been opened. \n");
            platform::CertContext context;
            while (!runState().stopped && platform::EnumCertificatesInStore(store, &context))
                certs_.push_back(ItemOf(context));
            result = true;
        }
    }
    return runState().stopped ? false : result;
}

void CCertificate::ReFresh() {
    std::lock_guard guard(certsLock_);  // certs stays as listed until the rows are written
    TraceInfo(u"[CCertificate] ReFresh");
    if (!EnumRootCertificates()) return;
    PluginHostLink* link = PluginHostLink::For(pluginName());
    for (const CertItem& item : certs_) {
        link->AddReportField(u"Issuser", item.Issuer);
        link->AddReportField(u"Subjector", item.Subject);
        link->AddReportField(u"BeginDate", item.BeginDate);
        link->AddReportField(u"EndDate", item.EndDate);
        link->AddReportField(u"FingerPrint", item.FingerPrint);
        link->AddReportField(u"FriendlyName", item.FriendlyName);
        link->CommitReportRow();
    }
    link->FlushReport(1, 1, u"Item");
}

void CCertificate::Remove(const std::u16string& fingerprint) {
    std::lock_guard guard(certsLock_);
    {
        ConsoleUserIdentity identity;
        platform::CertStore store;
        if (int32_t error = platform::OpenCurrentUserSystemStore(u"root", &store)) {
            TraceError(u"[Certificate] The store was not opened %d", error);
        } else {
            TraceInfoText(u"[Certificate] The root store has been opened. \n");
            std::optional<std::vector<uint8_t>> hash = DecodeFingerprint(fingerprint);
            platform::CertContext found;
            if (!hash) {
                // More than the hash buffer holds, or no hexadecimal: nothing can match it.
                TraceError(u"[Certificate] fingerprint refused, not up to %d bytes of hexadecimal: %s",
                           static_cast<int32_t>(kMaxHashBytes), fingerprint);
            } else if (int32_t error = platform::FindCertificateBySha1(store, hash->data(),
                                                                       static_cast<uint32_t>(hash->size()), &found)) {
                TraceError(u"[Certificate] CertFindCertificateInStore %x", error);
            } else if (int32_t error = platform::DeleteCertificateFromStore(store, found)) {
                TraceError(u"[Certificate] CertDeleteCertificateFromStore %x", error);
            }
        }
    }
    ReFresh();
}

}  // namespace vantel
