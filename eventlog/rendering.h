// Turning a modern event record into typed values or XML text.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "eventlog/event_log_api.h"
#include "eventlog/event_values.h"

namespace vantel {

// A rendered value array in the one buffer the platform filled, values and their data together.
class RenderedValues {
public:
    RenderedValues(std::unique_ptr<uint64_t[]> buffer, uint32_t count, uint32_t bytes)
        : buffer_(std::move(buffer)), count_(count), bytes_(bytes) {}
    // The values, read within the bytes the platform said it wrote.
    EventValues values() const {
        return EventValues(reinterpret_cast<const evt::Variant*>(buffer_.get()), count_, bytes_);
    }

private:
    std::unique_ptr<uint64_t[]> buffer_;  // 8-byte aligned, as the cells need
    uint32_t count_;
    uint32_t bytes_;
};

// Context kind 1 renders the system values, 2 the user values; nothing on failure (traced).
std::optional<RenderedValues> RenderEventValues(const EventLogApi& api, evt::Handle event, uint32_t contextKind);
std::optional<std::u16string> RenderEventXml(const EventLogApi& api, evt::Handle event);

// An event's TimeCreated as whole seconds since 1970-01-01 UTC.
uint64_t EventTimeSeconds(uint64_t fileTime);

}  // namespace vantel
