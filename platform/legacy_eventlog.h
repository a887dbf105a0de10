// The classic event-log interface, in the shape of the Windows calls; results are Windows
// error codes.
#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "platform/errors.h"

namespace vantel::platform {

constexpr uint32_t kEventLogSequentialRead = 0x1;
constexpr uint32_t kEventLogBackwardsRead = 0x8;
constexpr int32_t kErrorHandleEof = 38;

// One log opened on the local computer (OpenEventLog), closed with the object.
class LegacyEventLog {
public:
    LegacyEventLog() = default;
    ~LegacyEventLog();
    LegacyEventLog(const LegacyEventLog&) = delete;
    LegacyEventLog& operator=(const LegacyEventLog&) = delete;

    int32_t Open(const std::u16string& log);
    // ReadEventLog: as many whole EVENTLOGRECORDs as fit into the buffer. 122 (buffer too small)
    // with bytesNeeded when not even the next one fits; 38 at the end of the log.
    int32_t Read(uint32_t flags, std::span<uint8_t> buffer, uint32_t* bytesRead, uint32_t* bytesNeeded);

private:
    void* handle_ = nullptr;
};

}  // namespace vantel::platform
