#include "winsim/eventlog_api.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "common/text.h"
#include "platform/errors.h"
#include "winsim/eventlog_service.h"
#include "winsim/last_error.h"

namespace winsim {

using namespace vantel::evt;
namespace errors = vantel::platform;

namespace {

struct QueryResult {
    std::mutex lock;
    std::shared_ptr<QueryReading> reading;
};

// The handles of the entry points' own objects; records and subscriptions have theirs in the service.
struct Handles {
    HandleTable<uint32_t> renderContexts;  // the context's flags
    HandleTable<std::shared_ptr<QueryResult>> queries;
    HandleTable<std::shared_ptr<const PublisherMessages>> publishers;  // the metadata as it was opened
    HandleTable<BookmarkPositions> bookmarks;
};

Handles& TheHandles() {
    static Handles* handles = new Handles;
    return *handles;
}

uintptr_t ValueOf(Handle handle) { return reinterpret_cast<uintptr_t>(handle); }
Handle HandleOf(uintptr_t value) { return reinterpret_cast<Handle>(value); }

template <typename Result>
Result Fail(uint32_t error, Result result) {
    SetLastError(error);
    return result;
}

// Nothing thrown inside leaves an entry point: it becomes the call's error.
template <typename Result, typename Body>
Result Guarded(Result failed, Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        SetLastError(errors::kErrorOutOfMemory);
    } catch (...) {
        SetLastError(errors::kErrorInternalError);
    }
    return failed;
}

size_t Aligned(size_t offset) { return (offset + 7) & ~size_t{7}; }

// Values being laid out into the caller's buffer in one pass: whatever passes its end is only
// counted, so the same pass measures what a buffer that is too small (or none) would need.
struct Layout {
    uint8_t* buffer;
    size_t capacity;
    size_t offset = 0;

    bool Fits(size_t at, size_t bytes) const { return buffer != nullptr && at + bytes <= capacity; }
};

// Room for data behind the cells, 8-byte aligned: its address, or null when it does not fit.
uint8_t* Reserve(Layout& out, size_t bytes) {
    out.offset = Aligned(out.offset);
    uint8_t* at = out.Fits(out.offset, bytes) ? out.buffer + out.offset : nullptr;
    out.offset += bytes;
    return at;
}

// Copies data behind the cells; returns where it went (null when measuring).
const uint8_t* Place(Layout& out, const void* data, size_t bytes, size_t terminator = 0) {
    uint8_t* at = Reserve(out, bytes + terminator);
    if (at != nullptr) {
        if (bytes > 0) std::memcpy(at, data, bytes);
        std::memset(at + bytes, 0, terminator);
    }
    return at;
}

// What a cell of a value held behind the cells points to: the text with its terminator, the
// whole structure of a GUID or SYSTEMTIME (a damaged one cut or zero-filled to its size), or the bytes.
const uint8_t* PlaceData(Layout& out, const EventValue& value) {
    switch (value.type) {
        case kTypeString:
            return Place(out, value.text.data(), value.text.size() * sizeof(char16_t), sizeof(char16_t));
        case kTypeAnsiString: return Place(out, value.bytes.data(), value.bytes.size(), 1);
        case kTypeGuid:
        case kTypeSysTime: {
            size_t size = FixedSize(value.type), kept = std::min(size, value.bytes.size());
            return Place(out, value.bytes.data(), kept, size - kept);
        }
        default: return Place(out, value.bytes.data(), value.bytes.size());
    }
}

// An array: its elements side by side, or for strings and SIDs the pointers to them.
const uint8_t* PlaceArray(Layout& out, const EventValue& array) {
    uint32_t type = array.type & ~kTypeArrayMask;
    size_t count = array.items.size();
    size_t size = type == kTypeSizeT ? sizeof(size_t) : FixedSize(type);
    if (size == 0) {
        uint8_t* pointers = Reserve(out, count * sizeof(void*));
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* data = PlaceData(out, array.items[i]);
            if (pointers != nullptr) std::memcpy(pointers + i * sizeof(void*), &data, sizeof data);
        }
        return pointers;
    }
    uint8_t* elements = Reserve(out, count * size);
    for (size_t i = 0; elements != nullptr && i < count; ++i) {
        const EventValue& item = array.items[i];
        // Numbers are little-endian on every platform the simulation runs on.
        bool raw = !item.bytes.empty();
        std::memset(elements + i * size, 0, size);
        std::memcpy(elements + i * size, raw ? item.bytes.data() : static_cast<const void*>(&item.number),
                    std::min(size, raw ? item.bytes.size() : sizeof item.number));
    }
    return elements;
}

