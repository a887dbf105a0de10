#include "winsim/event_record.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstring>

#include "common/format.h"
#include "winsim/accounts.h"

namespace winsim {

using namespace vantel::evt;

namespace {

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kDaysFrom1601To1970 = 134'774;

// A short text built in place and appended at once: a time or a GUID is a dozen pieces. Holds
// the longest of them (a SYSTEMTIME's eight words in full) with room to spare.
class ShortText {
public:
    ShortText& operator<<(char16_t c) {
        chars_[size_++] = c;
        return *this;
    }
    // At least `width` digits (at most 16), zero-padded. The base is a constant so that no digit
    // costs a division.
    template <unsigned kBase = 10>
    ShortText& Number(uint64_t number, unsigned width = 1, const char16_t* symbols = u"0123456789ABCDEF") {
        char16_t digits[64];  // filled from the end
        char16_t* first = std::end(digits);
        do {
            *--first = symbols[number % kBase];
            number /= kBase;
        } while (number != 0);
        while (std::end(digits) - first < static_cast<ptrdiff_t>(width)) *--first = u'0';
        size_ = static_cast<size_t>(std::copy(first, std::end(digits), chars_ + size_) - chars_);
        return *this;
    }
    void AppendTo(std::u16string& out) const { out.append(chars_, size_); }

private:
    char16_t chars_[96];
    size_t size_ = 0;
};

template <unsigned kBase = 10>
void AppendNumber(std::u16string& out, uint64_t number, unsigned width = 1,
                  const char16_t* symbols = u"0123456789ABCDEF") {
    ShortText().Number<kBase>(number, width, symbols).AppendTo(out);
}

// Civil date of a day counted from 1970-01-01, in eras of 400 years starting in March.
void PutDate(ShortText& text, int64_t days) {
    days += 719'468;
    int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
    int64_t dayOfEra = days - era * 146'097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1'460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    text.Number(static_cast<uint64_t>(year), 4) << u'-';
    text.Number(static_cast<uint64_t>(month), 2) << u'-';
    text.Number(static_cast<uint64_t>(day), 2);
}

void PutClock(ShortText& text, uint64_t hour, uint64_t minute, uint64_t second) {
    text << u'T';
    text.Number(hour, 2) << u':';
    text.Number(minute, 2) << u':';
    text.Number(second, 2) << u'.';
}

// "2021-01-01T00:00:00.9990000Z", the form of the XML's SystemTime.
void AppendFileTime(std::u16string& out, uint64_t ticks) {
    ShortText text;
    PutDate(text, static_cast<int64_t>(ticks / (kTicksPerSecond * 86'400)) - kDaysFrom1601To1970);
    uint64_t secondOfDay = ticks / kTicksPerSecond % 86'400;
    PutClock(text, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
    text.Number(ticks % kTicksPerSecond, 7) << u'Z';
    text.AppendTo(out);
}

// A SYSTEMTIME's eight words: "2021-01-01T00:00:00.999Z".
void AppendSysTime(std::u16string& out, const std::vector<uint8_t>& bytes) {
    uint16_t word[8] = {};
    std::memcpy(word, bytes.data(), std::min(bytes.size(), sizeof word));
    ShortText text;
    text.Number(word[0], 4) << u'-';
    text.Number(word[1], 2) << u'-';
    text.Number(word[3], 2);
    PutClock(text, word[4], word[5], word[6]);
    text.Number(word[7], 3) << u'Z';
    text.AppendTo(out);
}

void AppendGuid(std::u16string& out, const std::vector<uint8_t>& bytes) {
    vantel::Guid guid{};
    std::memcpy(&guid, bytes.data(), std::min(bytes.size(), sizeof guid));
    ShortText text;
    text << u'{';
    text.Number<16>(guid.data1, 8) << u'-';
    text.Number<16>(guid.data2, 4) << u'-';
    text.Number<16>(guid.data3, 4);
    for (size_t i = 0; i < 8; ++i) {
        if (i == 0 || i == 2) text << u'-';
        text.Number<16>(guid.data4[i], 2);
    }
    (text << u'}').AppendTo(out);
}

template <typename Real>
void AppendReal(std::u16string& out, uint64_t bits) {
    Real real;
    std::memcpy(&real, &bits, sizeof real);
    char text[64];
    auto [end, error] = std::to_chars(text, text + sizeof text, real);
    out.append(text, end);
}

}  // namespace

namespace {

// Where the first of XML's five special characters is at or after `from`; the text's size when
// none is. Eight characters a step: texts run to kilobytes and hardly ever hold one.
size_t FirstSpecial(std::u16string_view text, size_t from) {
    using Lanes = uint16_t __attribute__((vector_size(16)));
    constexpr size_t kLanes = sizeof(Lanes) / sizeof(char16_t);
    for (; from + kLanes <= text.size(); from += kLanes) {
        Lanes chars;
        std::memcpy(&chars, text.data() + from, sizeof chars);
        auto is = [&](char16_t c) { return chars == static_cast<uint16_t>(c); };  // all ones where equal
        auto special = is(u'&') | is(u'<') | is(u'>') | is(u'\'') | is(u'"');
        uint64_t halves[2];
        std::memcpy(halves, &special, sizeof halves);
        if ((halves[0] | halves[1]) != 0) break;
    }
    // The rest one at a time, the five as bits.
    constexpr uint64_t kSpecial = 1ull << u'&' | 1ull << u'<' | 1ull << u'>' | 1ull << u'\'' | 1ull << u'"';
    for (; from < text.size(); ++from)
        if (text[from] < 64 && (kSpecial >> text[from] & 1)) break;
    return from;
}

}  // namespace

void AppendXmlEscaped(std::u16string& out, std::u16string_view text) {
    for (size_t plain = 0;;) {  // plain: start of the run not yet appended
        size_t special = FirstSpecial(text, plain);
        out.append(text.substr(plain, special - plain));
        if (special == text.size()) return;
        switch (text[special]) {
            case u'&': out += u"&amp;"; break;
            case u'<': out += u"&lt;"; break;
            case u'>': out += u"&gt;"; break;
            case u'\'': out += u"&apos;"; break;
            default: out += u"&quot;"; break;
        }
        plain = special + 1;
    }
}

std::u16string XmlEscaped(std::u16string_view text) {
    std::u16string out;
    AppendXmlEscaped(out, text);
    return out;
}

void AppendXmlElement(std::u16string& xml, std::u16string_view name, std::u16string_view attributes,
                      const EventValue& value) {
    auto element = [&](const EventValue& content) {
        xml.append(1, u'<').append(name).append(attributes).append(1, u'>');
        AppendXmlText(xml, content);
        xml.append(u"</").append(name).append(1, u'>');
    };
    if (!IsArray(value)) return element(value);
    for (const EventValue& item : value.items) element(item);
}

void AppendXmlText(std::u16string& xml, const EventValue& value) {
    if (value.type == kTypeString) return AppendXmlEscaped(xml, value.text);
    if (value.type == kTypeAnsiString || IsArray(value)) return AppendXmlEscaped(xml, ValueText(value));
    AppendValueText(xml, value);  // numbers, times, SIDs, GUIDs and hex: nothing to escape
}

namespace {

void AddElement(std::u16string& xml, const char16_t* name, const EventValue& value) {
    AppendXmlElement(xml, name, {}, value);
}

// An attribute of a value that may be absent: a Null one is left out, as the platform does.
void AddAttribute(std::u16string& xml, const char16_t* name, const EventValue& value) {
    if (value.type == kTypeNull) return;
    xml.append(1, u' ').append(name).append(u"='");
    AppendXmlText(xml, value);
    xml += u'\'';
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

EventValue EventValue::AnsiString(std::vector<uint8_t> characters) {
    EventValue value;
    value.type = kTypeAnsiString;
    value.bytes = std::move(characters);
    return value;
}

EventValue EventValue::SysTime(const uint8_t (&systemTime)[16]) {
    EventValue value;
    value.type = kTypeSysTime;
    value.bytes.assign(systemTime, systemTime + 16);
    return value;
}

EventValue EventValue::Array(uint32_t elementType, std::vector<EventValue> items) {
    EventValue value;
    value.type = elementType | kTypeArrayMask;
    value.items = std::move(items);
    return value;
}

namespace {
std::atomic<uint64_t> g_frozenClock{0};
}  // namespace

void SetFrozenClock(uint64_t ticks) { g_frozenClock = ticks; }

uint64_t FileTimeNow() {
    if (uint64_t frozen = g_frozenClock) return frozen;
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

bool IsArray(const EventValue& value) { return (value.type & kTypeArrayMask) != 0; }

size_t FixedSize(uint32_t elementType) {
    switch (elementType) {
        case kTypeSByte:
        case kTypeByte: return 1;
        case kTypeInt16:
        case kTypeUInt16: return 2;
        case kTypeInt32:
        case kTypeUInt32:
        case kTypeHexInt32:
        case kTypeSingle:
        case kTypeBoolean: return 4;
        case kTypeInt64:
        case kTypeUInt64:
        case kTypeHexInt64:
        case kTypeDouble:
        case kTypeFileTime: return 8;
        case kTypeGuid:
        case kTypeSysTime: return 16;
        default: return 0;
    }
}

void AppendValueText(std::u16string& out, const EventValue& value) {
    switch (value.type) {
        case kTypeNull: return;
        case kTypeString: out += value.text; return;
        case kTypeAnsiString: out.append(value.bytes.begin(), value.bytes.end()); return;
        case kTypeBoolean: out += value.number ? u"true" : u"false"; return;
        case kTypeSByte:
        case kTypeInt16:
        case kTypeInt32:
        case kTypeInt64: {
            auto number = static_cast<int64_t>(value.number);
            if (number < 0) out += u'-';
            // Magnitude without overflow for the most negative number.
            AppendNumber(out, number < 0 ? ~value.number + 1 : value.number);
            return;
        }
        case kTypeSingle: return AppendReal<float>(out, value.number);
        case kTypeDouble: return AppendReal<double>(out, value.number);
        case kTypeHexInt32:
        case kTypeHexInt64:
            out += u"0x";
            return AppendNumber<16>(out, value.number, 1, u"0123456789abcdef");
        case kTypeFileTime: return AppendFileTime(out, value.number);
        case kTypeSysTime: return AppendSysTime(out, value.bytes);
        case kTypeSid: return AppendSidText(out, value.bytes);
        case kTypeGuid: return AppendGuid(out, value.bytes);
        case kTypeBinary: {
            // Two digits a byte, written in place: binary values run to kilobytes.
            constexpr char16_t kDigits[] = u"0123456789ABCDEF";
            size_t at = out.size();
            out.resize(at + 2 * value.bytes.size());
            for (uint8_t byte : value.bytes) {
                out[at++] = kDigits[byte >> 4];
                out[at++] = kDigits[byte & 0xF];
            }
            return;
        }
        default:
            if (!IsArray(value)) return AppendNumber(out, value.number);
            for (size_t i = 0; i < value.items.size(); ++i) {
                if (i > 0) out += u',';
                AppendValueText(out, value.items[i]);
            }
    }
}

std::u16string ValueText(const EventValue& value) {
    std::u16string text;
    AppendValueText(text, value);
    return text;
}

std::u16string EventXml(const EventRecord& record) {
    if (!record.xml.empty()) return record.xml;
    const auto& s = record.system;
    std::u16string xml = u"<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider";
    AddAttribute(xml, u"Name", s[kSystemProviderName]);
    AddAttribute(xml, u"Guid", s[kSystemProviderGuid]);
    xml += u"/><EventID";
    AddAttribute(xml, u"Qualifiers", s[kSystemQualifiers]);
    xml += u'>';
    AppendXmlText(xml, s[kSystemEventID]);
    xml += u"</EventID>";
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
