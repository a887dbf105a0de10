#include "winsim/last_error.h"

namespace winsim {

namespace {
thread_local uint32_t lastError = 0;
}  // namespace

uint32_t GetLastError() { return lastError; }

void SetLastError(uint32_t error) { lastError = error; }

}  // namespace winsim