// Lays the values out as the platform does: the array of cells, then the data they point to.
// Returns the bytes needed; the buffer holds the values when that is no more than its capacity.
size_t LayOutValues(std::span<const EventValue> values, uint8_t* buffer, size_t capacity) {
    Layout out{buffer, capacity, values.size() * sizeof(Variant)};
    for (size_t i = 0; i < values.size(); ++i) {
        const EventValue& value = values[i];
        Variant cell;
        std::memset(&cell, 0, sizeof cell);
        cell.type = value.type;
        switch (value.type) {
            case kTypeString:
            case kTypeAnsiString:
            case kTypeSid:
            case kTypeGuid:
            case kTypeSysTime: cell.binaryVal = PlaceData(out, value); break;
            case kTypeBinary:
                cell.count = static_cast<uint32_t>(value.bytes.size());
                cell.binaryVal = PlaceData(out, value);
                break;
            case kTypeSByte:
            case kTypeByte: cell.byteVal = static_cast<uint8_t>(value.number); break;
            case kTypeInt16:
            case kTypeUInt16: cell.uInt16Val = static_cast<uint16_t>(value.number); break;
            case kTypeInt32:
            case kTypeUInt32:
            case kTypeHexInt32:
            case kTypeSingle: cell.uInt32Val = static_cast<uint32_t>(value.number); break;
            case kTypeBoolean: cell.booleanVal = value.number != 0; break;
            default:
                if (IsArray(value)) {
                    cell.count = static_cast<uint32_t>(value.items.size());
                    cell.binaryVal = PlaceArray(out, value);  // every pointer member shares these bytes
                } else {
                    cell.uInt64Val = value.number;
                }
        }
        if (out.Fits(i * sizeof(Variant), sizeof cell)) std::memcpy(buffer + i * sizeof(Variant), &cell, sizeof cell);
    }
    return out.offset;
}

// Reports the size needed; false, with error 122, when the caller's buffer cannot take it.
bool Fits(size_t needed, uint32_t available, const void* buffer, uint32_t* used) {
    *used = static_cast<uint32_t>(needed);
    if (needed <= available && (needed == 0 || buffer != nullptr)) return true;
    SetLastError(kErrorInsufficientBuffer);
    return false;
}

int DigitAt(const std::u16string& text, size_t at) {
    return at < text.size() && text[at] >= u'0' && text[at] <= u'9' ? text[at] - u'0' : -1;
}

// "%1".."%99" stand for the values; anything else stays as written.
std::u16string Inserted(const std::u16string& message, const std::vector<EventValue>& values) {
    std::u16string text;
    for (size_t i = 0; i < message.size(); ++i) {
        int first = message[i] == u'%' ? DigitAt(message, i + 1) : -1;
        if (first <= 0) {
            text += message[i];
            continue;
        }
        size_t index = static_cast<size_t>(first);
        size_t end = i + 2;
        if (int second = DigitAt(message, end); second >= 0) {
            index = index * 10 + static_cast<size_t>(second);
            ++end;
        }
        if (index <= values.size()) text += ValueText(values[index - 1]);
        else text.append(message, i, end - i);
        i = end - 1;
    }
    return text;
}

// The publisher's text for the record that the flags ask for, or nothing.
std::optional<std::u16string> MessageOf(const PublisherMessages& messages, const EventRecord& record, uint32_t flags) {
    auto find = [&](const std::map<uint32_t, std::u16string>& texts, SystemProperty property) {
        auto found = texts.find(static_cast<uint32_t>(record.system[property].number));
        return found == texts.end() ? std::nullopt : std::optional(found->second);
    };
    switch (flags) {
        case kFormatMessageEvent: {
            std::optional<std::u16string> message = find(messages.events, kSystemEventID);
            return message ? std::optional(Inserted(*message, record.user)) : std::nullopt;
        }
        case kFormatMessageLevel: return find(messages.levels, kSystemLevel);
        case kFormatMessageTask: return find(messages.tasks, kSystemTask);
    }
    return std::nullopt;
}

