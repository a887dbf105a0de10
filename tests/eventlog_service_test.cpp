// winsim's event-log service driven through "Wevtapi.dll" as the module drives it: the
// library, rendering, queries and message texts.
#include <gtest/gtest.h>

#include "common/text.h"
#include "tests/wevtapi.h"
#include "winsim/accounts.h"
#include "winsim/eventlog.h"
#include "winsim/system_libraries.h"

namespace vantel {
namespace {

using testing::Wevtapi;
using winsim::EventRecord;
using winsim::EventValue;

// 2021-01-01 00:00:00.999 UTC.
constexpr uint64_t kNewYear2021 = 132'539'328'000'000'000ull + 9'990'000;
constexpr Guid kProviderGuid = {0x54849625, 0x5478, 0x4994, {0xA5, 0xBA, 0x3E, 0x3B, 0x03, 0x28, 0xC3, 0x0D}};

std::u16string Text(const evt::Variant& cell) { return FromWide(cell.stringVal); }

class EventLogService : public ::testing::Test {
protected:
    void SetUp() override {
        winsim::ResetEventLog();
        handles_ = winsim::OpenEventLogHandleCount();
        ASSERT_NE(api_.library, nullptr);
    }
    void TearDown() override { EXPECT_EQ(winsim::OpenEventLogHandleCount(), handles_) << "every handle is closed"; }

    // The records the query finds, as event handles, in the order EvtNext returns them.
    std::vector<evt::Handle> Query(const char16_t* channel, const char16_t* query, uint32_t direction) {
        std::vector<evt::Handle> events;
        evt::Handle results = api_.query(nullptr, ToWide(channel), ToWide(query), evt::kQueryChannelPath | direction);
        EXPECT_NE(results, nullptr) << platform::LastError();
        evt::Handle batch[10];
        uint32_t returned = 0;
        while (api_.next(results, 10, batch, 0xFFFFFFFF, 0, &returned))
            events.insert(events.end(), batch, batch + returned);
        EXPECT_EQ(platform::LastError(), evt::kErrorNoMoreItems);
        api_.close(results);
        return events;
    }
    std::vector<uint16_t> EventIds(const char16_t* channel, const char16_t* query, uint32_t direction) {
        std::vector<uint16_t> ids;
        for (evt::Handle event : Query(channel, query, direction)) {
            ids.push_back(api_.EventId(event));
            api_.close(event);
        }
        return ids;
    }
    evt::Handle OnlyEvent(const char16_t* channel) {
        std::vector<evt::Handle> events = Query(channel, u"*", evt::kQueryForwardDirection);
        EXPECT_EQ(events.size(), 1u);
        return events.empty() ? nullptr : events[0];
    }

