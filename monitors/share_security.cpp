#include "monitors/share_security.h"

#include "plugin/trace.h"

namespace vantel {

namespace {

constexpr uint32_t kFullControl = 0x1F01FF;
constexpr uint32_t kReadWrite = 0x12019F;
constexpr uint32_t kRead = 0x120089;

}  // namespace

std::u16string SharePermissionText(const std::vector<platform::AccessEntry>& entries, const char16_t* tag) {
    std::u16string text;
    for (const platform::AccessEntry& entry : entries) {
        if (entry.type != platform::kAccessAllowedAce) continue;
        std::u16string name;
        if (int32_t error = platform::LookupAccountNameOfSid(entry.sid, &name)) {
            TraceErrorText(Format(u"%s LookupAccountSid:%d\n", tag, error));
            continue;
        }
        if (entry.mask == kFullControl) text += name + u":F";
        else if ((entry.mask & kReadWrite) == kReadWrite) text += name + u":RW";
        else if ((entry.mask & kRead) == kRead) text += name + u":R";
        text += u"||";
    }
    return text;
}

std::u16string GetShareSecurity(const std::u16string& descriptor) {
    std::vector<platform::AccessEntry> entries;
    if (platform::DaclOfSecurityDescriptor(descriptor, &entries) != 0) return {};
    std::u16string text = SharePermissionText(entries, u"[GetShareSecurity]");
    TraceInfoText(Format(u"[GetShareSecurity] ShareSecurity:%s\n", text));
    return text;
}

}  // namespace vantel
