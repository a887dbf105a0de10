// The calling thread's last Windows error, as the simulated machine's calls leave it.
#pragma once
#include <cstdint>

namespace winsim {

uint32_t GetLastError();
void SetLastError(uint32_t error);

}  // namespace winsim