    Wevtapi api_;
    size_t handles_ = 0;
};

TEST_F(EventLogService, LibraryHasTheEightEntryPointsAndExportsCanBeRemoved) {
    EXPECT_TRUE(api_.query && api_.next && api_.close && api_.createRenderContext && api_.render &&
                api_.openPublisherMetadata && api_.formatMessage && api_.subscribe);
    EXPECT_EQ(api_.Resolve<void*>("EvtExportLog"), nullptr);
    EXPECT_EQ(platform::LastError(), 127u);
    EXPECT_EQ(platform::LoadSystemLibrary(u"advapi32.dll"), nullptr);
    EXPECT_EQ(platform::LastError(), 126u);

    winsim::RemoveLibraryExport(u"WEVTAPI.DLL", "EvtSubscribe");
    EXPECT_EQ(api_.Resolve<void*>("EvtSubscribe"), nullptr) << "a removed export is gone from a loaded library";
    EXPECT_NE(api_.Resolve<void*>("EvtRender"), nullptr);
    winsim::RestoreLibraryExport(u"Wevtapi.dll", "EvtSubscribe");
    EXPECT_NE(api_.Resolve<void*>("EvtSubscribe"), nullptr);

    winsim::RemoveLibraryExport(u"Wevtapi.dll", "");
    EXPECT_EQ(platform::LoadSystemLibrary(u"wevtapi.dll"), nullptr);
    EXPECT_EQ(platform::LastError(), 126u);
    winsim::RestoreLibraryExport(u"Wevtapi.dll", "");
    platform::LibraryHandle again = platform::LoadSystemLibrary(u"wevtapi.dll");
    EXPECT_NE(again, nullptr);
    platform::FreeLibraryHandle(again);
}

TEST_F(EventLogService, SystemValuesRenderInThePlatformOrderAndLayout) {
    std::vector<uint8_t> system = winsim::SidFromText(u"S-1-5-18");
    uint64_t id = winsim::PublishEvent(EventRecord(u"Security", u"Microsoft-Windows-Security-Auditing", 4624)
                                           .ProviderGuid(kProviderGuid).Level(0).Task(12544).Version(2)
                                           .TimeCreated(kNewYear2021).Computer(u"HOST-1").UserSid(system));
    EXPECT_EQ(id, 1u) << "the channel's first record";
    evt::Handle event = OnlyEvent(u"Security");
    evt::Handle context = api_.createRenderContext(0, nullptr, evt::kRenderContextSystem);

    uint32_t used = 0, count = 0;
    EXPECT_FALSE(api_.render(context, event, evt::kRenderEventValues, 0, nullptr, &used, &count));
    EXPECT_EQ(platform::LastError(), evt::kErrorInsufficientBuffer);
    EXPECT_EQ(count, 18u);
    ASSERT_GT(used, 18 * sizeof(evt::Variant));
    std::vector<uint8_t> buffer(used);
    uint32_t needed = used;
    EXPECT_FALSE(api_.render(context, event, evt::kRenderEventValues, needed - 1, buffer.data(), &used, &count));
    EXPECT_EQ(platform::LastError(), evt::kErrorInsufficientBuffer);
    EXPECT_EQ(used, needed);
    ASSERT_TRUE(api_.render(context, event, evt::kRenderEventValues, needed, buffer.data(), &used, &count));
    api_.close(context);

    const evt::Variant* v = Wevtapi::Cells(buffer);
    auto inBuffer = [&](const void* p) { return p >= buffer.data() && p < buffer.data() + buffer.size(); };
    EXPECT_EQ(v[evt::kSystemProviderName].type, evt::kTypeString);
    EXPECT_TRUE(inBuffer(v[evt::kSystemProviderName].stringVal)) << "the data follows the cells in the one buffer";
    EXPECT_EQ(Text(v[evt::kSystemProviderName]), u"Microsoft-Windows-Security-Auditing");
    EXPECT_EQ(v[evt::kSystemProviderGuid].type, evt::kTypeGuid);
    EXPECT_TRUE(SameGuid(*v[evt::kSystemProviderGuid].guidVal, kProviderGuid));
    EXPECT_EQ(v[evt::kSystemEventID].type, evt::kTypeUInt16);
    EXPECT_EQ(v[evt::kSystemEventID].uInt16Val, 4624);
    EXPECT_EQ(v[evt::kSystemQualifiers].type, evt::kTypeNull);
    EXPECT_EQ(v[evt::kSystemLevel].type, evt::kTypeByte);
    EXPECT_EQ(v[evt::kSystemLevel].byteVal, 0);
    EXPECT_EQ(v[evt::kSystemTask].uInt16Val, 12544);
    EXPECT_EQ(v[evt::kSystemKeywords].type, evt::kTypeHexInt64);
    EXPECT_EQ(v[evt::kSystemTimeCreated].type, evt::kTypeFileTime);
    EXPECT_EQ(v[evt::kSystemTimeCreated].fileTimeVal, kNewYear2021);
    EXPECT_EQ(v[evt::kSystemEventRecordId].type, evt::kTypeUInt64);
    EXPECT_EQ(v[evt::kSystemEventRecordId].uInt64Val, 1u);
    EXPECT_EQ(v[evt::kSystemProcessID].type, evt::kTypeUInt32);
    EXPECT_EQ(Text(v[evt::kSystemChannel]), u"Security");
    EXPECT_EQ(Text(v[evt::kSystemComputer]), u"HOST-1");
    EXPECT_EQ(v[evt::kSystemUserID].type, evt::kTypeSid);
    EXPECT_TRUE(inBuffer(v[evt::kSystemUserID].sidVal));
    EXPECT_EQ(winsim::SidText({v[evt::kSystemUserID].sidVal, v[evt::kSystemUserID].sidVal + system.size()}),
              u"S-1-5-18");
    EXPECT_EQ(v[evt::kSystemVersion].byteVal, 2);
    api_.close(event);
}

TEST_F(EventLogService, UserValuesKeepTheirTypesAndOrder) {
    const std::vector<uint8_t> bytes = {'S', 0, 'v', 0, 'c', 0};
    winsim::PublishEvent(EventRecord(u"System", u"Service Control Manager", 7036)
                             .Values({EventValue::String(u"Spooler"), EventValue::UInt32(0xFFFFFFFF),
                                      EventValue::HexInt32(0x3E7), EventValue::HexInt64(0x123456789ull),
                                      EventValue::SizeT(42), EventValue::UInt16(7), EventValue::Byte(255),
                                      EventValue::Sid(winsim::SidFromText(u"S-1-5-32-544")),
                                      EventValue::Guid(kProviderGuid), EventValue::FileTime(kNewYear2021),
                                      EventValue::Binary(bytes), EventValue::Boolean(true), EventValue::Null()}));
    evt::Handle event = OnlyEvent(u"System");
    uint32_t count = 0;
    std::vector<uint8_t> buffer = api_.RenderValues(event, evt::kRenderContextUser, &count);
    ASSERT_EQ(count, 13u);
    const evt::Variant* v = Wevtapi::Cells(buffer);
    const uint32_t types[] = {evt::kTypeString, evt::kTypeUInt32,  evt::kTypeHexInt32, evt::kTypeHexInt64,
                              evt::kTypeSizeT,  evt::kTypeUInt16,  evt::kTypeByte,     evt::kTypeSid,
                              evt::kTypeGuid,   evt::kTypeFileTime, evt::kTypeBinary,  evt::kTypeBoolean,
                              evt::kTypeNull};
    for (uint32_t i = 0; i < count; ++i) EXPECT_EQ(v[i].type, types[i]) << "value " << i;
    EXPECT_EQ(Text(v[0]), u"Spooler");
    EXPECT_EQ(v[1].uInt32Val, 0xFFFFFFFFu);
    EXPECT_EQ(v[2].uInt32Val, 0x3E7u);
    EXPECT_EQ(v[3].uInt64Val, 0x123456789ull);
    EXPECT_EQ(v[4].uInt64Val, 42u);
    EXPECT_EQ(v[5].uInt16Val, 7);
    EXPECT_EQ(v[6].byteVal, 255);
    EXPECT_EQ(winsim::SidText({v[7].sidVal, v[7].sidVal + 16}), u"S-1-5-32-544");
    EXPECT_TRUE(SameGuid(*v[8].guidVal, kProviderGuid));
    EXPECT_EQ(v[9].fileTimeVal, kNewYear2021);
    ASSERT_EQ(v[10].count, bytes.size()) << "a binary value counts its bytes";
    EXPECT_EQ(std::vector<uint8_t>(v[10].binaryVal, v[10].binaryVal + v[10].count), bytes);
    EXPECT_EQ(v[11].booleanVal, 1);
    api_.close(event);

    winsim::PublishEvent(EventRecord(u"Setup", u"Servicing", 1));
    event = OnlyEvent(u"Setup");
    evt::Handle context = api_.createRenderContext(0, nullptr, evt::kRenderContextUser);
    uint32_t used = 99;
    EXPECT_TRUE(api_.render(context, event, evt::kRenderEventValues, 0, nullptr, &used, &count))
        << "no user values need no buffer";
    EXPECT_EQ(used, 0u);
    EXPECT_EQ(count, 0u);
    api_.close(context);
    api_.close(event);
}

// Recordings store arrays, SYSTEMTIMEs, ANSI text and signed numbers; they render as the platform
// lays them out, and their XML repeats an array's element once per item.
TEST_F(EventLogService, ArraysAndRecordedTypesRenderAsStored) {
    const uint8_t systemTime[16] = {0xE5, 0x07, 3, 0, 2, 0, 9, 0, 14, 0, 30, 0, 5, 0, 0x7B, 0};  // 2021-03-09 14:30:05.123
    winsim::PublishEvent(
        EventRecord(u"System", u"EventLog", 6009)
            .Values({EventValue::Array(evt::kTypeString, {EventValue::String(u"10.00."), EventValue::String(u""),
                                                          EventValue::String(u"a<b")}),
                     EventValue::Array(evt::kTypeUInt32, {EventValue::UInt32(7), EventValue::UInt32(0xFFFFFFFF)}),
                     EventValue::Array(evt::kTypeSid, {EventValue::Sid(winsim::SidFromText(u"S-1-5-18"))}),
                     EventValue::SysTime(systemTime), EventValue::AnsiString({'o', 'l', 'd'}),
                     EventValue::Number(evt::kTypeInt32, static_cast<uint64_t>(-5))}));
    evt::Handle event = OnlyEvent(u"System");
    uint32_t count = 0;
    std::vector<uint8_t> buffer = api_.RenderValues(event, evt::kRenderContextUser, &count);
    ASSERT_EQ(count, 6u);
    const evt::Variant* v = Wevtapi::Cells(buffer);
    auto inBuffer = [&](const void* at) { return at >= buffer.data() && at < buffer.data() + buffer.size(); };

    EXPECT_EQ(v[0].type, evt::kTypeString | evt::kTypeArrayMask);
    ASSERT_EQ(v[0].count, 3u);
    auto strings = reinterpret_cast<const WChar* const*>(v[0].binaryVal);
    ASSERT_TRUE(inBuffer(strings));
    EXPECT_EQ(FromWide(strings[0]), u"10.00.");
    EXPECT_EQ(FromWide(strings[1]), u"");
    EXPECT_EQ(FromWide(strings[2]), u"a<b");
    EXPECT_TRUE(inBuffer(strings[2]));

    EXPECT_EQ(v[1].type, evt::kTypeUInt32 | evt::kTypeArrayMask);
    ASSERT_EQ(v[1].count, 2u);
    uint32_t numbers[2];
    std::memcpy(numbers, v[1].binaryVal, sizeof numbers);
    EXPECT_EQ(numbers[0], 7u);
    EXPECT_EQ(numbers[1], 0xFFFFFFFFu);

    ASSERT_EQ(v[2].count, 1u);
    auto sids = reinterpret_cast<const uint8_t* const*>(v[2].binaryVal);
    EXPECT_EQ(winsim::SidText({sids[0], sids[0] + 12}), u"S-1-5-18");

    EXPECT_EQ(v[3].type, evt::kTypeSysTime);
    ASSERT_TRUE(inBuffer(v[3].binaryVal));
    EXPECT_EQ(std::memcmp(v[3].binaryVal, systemTime, 16), 0);
    EXPECT_EQ(v[4].type, evt::kTypeAnsiString);
    EXPECT_STREQ(v[4].ansiStringVal, "old");
    EXPECT_EQ(v[5].int32Val, -5);

    std::u16string xml = api_.RenderXml(event);
    EXPECT_NE(xml.find(u"<EventData><Data>10.00.</Data><Data></Data><Data>a&lt;b</Data>"
                       u"<Data>7</Data><Data>4294967295</Data><Data>S-1-5-18</Data>"
                       u"<Data>2021-03-09T14:30:05.123Z</Data><Data>old</Data><Data>-5</Data></EventData>"),
              std::u16string::npos)
        << ToUtf8(xml);
    api_.close(event);
}

TEST_F(EventLogService, XmlIsThePublishersOrGeneratedFromTheValues) {
    winsim::PublishEvent(EventRecord(u"Security", u"Microsoft-Windows-Eventlog", 1102)
                             .TimeCreated(kNewYear2021).UserSid(winsim::SidFromText(u"S-1-5-18"))
                             .Values({EventValue::String(u"a&b<c>"), EventValue::HexInt64(0x3E7)}));
    winsim::PublishEvent(EventRecord(u"Security", u"Custom", 5).Xml(u"<Event>given</Event>"));
    std::vector<evt::Handle> events = Query(u"Security", u"*", evt::kQueryForwardDirection);
    ASSERT_EQ(events.size(), 2u);

    uint32_t used = 0, count = 0;
    EXPECT_FALSE(api_.render(nullptr, events[0], evt::kRenderEventXml, 0, nullptr, &used, &count));
    EXPECT_EQ(platform::LastError(), evt::kErrorInsufficientBuffer);
    ASSERT_EQ(used % 2, 0u);
    std::u16string xml(used / 2, u'?');
    ASSERT_TRUE(api_.render(nullptr, events[0], evt::kRenderEventXml, used, xml.data(), &used, &count));
    EXPECT_EQ(xml.back(), u'\0') << "sized in bytes, terminator included";
    for (const char16_t* part : {u"<Provider Name='Microsoft-Windows-Eventlog'/>", u"<EventID>1102</EventID>",
                                 u"<TimeCreated SystemTime='2021-01-01T00:00:00.9990000Z'/>",
                                 u"<EventRecordID>1</EventRecordID>", u"<Channel>Security</Channel>",
                                 u"<Security UserID='S-1-5-18'/>", u"<Data>a&amp;b&lt;c&gt;</Data><Data>0x3e7</Data>"})
        EXPECT_NE(xml.find(part), std::u16string::npos) << ToUtf8(part) << " in " << ToUtf8(xml);

    std::u16string given(64, u'?');
    ASSERT_TRUE(api_.render(nullptr, events[1], evt::kRenderEventXml, 128, given.data(), &used, &count));
    EXPECT_EQ(given.substr(0, used / 2), std::u16string(u"<Event>given</Event>\0", 21));

    evt::Handle context = api_.createRenderContext(0, nullptr, evt::kRenderContextSystem);
    EXPECT_FALSE(api_.render(context, context, evt::kRenderEventValues, 0, nullptr, &used, &count));
    EXPECT_EQ(platform::LastError(), 6u) << "a render context is no event";
    EXPECT_FALSE(api_.render(events[0], events[0], evt::kRenderEventValues, 0, nullptr, &used, &count));
    EXPECT_EQ(platform::LastError(), 6u) << "an event is no render context";
    for (evt::Handle event : events) EXPECT_TRUE(api_.close(event));
    EXPECT_TRUE(api_.close(context));
    EXPECT_FALSE(api_.close(context));
    EXPECT_EQ(platform::LastError(), 6u) << "a handle closes once";
}

// The escaping scans eight characters a step: each special character is tried at every place in
// and across those steps, and in the characters left over after them.
TEST(EventXml, EscapesEachSpecialCharacterWhereverItStands) {
    auto escapedOneByOne = [](std::u16string_view text) {
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
    };
    for (char16_t special : std::u16string_view(u"&<>'\"")) {
        for (size_t length = 0; length <= 27; ++length) {
            for (size_t at = 0; at < length; ++at) {
                // Plain characters around it, below, between and far above the special ones.
                std::u16string text(length, u'%');
                for (size_t i = 0; i < length; i += 3) text[i] = i % 2 ? u'=' : u'\x263A';
                text[at] = special;
                if (at + 9 < length) text[at + 9] = special;  // a second one, a step further
                EXPECT_EQ(winsim::XmlEscaped(text), escapedOneByOne(text)) << ToUtf8(text);
            }
        }
    }
    EXPECT_EQ(winsim::XmlEscaped(u"plain text with no special character"), u"plain text with no special character");
}

TEST_F(EventLogService, AClosedHandleStaysInvalidOnceAnotherObjectTakesItsPlace) {
    winsim::PublishEvent(EventRecord(u"Security", u"Microsoft-Windows-Eventlog", 1102).TimeCreated(kNewYear2021));
    evt::Handle closed = api_.createRenderContext(0, nullptr, evt::kRenderContextSystem);
    ASSERT_TRUE(api_.close(closed));
    evt::Handle context = api_.createRenderContext(0, nullptr, evt::kRenderContextSystem);
    evt::Handle event = OnlyEvent(u"Security");
    uint32_t used = 0, count = 0;
    EXPECT_FALSE(api_.render(closed, event, evt::kRenderEventValues, 0, nullptr, &used, &count));
    EXPECT_EQ(platform::LastError(), 6u);
    EXPECT_FALSE(api_.close(closed));
    EXPECT_FALSE(api_.render(context, event, evt::kRenderEventValues, 0, nullptr, &used, &count));
    EXPECT_EQ(platform::LastError(), evt::kErrorInsufficientBuffer) << "the new context is open";
    ASSERT_TRUE(api_.close(event));
    EXPECT_FALSE(api_.render(context, event, evt::kRenderEventValues, 0, nullptr, &used, &count));
    EXPECT_EQ(platform::LastError(), 6u) << "a closed event";
    EXPECT_FALSE(api_.close(event));
    EXPECT_TRUE(api_.close(context));
}

TEST_F(EventLogService, QueriesReadAChannelInBothDirectionsThroughTheFilter) {
    for (uint16_t id = 7000; id < 7025; ++id) winsim::PublishEvent(EventRecord(u"System", u"Service Control Manager", id));
    winsim::PublishEvent(EventRecord(u"Application", u"App", 1));
    std::vector<uint16_t> forward = EventIds(u"System", u"*", evt::kQueryForwardDirection);
    ASSERT_EQ(forward.size(), 25u) << "three batches of EvtNext, then no more items";
    EXPECT_EQ(forward.front(), 7000);
    EXPECT_EQ(forward.back(), 7024);
    std::vector<uint16_t> reverse = EventIds(u"system", nullptr, evt::kQueryReverseDirection);
    EXPECT_EQ(std::vector<uint16_t>(reverse.rbegin(), reverse.rend()), forward);
    EXPECT_EQ(EventIds(u"System", u"*[System[(EventID=7003 or EventID=7001 or EventID=9)]]",
                       evt::kQueryForwardDirection),
              (std::vector<uint16_t>{7001, 7003}));
    EXPECT_EQ(EventIds(u"System", u"*[System[EventID>=7023]]", evt::kQueryReverseDirection),
              (std::vector<uint16_t>{7024, 7023}));

    EXPECT_EQ(api_.query(nullptr, u"Missing", u"*", evt::kQueryChannelPath), nullptr);
    EXPECT_EQ(platform::LastError(), evt::kErrorChannelNotFound);
    EXPECT_EQ(api_.query(nullptr, u"System", u"*[System[EventID=]]", evt::kQueryChannelPath), nullptr);
    EXPECT_EQ(platform::LastError(), evt::kErrorInvalidQuery);
}

TEST_F(EventLogService, HistoryQueriesSelectByLevelAndAge) {
    constexpr uint64_t kHour = 36'000'000'000ull;
    uint64_t now = winsim::FileTimeNow();
    winsim::PublishEvent(EventRecord(u"Application", u"App", 1).Level(2).TimeCreated(now - 48 * kHour));
    winsim::PublishEvent(EventRecord(u"Application", u"App", 2).Level(2).TimeCreated(now - kHour));
    winsim::PublishEvent(EventRecord(u"Application", u"App", 3).Level(4).TimeCreated(now - kHour));
    EXPECT_EQ(EventIds(u"Application", u"*[System[TimeCreated[timediff(@SystemTime) <= 86400000]]]",
                       evt::kQueryReverseDirection),
              (std::vector<uint16_t>{3, 2}));
    EXPECT_EQ(EventIds(u"Application", u"*[System[(Level=2) and TimeCreated[timediff(@SystemTime) <= 86400000]]]",
                       evt::kQueryReverseDirection),
              (std::vector<uint16_t>{2}));
    EXPECT_EQ(EventIds(u"Application", u"*[System[Level=2]]", evt::kQueryReverseDirection),
              (std::vector<uint16_t>{2, 1}));
}

TEST_F(EventLogService, MessagesInsertTheUserValues) {
    winsim::SetPublisherMessages(u"Service Control Manager",
                                 {.events = {{7036, u"The %1 service entered the %2 state.%3"}},
                                  .levels = {{4, u"Information"}},
                                  .tasks = {{3, u"Service State"}}});
    winsim::PublishEvent(EventRecord(u"System", u"Service Control Manager", 7036)
                             .Task(3).Values({EventValue::String(u"Print Spooler"), EventValue::String(u"running")}));
    winsim::PublishEvent(EventRecord(u"System", u"Service Control Manager", 7045));
    std::vector<evt::Handle> events = Query(u"System", u"*", evt::kQueryForwardDirection);
    ASSERT_EQ(events.size(), 2u);
    evt::Handle publisher = api_.openPublisherMetadata(nullptr, u"service control manager", nullptr, 0, 0);
    ASSERT_NE(publisher, nullptr);

    auto format = [&](evt::Handle event, uint32_t flags) {
        uint32_t used = 0;
        if (api_.formatMessage(publisher, event, 0, 0, nullptr, flags, 0, nullptr, &used) ||
            platform::LastError() != evt::kErrorInsufficientBuffer)
            return u"error " + FromUtf8(std::to_string(platform::LastError()));
        std::u16string text(used, u'?');
        auto* buffer = reinterpret_cast<WChar*>(text.data());
        if (!api_.formatMessage(publisher, event, 0, 0, nullptr, flags, used, buffer, &used))
            return std::u16string(u"failed");
        EXPECT_EQ(text.back(), u'\0') << "sized in characters, terminator included";
        text.pop_back();
        return text;
    };
    EXPECT_EQ(format(events[0], evt::kFormatMessageEvent), u"The Print Spooler service entered the running state.%3");
    EXPECT_EQ(format(events[0], evt::kFormatMessageLevel), u"Information");
    EXPECT_EQ(format(events[0], evt::kFormatMessageTask), u"Service State");
    EXPECT_EQ(format(events[1], evt::kFormatMessageTask), u"error 15027") << "task 0 has no name";

    char16_t untouched[] = u"sentinel";
    uint32_t used = 0;
    EXPECT_FALSE(api_.formatMessage(publisher, events[1], 0, 0, nullptr, evt::kFormatMessageEvent, 8,
                                    reinterpret_cast<WChar*>(untouched), &used));
    EXPECT_EQ(platform::LastError(), evt::kErrorMessageNotFound);
    EXPECT_EQ(std::u16string(untouched, 8), u"sentinel") << "nothing is written";

    EXPECT_EQ(api_.openPublisherMetadata(nullptr, u"Unknown Provider", nullptr, 0, 0), nullptr);
    EXPECT_EQ(platform::LastError(), 2u);
    api_.close(publisher);
    for (evt::Handle event : events) api_.close(event);
}

}  // namespace
}  // namespace vantel
