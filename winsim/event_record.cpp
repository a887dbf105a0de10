#include "winsim/event_record.h"

#include <chrono>
#include <cstring>

#include "common/format.h"
#include "winsim/accounts.h"

namespace winsim {

using namespace vantel::evt;

namespace {

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kDaysFrom1601To1970 = 134'774;

// "2021-01-01T00:00:00.9990000Z", the form of the XML's SystemTime.
std::u16string FileTimeText(uint64_t ticks) {
    int64_t days = static_cast<int64_t>(ticks / (kTicksPerSecond * 86'400)) - kDaysFrom1601To1970;
    uint64_t secondOfDay = ticks / kTicksPerSecond % 86'400;
    // Civil date from days since 1970-01-01, in eras of 400 years starting in March.
    days += 719'468;
    int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
    int64_t dayOfEra = days - era * 146'097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1'460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return vantel::Format(u"%04d-%02d-%02dT%02d:%02d:%02d.%07uZ", year, month, day, secondOfDay / 3600,
                          secondOfDay / 60 % 60, secondOfDay % 60, ticks % kTicksPerSecond);
}

std::u16string GuidText(const std::vector<uint8_t>& bytes) {
    vantel::Guid guid{};
    std::memcpy(&guid, bytes.data(), std::min(bytes.size(), sizeof guid));
    const uint8_t* d = guid.data4;
    return vantel::Format(u"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.data1, guid.data2, guid.data3,
                          d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
}

}  // namespace

std::u16string XmlEscaped(const std::u16string& text) {
    std::u16string out;
    for (char16_t c : text) {
        switch (c) {
            case u'&': out += u"&amp;"; break;
            case u'<': out += u"&lt;"; break;
            case u'>': out += u"&gt;"; break;
            case u'\'': out += u"&apos;"; break;
            case u'"': out += u"&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

namespace {

void AddElement(std::u16string& xml, const char16_t* name, const EventValue& value) {
    xml += vantel::Format(u"<%s>%s</%s>", name, XmlEscaped(ValueText(value)), name);
}

// An attribute of a value that may be absent: a Null one is left out, as the platform does.
void AddAttribute(std::u16string& xml, const char16_t* name, const EventValue& value) {
    if (value.type != kTypeNull) xml += vantel::Format(u" %s='%s'", name, XmlEscaped(ValueText(value)));
}

}  // namespace

EventValue EventValue::String(std::u16string text) {
    EventValue value;
    value.type = kTypeString;
    value.text = std::move(text);
    return value;
}

EventValue EventValue::Sid(std::vector<uint8_t> binary) {
    EventValue value;
    value.type = kTypeSid;
    value.bytes = std::move(binary);
    return value;
}

EventValue EventValue::Guid(const vantel::Guid& guid) {
    EventValue value;
    value.type = kTypeGuid;
    value.bytes.resize(sizeof guid);
    std::memcpy(value.bytes.data(), &guid, sizeof guid);
    return value;
}

EventValue EventValue::Binary(std::vector<uint8_t> bytes) {
    EventValue value;
    value.type = kTypeBinary;
    value.bytes = std::move(bytes);
    return value;
}

EventValue EventValue::Number(uint32_t type, uint64_t number) {
    EventValue value;
    value.type = type;
    value.number = number;
    return value;
}

uint64_t FileTimeNow() {
    using namespace std::chrono;
    auto sinceEpoch = duration_cast<duration<int64_t, std::ratio<1, kTicksPerSecond>>>(
        system_clock::now().time_since_epoch());
    return static_cast<uint64_t>(sinceEpoch.count()) + kDaysFrom1601To1970 * 86'400 * kTicksPerSecond;
}

EventRecord::EventRecord(std::u16string channelPath, std::u16string provider, uint16_t eventId)
    : channel(std::move(channelPath)) {
    system[kSystemProviderName] = EventValue::String(std::move(provider));
    system[kSystemEventID] = EventValue::UInt16(eventId);
    system[kSystemLevel] = EventValue::Byte(4);  // information
    system[kSystemTask] = EventValue::UInt16(0);
    system[kSystemOpcode] = EventValue::Byte(0);
    system[kSystemKeywords] = EventValue::HexInt64(0);
    system[kSystemTimeCreated] = EventValue::FileTime(FileTimeNow());
    system[kSystemEventRecordId] = EventValue::UInt64(0);
    system[kSystemProcessID] = EventValue::UInt32(0);
    system[kSystemThreadID] = EventValue::UInt32(0);
    system[kSystemChannel] = EventValue::String(channel);
    system[kSystemComputer] = EventValue::String(kComputerName);
    system[kSystemVersion] = EventValue::Byte(0);
}

EventRecord& EventRecord::ProviderGuid(const vantel::Guid& guid) {
    return Set(kSystemProviderGuid, EventValue::Guid(guid));
}
EventRecord& EventRecord::Level(uint8_t level) { return Set(kSystemLevel, EventValue::Byte(level)); }
EventRecord& EventRecord::Task(uint16_t task) { return Set(kSystemTask, EventValue::UInt16(task)); }
EventRecord& EventRecord::Opcode(uint8_t opcode) { return Set(kSystemOpcode, EventValue::Byte(opcode)); }
EventRecord& EventRecord::Keywords(uint64_t mask) { return Set(kSystemKeywords, EventValue::HexInt64(mask)); }
EventRecord& EventRecord::TimeCreated(uint64_t ticks) { return Set(kSystemTimeCreated, EventValue::FileTime(ticks)); }
EventRecord& EventRecord::RecordId(uint64_t id) { return Set(kSystemEventRecordId, EventValue::UInt64(id)); }
EventRecord& EventRecord::Process(uint32_t processId, uint32_t threadId) {
    Set(kSystemProcessID, EventValue::UInt32(processId));
    return Set(kSystemThreadID, EventValue::UInt32(threadId));
}
EventRecord& EventRecord::Computer(std::u16string name) {
    return Set(kSystemComputer, EventValue::String(std::move(name)));
}
EventRecord& EventRecord::UserSid(std::vector<uint8_t> sid) {
    return Set(kSystemUserID, EventValue::Sid(std::move(sid)));
}
EventRecord& EventRecord::Version(uint8_t version) { return Set(kSystemVersion, EventValue::Byte(version)); }

EventRecord& EventRecord::Values(std::vector<EventValue> values) {
    user = std::move(values);
    return *this;
}

EventRecord& EventRecord::Xml(std::u16string text) {
    xml = std::move(text);
    return *this;
}

EventRecord& EventRecord::Set(SystemProperty property, EventValue value) {
    system.at(property) = std::move(value);
    return *this;
}

std::u16string ValueText(const EventValue& value) {
    switch (value.type) {
        case kTypeNull: return {};
        case kTypeString: return value.text;
        case kTypeBoolean: return value.number ? u"true" : u"false";
        case kTypeHexInt32:
        case kTypeHexInt64: return vantel::Format(u"0x%llx", value.number);
        case kTypeFileTime: return FileTimeText(value.number);
        case kTypeSid: return SidText(value.bytes);
        case kTypeGuid: return GuidText(value.bytes);
        case kTypeBinary: {
            std::u16string hex;
            for (uint8_t byte : value.bytes) hex += vantel::Format(u"%02X", byte);
            return hex;
        }
        default: return vantel::Format(u"%llu", value.number);
    }
}

std::u16string EventXml(const EventRecord& record) {
    if (!record.xml.empty()) return record.xml;
    const auto& s = record.system;
    std::u16string xml = u"<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider";
    AddAttribute(xml, u"Name", s[kSystemProviderName]);
    AddAttribute(xml, u"Guid", s[kSystemProviderGuid]);
    xml += u"/><EventID";
    AddAttribute(xml, u"Qualifiers", s[kSystemQualifiers]);
    xml += u">" + XmlEscaped(ValueText(s[kSystemEventID])) + u"</EventID>";
    AddElement(xml, u"Version", s[kSystemVersion]);
    AddElement(xml, u"Level", s[kSystemLevel]);
    AddElement(xml, u"Task", s[kSystemTask]);
    AddElement(xml, u"Opcode", s[kSystemOpcode]);
    AddElement(xml, u"Keywords", s[kSystemKeywords]);
    xml += u"<TimeCreated";
    AddAttribute(xml, u"SystemTime", s[kSystemTimeCreated]);
    xml += u"/>";
    AddElement(xml, u"EventRecordID", s[kSystemEventRecordId]);
    xml += u"<Correlation";
    AddAttribute(xml, u"ActivityID", s[kSystemActivityID]);
    AddAttribute(xml, u"RelatedActivityID", s[kSystemRelatedActivityID]);
    xml += u"/><Execution";
    AddAttribute(xml, u"ProcessID", s[kSystemProcessID]);
    AddAttribute(xml, u"ThreadID", s[kSystemThreadID]);
    xml += u"/>";
    AddElement(xml, u"Channel", s[kSystemChannel]);
    AddElement(xml, u"Computer", s[kSystemComputer]);
    xml += u"<Security";
    AddAttribute(xml, u"UserID", s[kSystemUserID]);
    xml += u"/></System><EventData>";
    for (const EventValue& value : record.user) AddElement(xml, u"Data", value);
    xml += u"</EventData></Event>";
    return xml;
}

}  // namespace winsim
