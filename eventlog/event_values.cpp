#include "eventlog/event_values.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/format.h"
#include "common/system_helpers.h"

namespace vantel {

namespace {

constexpr size_t kSidHeaderBytes = 8;
constexpr uint8_t kSidMaxSubAuthorities = 15;

}  // namespace

EventValues::EventValues(const evt::Variant* values, uint32_t count, size_t bufferBytes)
    : values_(values),
      count_(values == nullptr ? 0
                               : static_cast<uint32_t>(std::min<size_t>(count, bufferBytes / sizeof(evt::Variant)))),
      begin_(reinterpret_cast<uintptr_t>(values)),
      end_(begin_ + (values == nullptr ? 0 : bufferBytes)) {}

const evt::Variant* EventValues::At(uint32_t position) const {
    return position < count_ ? &values_[position] : nullptr;
}

const evt::Variant* EventValues::Typed(uint32_t position, uint32_t type) const {
    const evt::Variant* value = At(position);
    return value != nullptr && value->type == type ? value : nullptr;
}

const uint8_t* EventValues::Inside(const void* data, size_t bytes) const {
    auto at = reinterpret_cast<uintptr_t>(data);
    if (at < begin_ || at > end_ || bytes > end_ - at) return nullptr;
    return static_cast<const uint8_t*>(data);
}

// Wide text is read in place: the platforms this runs on store it little-endian, as the records do.
static_assert(std::endian::native == std::endian::little);

std::u16string_view EventValues::WideText(const uint8_t* data, size_t chars, bool terminated) {
    if (data == nullptr || reinterpret_cast<uintptr_t>(data) % alignof(char16_t) != 0) return {};
    const auto* text = reinterpret_cast<const char16_t*>(data);
    for (size_t length = 0; length < chars; ++length)
        if (text[length] == 0) return {text, length};
    return terminated ? std::u16string_view() : std::u16string_view(text, chars);
}

std::u16string_view EventValues::Text(uint32_t position) const {
    const evt::Variant* value = Typed(position, evt::kTypeString);
    const uint8_t* at = value ? Inside(value->stringVal, 0) : nullptr;
    return at ? WideText(at, (end_ - reinterpret_cast<uintptr_t>(at)) / sizeof(char16_t), true) : std::u16string_view();
}

uint16_t EventValues::UInt16(uint32_t position) const {
    const evt::Variant* value = Typed(position, evt::kTypeUInt16);
    return value ? value->uInt16Val : 0;
}

uint32_t EventValues::UInt32(uint32_t position) const {
    const evt::Variant* value = Typed(position, evt::kTypeUInt32);
    return value ? value->uInt32Val : 0;
}

uint64_t EventValues::UInt64(uint32_t position) const {
    const evt::Variant* value = Typed(position, evt::kTypeUInt64);
    return value ? value->uInt64Val : 0;
}

uint32_t EventValues::HexInt32(uint32_t position) const {
    const evt::Variant* value = Typed(position, evt::kTypeHexInt32);
    return value ? value->uInt32Val : 0;
}

uint8_t EventValues::Byte(uint32_t position) const {
    const evt::Variant* value = Typed(position, evt::kTypeByte);
    return value ? value->byteVal : 0;
}

uint64_t EventValues::FileTime(uint32_t position) const {
    const evt::Variant* value = Typed(position, evt::kTypeFileTime);
    return value ? value->fileTimeVal : 0;
}

std::u16string EventValues::GuidText(uint32_t position) const {
    const evt::Variant* value = Typed(position, evt::kTypeGuid);
    const uint8_t* at = value ? Inside(value->guidVal, sizeof(Guid)) : nullptr;
    if (at == nullptr) return {};
    Guid guid;
    std::memcpy(&guid, at, sizeof guid);
    return Format(u"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.data1, guid.data2, guid.data3,
                  guid.data4[0], guid.data4[1], guid.data4[2], guid.data4[3], guid.data4[4], guid.data4[5],
                  guid.data4[6], guid.data4[7]);
}

std::u16string_view EventValues::BinaryText(uint32_t position) const {
    const evt::Variant* value = Typed(position, evt::kTypeBinary);
    const uint8_t* bytes = value ? Inside(value->binaryVal, value->count) : nullptr;
    return WideText(bytes, value ? value->count / sizeof(char16_t) : 0, false);
}

std::optional<platform::Sid> EventValues::SidBytes(uint32_t position) const {
    const evt::Variant* value = Typed(position, evt::kTypeSid);
    const uint8_t* header = value ? Inside(value->sidVal, kSidHeaderBytes) : nullptr;
    if (header == nullptr || header[1] > kSidMaxSubAuthorities) return std::nullopt;
    // Eight bytes of header, then four per sub-authority.
    size_t length = kSidHeaderBytes + 4 * static_cast<size_t>(header[1]);
    if (Inside(header, length) == nullptr) return std::nullopt;
    return platform::Sid(header, header + length);
}

std::u16string EventValues::SidText(uint32_t position) const {
    std::optional<platform::Sid> sid = SidBytes(position);
    std::u16string text;
    return sid && SidToText(*sid, &text) ? text : std::u16string();
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
