#include "eventlog/event_log_api.h"

namespace vantel {

namespace {

template <typename Function>
void Resolve(platform::LibraryHandle library, const char* name, Function* entry) {
    *entry = reinterpret_cast<Function>(platform::GetLibraryProcedure(library, name));
}

}  // namespace

void EventLogApi::Bind() {
    library = platform::LoadSystemLibrary(u"Wevtapi.dll");
    if (library == nullptr) return;
    Resolve(library, "EvtQuery", &query);
    Resolve(library, "EvtNext", &next);
    Resolve(library, "EvtClose", &close);
    Resolve(library, "EvtCreateRenderContext", &createRenderContext);
    Resolve(library, "EvtRender", &render);
    Resolve(library, "EvtOpenPublisherMetadata", &openPublisherMetadata);
    Resolve(library, "EvtFormatMessage", &formatMessage);
    Resolve(library, "EvtSubscribe", &subscribe);
    Resolve(library, "EvtCreateBookmark", &createBookmark);
}

void EventLogApi::Release() {
    if (library) platform::FreeLibraryHandle(library);
    *this = EventLogApi{};
}

}  // namespace vantel
