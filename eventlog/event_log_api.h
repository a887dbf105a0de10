// The entry points of the modern event-log library, bound by name at run time.
#pragma once
#include "platform/evt.h"
#include "platform/library.h"

namespace vantel {

struct EventLogApi {
    platform::LibraryHandle library = nullptr;
    evt::EvtQueryFn query = nullptr;
    evt::EvtNextFn next = nullptr;
    evt::EvtCloseFn close = nullptr;
    evt::EvtCreateRenderContextFn createRenderContext = nullptr;
    evt::EvtRenderFn render = nullptr;
    evt::EvtOpenPublisherMetadataFn openPublisherMetadata = nullptr;
    evt::EvtFormatMessageFn formatMessage = nullptr;
    evt::EvtSubscribeFn subscribe = nullptr;
    evt::EvtCreateBookmarkFn createBookmark = nullptr;

    // Loads "Wevtapi.dll" and resolves the eight entry points and the bookmark's; each missing one
    // stays null.
    void Bind();
    void Release();
    // What the live subscription needs; without it the legacy readers take over.
    bool CanSubscribe() const { return close && render && subscribe && createRenderContext; }
    // What the history refresh needs; without it the classic records answer.
    bool CanQueryHistory() const {
        return query && next && close && createRenderContext && render && openPublisherMetadata && formatMessage;
    }
    // What resuming a subscription after the last record handled needs besides: the channels'
    // newest records when it opens, and a bookmark of their positions when it opens again.
    bool CanResume() const { return query && next && createBookmark; }
};

// Closes a handle of the library when its owner ends.
class EvtHandle {
public:
    EvtHandle(const EventLogApi& api, evt::Handle handle) : api_(api), handle_(handle) {}
    ~EvtHandle() {
        if (handle_) api_.close(handle_);
    }
    EvtHandle(const EvtHandle&) = delete;
    EvtHandle& operator=(const EvtHandle&) = delete;
    evt::Handle get() const { return handle_; }

private:
    const EventLogApi& api_;
    evt::Handle handle_;
};

}  // namespace vantel
