// The modern event-log interface ("Wevtapi.dll") as the module resolves it by name: the
// published types, flags and entry-point signatures, the same on every platform.
#pragma once
#include <cstdint>

#include "vantel/abi.h"

namespace vantel::evt {

using Handle = void*;

// One rendered value: a union of 8 bytes, a count and a type tag, as the platform publishes it.
struct Variant {
    union {
        int8_t sByteVal;
        uint8_t byteVal;
        int16_t int16Val;
        uint16_t uInt16Val;
        int32_t int32Val;
        uint32_t uInt32Val;
        int64_t int64Val;
        uint64_t uInt64Val;
        float singleVal;
        double doubleVal;
        uint64_t fileTimeVal;
        int32_t booleanVal;
        const WChar* stringVal;
        const char* ansiStringVal;
        const uint8_t* binaryVal;
        const Guid* guidVal;
        const uint8_t* sidVal;  // a SID in its binary form
        uint64_t pad;
    };
    uint32_t count;
    uint32_t type;
};
static_assert(sizeof(Variant) == 16, "rendered values are 16-byte cells");

enum VariantType : uint32_t {
    kTypeNull = 0,
    kTypeString = 1,
    kTypeAnsiString = 2,
    kTypeSByte = 3,
    kTypeByte = 4,
    kTypeInt16 = 5,
    kTypeUInt16 = 6,
    kTypeInt32 = 7,
    kTypeUInt32 = 8,
    kTypeInt64 = 9,
    kTypeUInt64 = 10,
    kTypeSingle = 11,
    kTypeDouble = 12,
    kTypeBoolean = 13,
    kTypeBinary = 14,
    kTypeGuid = 15,
    kTypeSizeT = 16,
    kTypeFileTime = 17,
    kTypeSysTime = 18,
    kTypeSid = 19,
    kTypeHexInt32 = 20,
    kTypeHexInt64 = 21,
    kTypeEvtHandle = 32,
    kTypeEvtXml = 35,
    kTypeArrayMask = 128,
};

// Positions of the system values rendered with the system context.
enum SystemProperty : uint32_t {
    kSystemProviderName = 0,
    kSystemProviderGuid = 1,
    kSystemEventID = 2,
    kSystemQualifiers = 3,
    kSystemLevel = 4,
    kSystemTask = 5,
    kSystemOpcode = 6,
    kSystemKeywords = 7,
    kSystemTimeCreated = 8,
    kSystemEventRecordId = 9,
    kSystemActivityID = 10,
    kSystemRelatedActivityID = 11,
    kSystemProcessID = 12,
    kSystemThreadID = 13,
    kSystemChannel = 14,
    kSystemComputer = 15,
    kSystemUserID = 16,
    kSystemVersion = 17,
    kSystemPropertyCount = 18,
};

enum RenderContextFlags : uint32_t { kRenderContextValues = 0, kRenderContextSystem = 1, kRenderContextUser = 2 };
enum RenderFlags : uint32_t { kRenderEventValues = 0, kRenderEventXml = 1, kRenderBookmark = 2 };
enum SubscribeFlags : uint32_t {
    kSubscribeToFutureEvents = 1,
    kSubscribeStartAtOldestRecord = 2,
    kSubscribeStartAfterBookmark = 3,
};
enum SubscribeAction : uint32_t { kActionError = 0, kActionDeliver = 1 };
enum QueryFlags : uint32_t { kQueryChannelPath = 1, kQueryFilePath = 2, kQueryForwardDirection = 0x100, kQueryReverseDirection = 0x200 };
enum FormatMessageFlags : uint32_t { kFormatMessageEvent = 1, kFormatMessageLevel = 2, kFormatMessageTask = 3 };

constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorInvalidQuery = 15001;
constexpr uint32_t kErrorChannelNotFound = 15007;
constexpr uint32_t kErrorQueryResultStale = 15011;
constexpr uint32_t kErrorNoMoreItems = 259;
constexpr uint32_t kErrorMessageNotFound = 15027;

#if defined(_WIN32)
#define VANTEL_WINAPI __stdcall
#else
#define VANTEL_WINAPI
#endif

using SubscribeCallback = uint32_t(VANTEL_WINAPI*)(uint32_t action, void* userContext, Handle event);

using EvtQueryFn = Handle(VANTEL_WINAPI*)(Handle session, const WChar* path, const WChar* query, uint32_t flags);
using EvtNextFn = int32_t(VANTEL_WINAPI*)(Handle resultSet, uint32_t eventsSize, Handle* events, uint32_t timeout,
                                          uint32_t flags, uint32_t* returned);
using EvtCloseFn = int32_t(VANTEL_WINAPI*)(Handle object);
using EvtCreateRenderContextFn = Handle(VANTEL_WINAPI*)(uint32_t valuePathsCount, const WChar** valuePaths,
                                                        uint32_t flags);
using EvtRenderFn = int32_t(VANTEL_WINAPI*)(Handle context, Handle fragment, uint32_t flags, uint32_t bufferSize,
                                            void* buffer, uint32_t* bufferUsed, uint32_t* propertyCount);
using EvtOpenPublisherMetadataFn = Handle(VANTEL_WINAPI*)(Handle session, const WChar* publisherId,
                                                          const WChar* logFilePath, uint32_t locale, uint32_t flags);
using EvtFormatMessageFn = int32_t(VANTEL_WINAPI*)(Handle publisherMetadata, Handle event, uint32_t messageId,
                                                   uint32_t valueCount, const Variant* values, uint32_t flags,
                                                   uint32_t bufferSize, WChar* buffer, uint32_t* bufferUsed);
using EvtSubscribeFn = Handle(VANTEL_WINAPI*)(Handle session, void* signalEvent, const WChar* channelPath,
                                              const WChar* query, Handle bookmark, void* context,
                                              SubscribeCallback callback, uint32_t flags);
// A bookmark from its XML ("<BookmarkList><Bookmark Channel='...' RecordId='...'/></BookmarkList>"),
// or an empty one from null.
using EvtCreateBookmarkFn = Handle(VANTEL_WINAPI*)(const WChar* bookmarkXml);

}  // namespace vantel::evt
