#include "eventlog/event_values.h"

#include <cstring>

#include "common/format.h"
#include "common/system_helpers.h"

namespace vantel {

const evt::Variant* EventValues::At(uint32_t position) const {
    return values_ != nullptr && position < count_ ? &values_[position] : nullptr;
}

std::u16string EventValues::Text(uint32_t position) const {
    const evt::Variant* value = At(position);
    if (value == nullptr || value->type != evt::kTypeString || value->stringVal == nullptr) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(value->stringVal));
}

uint32_t EventValues::UInt32(uint32_t position) const {
    const evt::Variant* value = At(position);
    return value != nullptr && value->type == evt::kTypeUInt32 ? value->uInt32Val : 0;
}

uint32_t EventValues::HexInt32(uint32_t position) const {
    const evt::Variant* value = At(position);
    return value != nullptr && value->type == evt::kTypeHexInt32 ? value->uInt32Val : 0;
}

uint8_t EventValues::Byte(uint32_t position) const {
    const evt::Variant* value = At(position);
    return value != nullptr && value->type == evt::kTypeByte ? value->byteVal : 0;
}

std::u16string EventValues::GuidText(uint32_t position) const {
    const evt::Variant* value = At(position);
    if (value == nullptr || value->type != evt::kTypeGuid || value->guidVal == nullptr) return {};
    const Guid& guid = *value->guidVal;
    return Format(u"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.data1, guid.data2, guid.data3,
                  guid.data4[0], guid.data4[1], guid.data4[2], guid.data4[3], guid.data4[4], guid.data4[5],
                  guid.data4[6], guid.data4[7]);
}

std::u16string EventValues::BinaryText(uint32_t position) const {
    const evt::Variant* value = At(position);
    if (value == nullptr || value->type != evt::kTypeBinary || value->binaryVal == nullptr) return {};
    std::u16string text;
    for (uint32_t i = 0; i + 1 < value->count; i += 2) {
        char16_t c = static_cast<char16_t>(value->binaryVal[i] | (value->binaryVal[i + 1] << 8));
        if (c == 0) break;
        text += c;
    }
    return text;
}

std::u16string EventValues::SidText(uint32_t position) const {
    const evt::Variant* value = At(position);
    if (value == nullptr || value->type != evt::kTypeSid || value->sidVal == nullptr) return {};
    // A SID is 8 bytes of header and four per sub-authority.
    size_t length = 8 + 4 * static_cast<size_t>(value->sidVal[1]);
    platform::Sid sid(value->sidVal, value->sidVal + length);
    std::u16string text;
    return SidToText(sid, &text) ? text : std::u16string();
}

namespace {

constexpr size_t kHeaderSize = 56;  // the fixed part, up to DataOffset
constexpr uint32_t kSignature = 0x654c664c;  // "LfLe"

uint32_t Read32(const uint8_t* at) {
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}
uint16_t Read16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }

void Write32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
void Write16(std::vector<uint8_t>& out, size_t at, uint16_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

// Reads a zero-terminated UTF-16 string starting at offset, never past end; moves offset behind it.
std::u16string ReadString(const uint8_t* bytes, size_t end, size_t* offset) {
    std::u16string text;
    while (*offset + 1 < end) {
        char16_t c = Read16(bytes + *offset);
        *offset += 2;
        if (c == 0) break;
        text += c;
    }
    return text;
}

void AppendString(std::vector<uint8_t>& out, const std::u16string& text) {
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
}

bool Within(size_t offset, size_t length, size_t size) { return offset <= size && length <= size - offset; }

}  // namespace

std::optional<LegacyEventRecord> LegacyEventRecord::Parse(const uint8_t* bytes, size_t size) {
    if (bytes == nullptr || size < kHeaderSize) return std::nullopt;
    uint32_t length = Read32(bytes);
    if (length < kHeaderSize || length > size || Read32(bytes + 4) != kSignature) return std::nullopt;
    LegacyEventRecord record;
    record.recordNumber = Read32(bytes + 8);
    record.timeGenerated = Read32(bytes + 12);
    record.timeWritten = Read32(bytes + 16);
    record.eventId = Read32(bytes + 20);
    record.eventType = Read16(bytes + 24);
    uint16_t stringCount = Read16(bytes + 26);
    record.eventCategory = Read16(bytes + 28);
    uint32_t stringOffset = Read32(bytes + 36);
    uint32_t sidLength = Read32(bytes + 40), sidOffset = Read32(bytes + 44);
    uint32_t dataLength = Read32(bytes + 48), dataOffset = Read32(bytes + 52);

    size_t offset = kHeaderSize;
    record.sourceName = ReadString(bytes, length, &offset);
    record.computerName = ReadString(bytes, length, &offset);
    if (Within(sidOffset, sidLength, length)) record.userSid.assign(bytes + sidOffset, bytes + sidOffset + sidLength);
    if (Within(dataOffset, dataLength, length)) record.data.assign(bytes + dataOffset, bytes + dataOffset + dataLength);
    offset = stringOffset;
    for (uint16_t i = 0; i < stringCount && offset + 1 < length; ++i) record.strings.push_back(ReadString(bytes, length, &offset));
    return record;
}

std::vector<uint8_t> LegacyEventRecord::Serialize() const {
    std::vector<uint8_t> out(kHeaderSize, 0);
    AppendString(out, sourceName);
    AppendString(out, computerName);
    while (out.size() % 4) out.push_back(0);
    size_t sidOffset = out.size();
    out.insert(out.end(), userSid.begin(), userSid.end());
    size_t stringOffset = out.size();
    for (const std::u16string& text : strings) AppendString(out, text);
    size_t dataOffset = out.size();
    out.insert(out.end(), data.begin(), data.end());
    while (out.size() % 4) out.push_back(0);
    out.resize(out.size() + 4);  // the trailing copy of the length
    Write32(out, 0, static_cast<uint32_t>(out.size()));
    Write32(out, 4, kSignature);
    Write32(out, 8, recordNumber);
    Write32(out, 12, timeGenerated);
    Write32(out, 16, timeWritten);
    Write32(out, 20, eventId);
    Write16(out, 24, eventType);
    Write16(out, 26, static_cast<uint16_t>(strings.size()));
    Write16(out, 28, eventCategory);
    Write32(out, 36, static_cast<uint32_t>(stringOffset));
    Write32(out, 40, static_cast<uint32_t>(userSid.size()));
    Write32(out, 44, static_cast<uint32_t>(sidOffset));
    Write32(out, 48, static_cast<uint32_t>(data.size()));
    Write32(out, 52, static_cast<uint32_t>(dataOffset));
    Write32(out, out.size() - 4, static_cast<uint32_t>(out.size()));
    return out;
}

void ForEachLegacyRecord(std::span<const uint8_t> buffer, const std::function<bool(const LegacyEventRecord&)>& visit) {
    for (size_t offset = 0; buffer.size() - offset >= kHeaderSize;) {
        uint32_t length = Read32(buffer.data() + offset);
        if (length < kHeaderSize || length > buffer.size() - offset) return;
        std::optional<LegacyEventRecord> record = LegacyEventRecord::Parse(buffer.data() + offset, length);
        if (record && !visit(*record)) return;
        offset += length;
    }
}

const std::u16string& LegacyEventRecord::String(size_t index) const {
    static const std::u16string kEmpty;
    return index < strings.size() ? strings[index] : kEmpty;
}

}  // namespace vantel
