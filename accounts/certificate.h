// The root-certificate plugin: lists the console user's trusted root certificates and removes
// one by its SHA-1 fingerprint, on the server's order.
#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/plugin_base.h"

namespace vantel {

struct CertItem {
    std::u16string Issuer;
    std::u16string Subject;
    std::u16string BeginDate;  // local time, "2024-01-31 23:59:59"
    std::u16string EndDate;
    std::u16string FingerPrint;  // upper-case hexadecimal SHA-1
    std::u16string FriendlyName;
};

// The longest hash a fingerprint may decode to, in bytes.
constexpr size_t kMaxHashBytes = 260;

// The bytes of a hexadecimal fingerprint (either case, first digit high); none when it is odd,
// longer than kMaxHashBytes bytes or holds anything but hexadecimal digits.
std::optional<std::vector<uint8_t>> DecodeFingerprint(std::u16string_view fingerprint);

class CCertificate : public PluginBase {
public:
    static constexpr PluginClass kClass = PluginClass::Certificate;

    CCertificate() : PluginBase(kClass) {}

    int32_t VANTEL_CALL Uninstall() override;
    int32_t VANTEL_CALL Initialize(IPluginHost* host) override;

    // Lists the root store as "Item" rows of the reply to the current message.
    void ReFresh();
    // Deletes the certificate with that SHA-1 fingerprint, then lists the store again.
    void Remove(const std::u16string& fingerprint);
    // Rebuilds certs; false when the store could not be read or the plugin was stopped meanwhile.
    bool EnumRootCertificates();

private:
    std::recursive_mutex certsLock_;  // Remove holds it across its closing ReFresh
    std::vector<CertItem> certs_;
};

}  // namespace vantel