// The value of an attribute written name='value' or name="value" in the element's text.
std::optional<std::u16string> AttributeOf(std::u16string_view element, std::u16string_view name) {
    for (size_t at = element.find(name); at != std::u16string_view::npos; at = element.find(name, at + 1)) {
        size_t quote = at + name.size() + 1;
        bool standsAlone = at > 0 && (element[at - 1] == u' ' || element[at - 1] == u'\t' || element[at - 1] == u'\n' ||
                                      element[at - 1] == u'\r');
        if (!standsAlone || quote >= element.size() || element[at + name.size()] != u'=' ||
            (element[quote] != u'\'' && element[quote] != u'"'))
            continue;
        size_t end = element.find(element[quote], quote + 1);
        if (end == std::u16string_view::npos) return std::nullopt;
        return std::u16string(element.substr(quote + 1, end - quote - 1));
    }
    return std::nullopt;
}

// "<BookmarkList><Bookmark Channel='Security' RecordId='12' IsCurrent='true'/>...</BookmarkList>":
// false when it is no such list or a bookmark lacks its channel or a decimal record id.
bool ParseBookmark(std::u16string_view xml, BookmarkPositions* positions) {
    constexpr std::u16string_view kOpen = u"<Bookmark ";
    size_t list = xml.find(u"<BookmarkList");
    if (list == std::u16string_view::npos || xml.find_first_not_of(u" \t\r\n") != list) return false;
    for (size_t at = xml.find(kOpen); at != std::u16string_view::npos; at = xml.find(kOpen, at + 1)) {
        size_t end = xml.find(u"/>", at);
        if (end == std::u16string_view::npos) return false;
        std::u16string_view element = xml.substr(at, end - at);
        std::optional<std::u16string> channel = AttributeOf(element, u"Channel");
        std::optional<std::u16string> id = AttributeOf(element, u"RecordId");
        if (!channel || !id || id->empty() || id->size() > 19 ||
            id->find_first_not_of(u"0123456789") != std::u16string::npos)
            return false;
        uint64_t number = 0;
        for (char16_t digit : *id) number = number * 10 + static_cast<uint64_t>(digit - u'0');
        (*positions)[vantel::FoldCase(*channel)] = number;
    }
    return true;
}

}  // namespace

Handle EvtQuery(Handle session, const vantel::WChar* path, const vantel::WChar* query, uint32_t flags) {
    return Guarded<Handle>(nullptr, [&]() -> Handle {
        if (session != nullptr) return Fail<Handle>(errors::kErrorInvalidHandle, nullptr);
        bool reverse = (flags & kQueryReverseDirection) != 0;
        if ((flags & kQueryChannelPath) == 0 || (flags & kQueryFilePath) != 0 ||
            (reverse && (flags & kQueryForwardDirection) != 0))
            return Fail<Handle>(errors::kErrorInvalidParameter, nullptr);
        auto result = std::make_shared<QueryResult>();
        std::u16string text = query != nullptr ? vantel::FromWide(query) : u"*";
        if (uint32_t error = QueryEvents(vantel::FromWide(path), text, reverse, &result->reading))
            return Fail<Handle>(error, nullptr);
        return HandleOf(TheHandles().queries.Open(std::move(result)));
    });
}

int32_t EvtNext(Handle resultSet, uint32_t eventsSize, Handle* events, uint32_t, uint32_t flags, uint32_t* returned) {
    return Guarded(0, [&] {
        if (events == nullptr || eventsSize == 0 || returned == nullptr || flags != 0)
            return Fail(errors::kErrorInvalidParameter, 0);
        std::optional<std::shared_ptr<QueryResult>> result = TheHandles().queries.Get(ValueOf(resultSet));
        if (!result) return Fail(errors::kErrorInvalidHandle, 0);
        QueryResult& query = **result;
        std::lock_guard guard(query.lock);
        uint32_t count = 0;
        while (count < eventsSize) {
            EventPtr record = NextQueryRecord(*query.reading);
            if (!record) break;
            events[count++] = HandleOf(EventHandles().Open(std::move(record)));
        }
        *returned = count;
        if (count == 0) return Fail(kErrorNoMoreItems, 0);
        return 1;
    });
}

