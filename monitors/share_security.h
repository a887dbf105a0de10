// The permission text of a share: "name:code||" for each allowing entry of its access list.
#pragma once
#include <string>
#include <vector>

#include "platform/accounts.h"

namespace vantel {

// The text for the entries of a share's access list; the tag names who traces a name that
// cannot be resolved ("[GetShareSecurity]", "[ShareMonitor]").
std::u16string SharePermissionText(const std::vector<platform::AccessEntry>& entries, const char16_t* tag);

// The text for a security descriptor in its string form; empty when it cannot be converted.
std::u16string GetShareSecurity(const std::u16string& descriptor);

}  // namespace vantel
