// The binding of the agent's diagnostic log library.
#pragma once
#include <cstdint>
#include <string>

namespace vantel {

// Loads the library (on the first use of the binding only), calls Init, and creates the log.
void BindLogSink(const std::u16string& libraryPath, const std::u16string& logName, uint32_t number);
// Undoes one BindLogSink. With the last: drops every later trace, waits for the traces being
// written, then calls Uninit and frees the library; a later BindLogSink loads it again.
void ReleaseLogSink();

}  // namespace vantel
