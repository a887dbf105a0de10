// The library's entry points; nothing may unwind into the caller.
#include <type_traits>

#include "agentlibs/qorbase/json_object.h"
#include "agentlibs/qorbase/xml_document.h"

#ifdef _WIN32
#define QORBASE_EXPORT extern "C" __declspec(dllexport)
#else
#define QORBASE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// The interface version this library implements.
constexpr uint32_t kLibraryVersion = 256;

}  // namespace

QORBASE_EXPORT int32_t VANTEL_CALL InitLibs(uint32_t* version) {
    return version != nullptr && *version == kLibraryVersion ? 0 : -1;
}

QORBASE_EXPORT vantel::HResult VANTEL_CALL CreateObject(const vantel::Guid* iid, void** object) {
    if (object == nullptr) return vantel::kInvalidPointer;
    *object = nullptr;
    if (iid == nullptr) return vantel::kInvalidPointer;
    return qorbase::Guarded(qorbase::kOutOfMemory, [&] {
        if (vantel::SameGuid(*iid, vantel::kIidJsonObject))
            *object = static_cast<vantel::IJsonObject*>(new qorbase::JsonObject);
        else if (vantel::SameGuid(*iid, vantel::kIidXmlDocument))
            *object = static_cast<vantel::IRapidXMLDOMDocument*>(new qorbase::XmlDocument);
        return *object ? vantel::kOk : vantel::kNoInterface;
    });
}

// The declarations the callers bind to must match what is exported.
static_assert(std::is_same_v<decltype(&InitLibs), vantel::InitLibsFn>);
static_assert(std::is_same_v<decltype(&CreateObject), vantel::CreateObjectFn>);
