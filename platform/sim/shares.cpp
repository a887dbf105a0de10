#include "platform/shares.h"

#include "winsim/shares.h"

namespace vantel::platform {

int32_t NetShareEnum502(uint32_t, uint32_t* resumeHandle, std::optional<std::vector<ShareInfo502>>* shares) {
    std::vector<winsim::Share> page;
    int32_t status = winsim::NetShareEnum(resumeHandle, &page);
    shares->reset();
    if (status != kErrorSuccess && status != kErrorMoreData) return status;  // no buffer
    shares->emplace();
    for (const winsim::Share& share : page) {
        ShareInfo502 info{share.name, share.type,        share.remark, share.permissions,
                          share.maxUses, share.currentUses, share.path,  {}};
        if (!share.security.empty() && DaclOfSecurityDescriptor(share.security, &info.dacl) != kErrorSuccess)
            info.dacl.clear();
        (*shares)->push_back(std::move(info));
    }
    return status;
}

}  // namespace vantel::platform