int32_t EvtClose(Handle object) {
    return Guarded(0, [&] {
        uintptr_t handle = ValueOf(object);
        Handles& handles = TheHandles();
        // The value tells its table; a subscription's is the service's.
        uint32_t kind = HandleKind(handle);
        bool closed = kind == handles.renderContexts.kind() ? handles.renderContexts.Close(handle)
                      : kind == EventHandles().kind()       ? EventHandles().Close(handle)
                      : kind == handles.queries.kind()      ? handles.queries.Close(handle)
                      : kind == handles.publishers.kind()   ? handles.publishers.Close(handle)
                      : kind == handles.bookmarks.kind()    ? handles.bookmarks.Close(handle)
                                                            : CloseSubscription(handle);
        return closed ? 1 : Fail(errors::kErrorInvalidHandle, 0);
    });
}

Handle EvtCreateRenderContext(uint32_t valuePathsCount, const vantel::WChar**, uint32_t flags) {
    return Guarded<Handle>(nullptr, [&]() -> Handle {
        // Only the system and user contexts: no value paths.
        if (valuePathsCount != 0 || (flags != kRenderContextSystem && flags != kRenderContextUser))
            return Fail<Handle>(errors::kErrorInvalidParameter, nullptr);
        return HandleOf(TheHandles().renderContexts.Open(flags));
    });
}

int32_t EvtRender(Handle context, Handle fragment, uint32_t flags, uint32_t bufferSize, void* buffer,
                  uint32_t* bufferUsed, uint32_t* propertyCount) {
    return Guarded(0, [&] {
        if (bufferUsed == nullptr || propertyCount == nullptr) return Fail(errors::kErrorInvalidParameter, 0);
        if (flags == kRenderEventXml) {
            std::optional<EventPtr> record = EventHandles().Get(ValueOf(fragment));
            if (!record) return Fail(errors::kErrorInvalidHandle, 0);
            std::u16string xml = EventXml(**record);
            size_t bytes = (xml.size() + 1) * sizeof(char16_t);
            *propertyCount = 0;
            if (!Fits(bytes, bufferSize, buffer, bufferUsed)) return 0;
            std::memcpy(buffer, xml.c_str(), bytes);
            return 1;
        }
        if (flags != kRenderEventValues) return Fail(errors::kErrorInvalidParameter, 0);
        std::optional<uint32_t> kind = TheHandles().renderContexts.Get(ValueOf(context));
        size_t needed = 0;
        // Laid out while the record's handle is held open by the table, without a reference of our own.
        bool found = kind && EventHandles().Read(ValueOf(fragment), [&](const EventPtr& record) {
            std::span<const EventValue> values = record->system;
            if (*kind == kRenderContextUser) values = record->user;
            *propertyCount = static_cast<uint32_t>(values.size());
            needed = LayOutValues(values, static_cast<uint8_t*>(buffer), buffer != nullptr ? bufferSize : 0);
        });
        if (!found) return Fail(errors::kErrorInvalidHandle, 0);
        return Fits(needed, bufferSize, buffer, bufferUsed) ? 1 : 0;
    });
}

Handle EvtOpenPublisherMetadata(Handle session, const vantel::WChar* publisherId, const vantel::WChar* logFilePath,
                                uint32_t, uint32_t flags) {
    return Guarded<Handle>(nullptr, [&]() -> Handle {
        if (session != nullptr) return Fail<Handle>(errors::kErrorInvalidHandle, nullptr);
        if (publisherId == nullptr || logFilePath != nullptr || flags != 0)
            return Fail<Handle>(errors::kErrorInvalidParameter, nullptr);
        std::shared_ptr<const PublisherMessages> metadata = FindPublisher(vantel::FromWide(publisherId));
        if (!metadata) return Fail<Handle>(errors::kErrorFileNotFound, nullptr);
        // Opening reads the provider's resources: the handle gets a copy of its own, which
        // also makes opening cost what the provider holds, as on Windows.
        return HandleOf(TheHandles().publishers.Open(std::make_shared<const PublisherMessages>(*metadata)));
    });
}

