// Reading translator inputs: the rendered user values of a modern record by position, and the
// insertion strings of a classic event-log record.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/accounts.h"
#include "platform/evt.h"

namespace vantel {

// Values of the wrong type read as empty text or 0; positions past the end are absent. The
// values come as the platform renders them: the cells at the start of one buffer, the data they
// point to behind them. Data is read only where it lies wholly inside that buffer, in the size its
// type needs (a string up to its terminator, a SID its header and sub-authorities, a GUID 16
// bytes, binary its count); a value that does not is read as absent, and so is text not aligned to
// its characters, which the platform never hands out. Texts are views into the buffer: they last
// as long as it does.
class EventValues {
public:
    EventValues(const evt::Variant* values, uint32_t count, size_t bufferBytes);
    uint32_t count() const { return count_; }
    const evt::Variant* At(uint32_t position) const;
    std::u16string_view Text(uint32_t position) const;
    uint16_t UInt16(uint32_t position) const;
    uint32_t UInt32(uint32_t position) const;
    uint64_t UInt64(uint32_t position) const;
    uint32_t HexInt32(uint32_t position) const;
    uint8_t Byte(uint32_t position) const;
    uint64_t FileTime(uint32_t position) const;
    // A Sid value in its binary form, header and sub-authorities.
    std::optional<platform::Sid> SidBytes(uint32_t position) const;
    // A Sid value in its standard text form ("S-1-5-21-...").
    std::u16string SidText(uint32_t position) const;
    // A Guid value in registry form, "{8-4-4-4-12}" in upper case.
    std::u16string GuidText(uint32_t position) const;
    // A Binary value read as wide text, up to its first zero or its end.
    std::u16string_view BinaryText(uint32_t position) const;

private:
    // The value at the position when it has the type; null otherwise.
    const evt::Variant* Typed(uint32_t position, uint32_t type) const;
    // The value's data when `bytes` of it lie inside the buffer; null otherwise.
    const uint8_t* Inside(const void* data, size_t bytes) const;
    // Wide text at data, up to its first zero within at most `chars` characters; when `terminated`,
    // nothing unless that zero is there.
    static std::u16string_view WideText(const uint8_t* data, size_t chars, bool terminated);

    const evt::Variant* values_;
    uint32_t count_;
    uintptr_t begin_;
    uintptr_t end_;
};

// A classic event-log record in the published EVENTLOGRECORD layout.
struct LegacyEventRecord {
    uint32_t recordNumber = 0;
    uint32_t timeGenerated = 0;
    uint32_t timeWritten = 0;
    uint32_t eventId = 0;
    uint16_t eventType = 0;
    uint16_t eventCategory = 0;
    std::vector<std::u16string> strings;
    std::vector<uint8_t> userSid;
    std::vector<uint8_t> data;
    std::u16string sourceName;
    std::u16string computerName;

    // Nothing when the bytes do not hold a whole record; strings that run past the end are cut.
    static std::optional<LegacyEventRecord> Parse(const uint8_t* bytes, size_t size);
    // The record laid out as the classic interface returns it.
    std::vector<uint8_t> Serialize() const;

    const std::u16string& String(size_t index) const;
};

// Hands each record of a buffer that ReadEventLog filled to visit, in order, stepping by each
// record's length; a record that does not parse is skipped, a length that leaves the buffer ends
// the walk, and so does visit answering false.
void ForEachLegacyRecord(std::span<const uint8_t> buffer, const std::function<bool(const LegacyEventRecord&)>& visit);

}  // namespace vantel
