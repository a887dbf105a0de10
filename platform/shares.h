// The server's network shares, in the shape of the Windows calls; results are Windows error codes.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/accounts.h"

namespace vantel::platform {

// One share of SHARE_INFO_502, its security descriptor read with GetSecurityDescriptorDacl
// and GetAce.
struct ShareInfo502 {
    std::u16string netname;
    uint32_t type = 0;
    std::u16string remark;
    uint32_t permissions = 0;
    uint32_t maxUses = 0;  // 4294967295: unlimited
    uint32_t currentUses = 0;
    std::u16string path;
    std::vector<AccessEntry> dacl;  // empty without a descriptor or a list
};

constexpr uint32_t kMaxPreferredLength = 0xFFFFFFFFu;

// NetShareEnum of this computer at level 502, from the resume handle on: 0, or 234 (more data)
// with the handle moved on for the next call. The shares are none when the call returned no
// buffer.
int32_t NetShareEnum502(uint32_t preferredMaxLength, uint32_t* resumeHandle,
                        std::optional<std::vector<ShareInfo502>>* shares);

}  // namespace vantel::platform
