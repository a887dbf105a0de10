// The entries of a Windows access list, for the backend's calls that read descriptors.
#pragma once
#include <windows.h>

#include <vector>

#include "platform/accounts.h"

namespace vantel::platform {

// The list's entries in list order; none for a null list.
void AccessEntriesOf(PACL dacl, std::vector<AccessEntry>* entries);

}  // namespace vantel::platform
