// The entry points of the machine's "Wevtapi.dll", with the platform's signatures
// (platform/evt.h). Failures leave their Windows error in winsim::GetLastError().
#pragma once
#include "platform/evt.h"

namespace winsim {

vantel::evt::Handle VANTEL_WINAPI EvtQuery(vantel::evt::Handle session, const vantel::WChar* path,
                                           const vantel::WChar* query, uint32_t flags);
int32_t VANTEL_WINAPI EvtNext(vantel::evt::Handle resultSet, uint32_t eventsSize, vantel::evt::Handle* events,
                              uint32_t timeout, uint32_t flags, uint32_t* returned);
int32_t VANTEL_WINAPI EvtClose(vantel::evt::Handle object);
vantel::evt::Handle VANTEL_WINAPI EvtCreateRenderContext(uint32_t valuePathsCount, const vantel::WChar** valuePaths,
                                                         uint32_t flags);
int32_t VANTEL_WINAPI EvtRender(vantel::evt::Handle context, vantel::evt::Handle fragment, uint32_t flags,
                                uint32_t bufferSize, void* buffer, uint32_t* bufferUsed, uint32_t* propertyCount);
vantel::evt::Handle VANTEL_WINAPI EvtOpenPublisherMetadata(vantel::evt::Handle session,
                                                           const vantel::WChar* publisherId,
                                                           const vantel::WChar* logFilePath, uint32_t locale,
                                                           uint32_t flags);
int32_t VANTEL_WINAPI EvtFormatMessage(vantel::evt::Handle publisherMetadata, vantel::evt::Handle event,
                                       uint32_t messageId, uint32_t valueCount, const vantel::evt::Variant* values,
                                       uint32_t flags, uint32_t bufferSize, vantel::WChar* buffer,
                                       uint32_t* bufferUsed);
vantel::evt::Handle VANTEL_WINAPI EvtSubscribe(vantel::evt::Handle session, void* signalEvent,
                                               const vantel::WChar* channelPath, const vantel::WChar* query,
                                               vantel::evt::Handle bookmark, void* context,
                                               vantel::evt::SubscribeCallback callback, uint32_t flags);

vantel::evt::Handle VANTEL_WINAPI EvtCreateBookmark(const vantel::WChar* bookmarkXml);

}  // namespace winsim
