#include "platform/shares.h"

#include <windows.h>
#include <lm.h>

#include <memory>

#include "platform/win32/access_entries.h"

namespace vantel::platform {

namespace {

struct NetBufferFree {
    void operator()(void* buffer) const { NetApiBufferFree(buffer); }
};

std::u16string Text(const wchar_t* text) { return text ? reinterpret_cast<const char16_t*>(text) : u""; }

std::vector<AccessEntry> DaclOf(PSECURITY_DESCRIPTOR descriptor) {
    std::vector<AccessEntry> entries;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (descriptor != nullptr && IsValidSecurityDescriptor(descriptor) &&
        GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present)
        AccessEntriesOf(dacl, &entries);
    return entries;
}

}  // namespace

int32_t NetShareEnum502(uint32_t preferredMaxLength, uint32_t* resumeHandle,
                        std::optional<std::vector<ShareInfo502>>* shares) {
    BYTE* raw = nullptr;
    DWORD read = 0, total = 0, resume = *resumeHandle;
    NET_API_STATUS status = NetShareEnum(nullptr, 502, &raw, preferredMaxLength, &read, &total, &resume);
    std::unique_ptr<BYTE, NetBufferFree> owned(raw);
    *resumeHandle = resume;
    shares->reset();
    if (raw == nullptr) return static_cast<int32_t>(status);
    shares->emplace();
    const auto* infos = reinterpret_cast<const SHARE_INFO_502*>(raw);
    for (DWORD i = 0; i < read; ++i) {
        const SHARE_INFO_502& info = infos[i];
        (*shares)->push_back({Text(info.shi502_netname), info.shi502_type, Text(info.shi502_remark),
                              info.shi502_permissions, info.shi502_max_uses, info.shi502_current_uses,
                              Text(info.shi502_path), DaclOf(info.shi502_security_descriptor)});
    }
    return static_cast<int32_t>(status);
}

}  // namespace vantel::platform