int32_t EvtFormatMessage(Handle publisherMetadata, Handle event, uint32_t, uint32_t valueCount, const Variant*,
                         uint32_t flags, uint32_t bufferSize, vantel::WChar* buffer, uint32_t* bufferUsed) {
    return Guarded(0, [&] {
        // Insertions come from the event itself; callers here pass no values of their own.
        if (bufferUsed == nullptr || valueCount != 0 ||
            (flags != kFormatMessageEvent && flags != kFormatMessageLevel && flags != kFormatMessageTask))
            return Fail(errors::kErrorInvalidParameter, 0);
        std::optional<EventPtr> record = EventHandles().Get(ValueOf(event));
        if (!record) return Fail(errors::kErrorInvalidHandle, 0);
        std::shared_ptr<const PublisherMessages> messages;
        if (publisherMetadata == nullptr) {
            messages = FindPublisher((*record)->system[kSystemProviderName].text);
        } else if (auto opened = TheHandles().publishers.Get(ValueOf(publisherMetadata))) {
            messages = *opened;
        } else {
            return Fail(errors::kErrorInvalidHandle, 0);
        }
        std::optional<std::u16string> text = messages ? MessageOf(*messages, **record, flags) : std::nullopt;
        if (!text) return Fail(kErrorMessageNotFound, 0);
        // Sizes count characters here, the terminator included.
        if (!Fits(text->size() + 1, bufferSize, buffer, bufferUsed)) return 0;
        std::memcpy(buffer, text->c_str(), *bufferUsed * sizeof(char16_t));
        return 1;
    });
}

Handle EvtSubscribe(Handle session, void* signalEvent, const vantel::WChar* channelPath, const vantel::WChar* query,
                    Handle bookmark, void* context, SubscribeCallback callback, uint32_t flags) {
    return Guarded<Handle>(nullptr, [&]() -> Handle {
        if (session != nullptr) return Fail<Handle>(errors::kErrorInvalidHandle, nullptr);
        // Push subscriptions only: a callback, no signal event; a bookmark exactly when starting after one.
        SubscriptionStart start;
        switch (flags) {
            case kSubscribeToFutureEvents: break;
            case kSubscribeStartAtOldestRecord: start.kind = SubscriptionStart::Kind::Oldest; break;
            case kSubscribeStartAfterBookmark: {
                std::optional<BookmarkPositions> positions = TheHandles().bookmarks.Get(ValueOf(bookmark));
                uint32_t refused = bookmark ? errors::kErrorInvalidHandle : errors::kErrorInvalidParameter;
                if (!positions) return Fail<Handle>(refused, nullptr);
                start = {SubscriptionStart::Kind::AfterBookmark, std::move(*positions)};
                break;
            }
            default: return Fail<Handle>(errors::kErrorInvalidParameter, nullptr);
        }
        if (signalEvent != nullptr || callback == nullptr ||
            (bookmark != nullptr && start.kind != SubscriptionStart::Kind::AfterBookmark))
            return Fail<Handle>(errors::kErrorInvalidParameter, nullptr);
        std::u16string text = query != nullptr ? vantel::FromWide(query) : u"*";
        uintptr_t handle = 0;
        if (uint32_t error = Subscribe(vantel::FromWide(channelPath), text, start, callback, context, &handle))
            return Fail<Handle>(error, nullptr);
        return HandleOf(handle);
    });
}

Handle EvtCreateBookmark(const vantel::WChar* bookmarkXml) {
    return Guarded<Handle>(nullptr, [&]() -> Handle {
        BookmarkPositions positions;
        if (bookmarkXml != nullptr && !ParseBookmark(vantel::FromWide(bookmarkXml), &positions))
            return Fail<Handle>(errors::kErrorInvalidParameter, nullptr);
        return HandleOf(TheHandles().bookmarks.Open(std::move(positions)));
    });
}

size_t OpenEventLogHandleCount() {
    Handles& handles = TheHandles();
    return EventHandles().Count() + handles.renderContexts.Count() + handles.queries.Count() +
           handles.publishers.Count() + handles.bookmarks.Count();
}

}  // namespace winsim
