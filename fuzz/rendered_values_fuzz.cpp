// Rendered value arrays as the platform hands them over: the cells, then the data they point to,
// in one buffer. Every reader of a value must stay inside that buffer, whatever the cells say.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "eventlog/event_values.h"

namespace {
volatile uint32_t textChecksum;  // keeps the reads of every character
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    uint32_t count = data[0] % 24;
    size_t bytes = size - 1;
    // Exactly the bytes given, so that a read of one more is caught.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[bytes]);
    if (bytes > 0) std::memcpy(buffer.get(), data + 1, bytes);
    // A cell's pointer is taken as a signed 16-bit offset from the buffer's start, so that data
    // near the end, and just outside it, is reached.
    for (size_t cell = 0; (cell + 1) * sizeof(vantel::evt::Variant) <= bytes; ++cell) {
        auto* value = reinterpret_cast<vantel::evt::Variant*>(buffer.get() + cell * sizeof(vantel::evt::Variant));
        int16_t offset;
        std::memcpy(&offset, &value->pad, sizeof offset);
        value->binaryVal = reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(buffer.get()) + offset);
    }
    uint32_t checksum = 0;
    vantel::EventValues values(reinterpret_cast<const vantel::evt::Variant*>(buffer.get()), count, bytes);
    for (uint32_t position = 0; position <= values.count(); ++position) {
        // Every character of a text is read, so that one outside the buffer is caught.
        for (std::u16string_view text : {values.Text(position), values.BinaryText(position)})
            for (char16_t c : text) checksum += c;
        values.UInt16(position);
        values.UInt32(position);
        values.UInt64(position);
        values.HexInt32(position);
        values.Byte(position);
        values.FileTime(position);
        values.SidText(position);
        values.GuidText(position);
    }
    textChecksum = checksum;
    return 0;
}
