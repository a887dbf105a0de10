#include "eventlog/rendering.h"

#include <algorithm>
#include <new>

#include "common/system_helpers.h"
#include "platform/library.h"
#include "plugin/trace.h"

namespace vantel {

namespace {

std::unique_ptr<uint64_t[]> Allocate(uint32_t bytes) {
    return std::unique_ptr<uint64_t[]>(new (std::nothrow) uint64_t[bytes / sizeof(uint64_t) + 1]());
}

}  // namespace

std::optional<RenderedValues> RenderEventValues(const EventLogApi& api, evt::Handle event, uint32_t contextKind) {
    EvtHandle context(api, api.createRenderContext(0, nullptr, contextKind));  // for the length of one call
    if (context.get() == nullptr) {
        TraceError(u"[EventLog] EvtCreateRenderContext failed with %lu", platform::LastError());
        return std::nullopt;
    }
    uint32_t used = 0, count = 0;
    if (!api.render(context.get(), event, evt::kRenderEventValues, 0, nullptr, &used, &count)) {
        uint32_t error = platform::LastError();
        if (error != evt::kErrorInsufficientBuffer) {
            TraceError(u"[EventLog] EvtRender failed with %d", error);
            return std::nullopt;
        }
    }
    std::unique_ptr<uint64_t[]> buffer = Allocate(used);
    if (!buffer) {
        TraceError(u"[EventLog] malloc failed");
        return std::nullopt;
    }
    uint32_t capacity = used;
    if (!api.render(context.get(), event, evt::kRenderEventValues, capacity, buffer.get(), &used, &count)) {
        TraceError(u"[EventLog] EvtRender failed with %d", platform::LastError());
        return std::nullopt;
    }
    return RenderedValues(std::move(buffer), count, std::min(used, capacity));
}

std::optional<std::u16string> RenderEventXml(const EventLogApi& api, evt::Handle event) {
    uint32_t used = 0, count = 0;
    if (!api.render(nullptr, event, evt::kRenderEventXml, 0, nullptr, &used, &count)) {
        uint32_t error = platform::LastError();
        if (error != evt::kErrorInsufficientBuffer) {
            TraceErrorText(Format(u"[CNtEventLog] EvtRender failed with %d\n", error));
            return std::nullopt;
        }
    }
    std::unique_ptr<uint64_t[]> buffer = Allocate(used + sizeof(char16_t));
    if (!buffer) {
        TraceErrorText(u"[CNtEventLog] malloc failed\n");
        return std::nullopt;
    }
    if (!api.render(nullptr, event, evt::kRenderEventXml, used, buffer.get(), &used, &count)) {
        TraceErrorText(Format(u"[CNtEventLog] EvtRender failed with %d\n", platform::LastError()));
        return std::nullopt;
    }
    // The buffer has room for a terminator behind what was written, and is zero-filled.
    return std::u16string(reinterpret_cast<const char16_t*>(buffer.get()));
}

uint64_t EventTimeSeconds(uint64_t fileTime) { return static_cast<uint64_t>(FileTimeToUnixSeconds(fileTime)); }

}  // namespace vantel
