// "Wevtapi.dll" loaded and resolved the way the module loads it, for the event-log tests.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/evt.h"
#include "platform/library.h"

namespace vantel::testing {

struct Wevtapi {
    Wevtapi() : library(platform::LoadSystemLibrary(u"Wevtapi.dll")) {}
    ~Wevtapi() { platform::FreeLibraryHandle(library); }
    Wevtapi(const Wevtapi&) = delete;
    Wevtapi& operator=(const Wevtapi&) = delete;

    template <typename Fn>
    Fn Resolve(const char* name) const {
        return reinterpret_cast<Fn>(platform::GetLibraryProcedure(library, name));
    }

    platform::LibraryHandle library;
    evt::EvtQueryFn query = Resolve<evt::EvtQueryFn>("EvtQuery");
    evt::EvtNextFn next = Resolve<evt::EvtNextFn>("EvtNext");
    evt::EvtCloseFn close = Resolve<evt::EvtCloseFn>("EvtClose");
    evt::EvtCreateRenderContextFn createRenderContext =
        Resolve<evt::EvtCreateRenderContextFn>("EvtCreateRenderContext");
    evt::EvtRenderFn render = Resolve<evt::EvtRenderFn>("EvtRender");
    evt::EvtOpenPublisherMetadataFn openPublisherMetadata =
        Resolve<evt::EvtOpenPublisherMetadataFn>("EvtOpenPublisherMetadata");
    evt::EvtFormatMessageFn formatMessage = Resolve<evt::EvtFormatMessageFn>("EvtFormatMessage");
    evt::EvtSubscribeFn subscribe = Resolve<evt::EvtSubscribeFn>("EvtSubscribe");
    evt::EvtCreateBookmarkFn createBookmark = Resolve<evt::EvtCreateBookmarkFn>("EvtCreateBookmark");

    // The record's system or user values, rendered in two steps as the module renders them; an
    // empty buffer when rendering fails.
    std::vector<uint8_t> RenderValues(evt::Handle event, uint32_t kind, uint32_t* count) const {
        evt::Handle context = createRenderContext(0, nullptr, kind);
        uint32_t used = 0;
        std::vector<uint8_t> buffer;
        if (!render(context, event, evt::kRenderEventValues, 0, nullptr, &used, count) &&
            platform::LastError() == evt::kErrorInsufficientBuffer) {
            buffer.resize(used);
            if (!render(context, event, evt::kRenderEventValues, used, buffer.data(), &used, count)) buffer.clear();
        }
        close(context);
        return buffer;
    }

    // The record's XML; empty when rendering fails.
    std::u16string RenderXml(evt::Handle event) const {
        uint32_t used = 0, count = 0;
        if (render(nullptr, event, evt::kRenderEventXml, 0, nullptr, &used, &count)) return {};
        std::u16string xml(used / sizeof(WChar), u'\0');
        if (!render(nullptr, event, evt::kRenderEventXml, used, xml.data(), &used, &count)) return {};
        xml.resize(used / sizeof(WChar) - 1);
        return xml;
    }

    uint16_t EventId(evt::Handle event) const {
        uint32_t count = 0;
        std::vector<uint8_t> buffer = RenderValues(event, evt::kRenderContextSystem, &count);
        return buffer.empty() ? 0 : Cells(buffer)[evt::kSystemEventID].uInt16Val;
    }

    static const evt::Variant* Cells(const std::vector<uint8_t>& buffer) {
        return reinterpret_cast<const evt::Variant*>(buffer.data());
    }
};

}  // namespace vantel::testing
