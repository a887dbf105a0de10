// Records of the simulated event log: typed values and the builder that tests publish with.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/evt.h"

namespace winsim {

// One value of a record, tagged with the platform's type (vantel::evt::VariantType).
struct EventValue {
    uint32_t type = vantel::evt::kTypeNull;
    uint64_t number = 0;         // every numeric type, Boolean and FileTime
    std::u16string text;         // String
    std::vector<uint8_t> bytes;  // Binary, AnsiString, Sid (binary form), Guid and SysTime (their 16 raw bytes)
    std::vector<EventValue> items;  // an array's elements; its type is theirs with kTypeArrayMask

    static EventValue Null() { return {}; }
    static EventValue String(std::u16string text);
    static EventValue Byte(uint8_t value) { return Number(vantel::evt::kTypeByte, value); }
    static EventValue UInt16(uint16_t value) { return Number(vantel::evt::kTypeUInt16, value); }
    static EventValue UInt32(uint32_t value) { return Number(vantel::evt::kTypeUInt32, value); }
    static EventValue UInt64(uint64_t value) { return Number(vantel::evt::kTypeUInt64, value); }
    static EventValue HexInt32(uint32_t value) { return Number(vantel::evt::kTypeHexInt32, value); }
    static EventValue HexInt64(uint64_t value) { return Number(vantel::evt::kTypeHexInt64, value); }
    static EventValue SizeT(uint64_t value) { return Number(vantel::evt::kTypeSizeT, value); }
    static EventValue Boolean(bool value) { return Number(vantel::evt::kTypeBoolean, value ? 1 : 0); }
    static EventValue FileTime(uint64_t ticks) { return Number(vantel::evt::kTypeFileTime, ticks); }
    static EventValue Sid(std::vector<uint8_t> binary);
    static EventValue Guid(const vantel::Guid& guid);
    static EventValue Binary(std::vector<uint8_t> bytes);
    static EventValue AnsiString(std::vector<uint8_t> characters);
    static EventValue SysTime(const uint8_t (&systemTime)[16]);
    static EventValue Array(uint32_t elementType, std::vector<EventValue> items);
    static EventValue Number(uint32_t type, uint64_t value);
};

// The machine's clock in file-time ticks (100 ns since 1601-01-01 UTC).
uint64_t FileTimeNow();
// Control: stops the clock at that time; 0 lets it run again.
void SetFrozenClock(uint64_t ticks);

// A record and the channel it is logged in. The builder fills the system values with the types
// the platform renders them with; Set() can replace any of them, a Null included.
struct EventRecord {
    EventRecord(std::u16string channel, std::u16string provider, uint16_t eventId);
    // A record without a channel and with every value Null, for readers that set each one found.
    EventRecord() = default;

    EventRecord& ProviderGuid(const vantel::Guid& guid);
    EventRecord& Level(uint8_t level);
    EventRecord& Task(uint16_t task);
    EventRecord& Opcode(uint8_t opcode);
    EventRecord& Keywords(uint64_t mask);
    EventRecord& TimeCreated(uint64_t ticks);
    // 0: the channel's next record id when published.
    EventRecord& RecordId(uint64_t id);
    EventRecord& Process(uint32_t processId, uint32_t threadId);
    EventRecord& Computer(std::u16string name);
    EventRecord& UserSid(std::vector<uint8_t> sid);
    EventRecord& Version(uint8_t version);
    EventRecord& Values(std::vector<EventValue> values);
    // The record's XML as its publisher wrote it; without it, XML is generated from the values.
    EventRecord& Xml(std::u16string xml);
    EventRecord& Set(vantel::evt::SystemProperty property, EventValue value);

    std::u16string channel;
    std::array<EventValue, vantel::evt::kSystemPropertyCount> system;
    std::vector<EventValue> user;
    std::u16string xml;
};

// What a record takes in its channel's file (winsim/channel_file.h).
uint64_t StoredSize(const EventRecord& record);

bool IsArray(const EventValue& value);
// Bytes of one stored element of a fixed-size type; 0 for the variable-size ones (strings, SIDs,
// binary) and for SizeT, whose size is the writer's pointer size.
size_t FixedSize(uint32_t elementType);

// A value as text: the form of the event's XML and of message insertions (an array's elements
// comma-separated).
std::u16string ValueText(const EventValue& value);
void AppendValueText(std::u16string& out, const EventValue& value);
// Text with XML's five special characters escaped, for element content and attribute values.
std::u16string XmlEscaped(std::u16string_view text);
void AppendXmlEscaped(std::u16string& out, std::u16string_view text);
// A value as element content or attribute value.
void AppendXmlText(std::u16string& xml, const EventValue& value);
// An element holding a value; an array gives one element per element of the array.
void AppendXmlElement(std::u16string& xml, std::u16string_view name, std::u16string_view attributes,
                      const EventValue& value);
// The record's XML: its publisher's, or one generated from its values.
std::u16string EventXml(const EventRecord& record);

}  // namespace winsim
