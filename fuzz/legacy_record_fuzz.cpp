// Classic event-log records as the system hands them over: any bytes must parse or be refused,
// never read outside the buffer, and what parses must lay out again the same way.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "eventlog/event_values.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the given size, so that reading one byte beyond it is caught.
    std::vector<uint8_t> bytes(data, data + size);
    auto record = vantel::LegacyEventRecord::Parse(bytes.data(), bytes.size());
    if (!record) return 0;
    for (size_t i = 0; i < 6; ++i) (void)record->String(i);
    std::vector<uint8_t> again = record->Serialize();
    auto reparsed = vantel::LegacyEventRecord::Parse(again.data(), again.size());
    if (!reparsed || reparsed->strings != record->strings || reparsed->eventId != record->eventId) __builtin_trap();
    return 0;
}
