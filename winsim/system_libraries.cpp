#include "winsim/system_libraries.h"

#include <map>
#include <mutex>
#include <set>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/text.h"
#include "platform/errors.h"
#include "winsim/eventlog_api.h"
#include "winsim/last_error.h"

namespace winsim {

struct SystemLibrary {
    std::u16string fileName;
    std::map<std::string, void*, std::less<>> exports;
};

namespace {

// Takes the entry point only with exactly the signature the platform publishes.
template <typename Signature>
void* Export(std::type_identity_t<Signature> function) {
    return reinterpret_cast<void*>(function);
}

struct Libraries {
    std::mutex lock;
    std::set<std::pair<std::u16string, std::string>> removed;  // folded file name, export ("" the library)
    const std::vector<SystemLibrary> all{
        {u"Wevtapi.dll",
         {{"EvtQuery", Export<vantel::evt::EvtQueryFn>(&EvtQuery)},
          {"EvtNext", Export<vantel::evt::EvtNextFn>(&EvtNext)},
          {"EvtClose", Export<vantel::evt::EvtCloseFn>(&EvtClose)},
          {"EvtCreateRenderContext", Export<vantel::evt::EvtCreateRenderContextFn>(&EvtCreateRenderContext)},
          {"EvtRender", Export<vantel::evt::EvtRenderFn>(&EvtRender)},
          {"EvtOpenPublisherMetadata", Export<vantel::evt::EvtOpenPublisherMetadataFn>(&EvtOpenPublisherMetadata)},
          {"EvtFormatMessage", Export<vantel::evt::EvtFormatMessageFn>(&EvtFormatMessage)},
          {"EvtSubscribe", Export<vantel::evt::EvtSubscribeFn>(&EvtSubscribe)},
          {"EvtCreateBookmark", Export<vantel::evt::EvtCreateBookmarkFn>(&EvtCreateBookmark)}}},
    };

    bool Removed(const std::u16string& fileName, std::string_view exportName) {
        return removed.contains({vantel::FoldCase(fileName), std::string(exportName)});
    }
};

Libraries& TheLibraries() {
    static Libraries* libraries = new Libraries;
    return *libraries;
}

}  // namespace

void RemoveLibraryExport(const std::u16string& library, const std::string& exportName) {
    Libraries& libraries = TheLibraries();
    std::lock_guard guard(libraries.lock);
    libraries.removed.emplace(vantel::FoldCase(library), exportName);
}

void RestoreLibraryExport(const std::u16string& library, const std::string& exportName) {
    Libraries& libraries = TheLibraries();
    std::lock_guard guard(libraries.lock);
    libraries.removed.erase({vantel::FoldCase(library), exportName});
}

const SystemLibrary* LoadBuiltInLibrary(const std::u16string& fileName) {
    Libraries& libraries = TheLibraries();
    std::lock_guard guard(libraries.lock);
    for (const SystemLibrary& library : libraries.all)
        if (vantel::EqualsIgnoreCase(library.fileName, fileName) && !libraries.Removed(fileName, "")) return &library;
    SetLastError(vantel::platform::kErrorModNotFound);
    return nullptr;
}

void* BuiltInProcedure(const SystemLibrary* library, const char* name) {
    Libraries& libraries = TheLibraries();
    std::lock_guard guard(libraries.lock);
    auto found = name != nullptr ? library->exports.find(std::string_view(name)) : library->exports.end();
    if (found != library->exports.end() && !libraries.Removed(library->fileName, name)) return found->second;
    SetLastError(vantel::platform::kErrorProcNotFound);
    return nullptr;
}

}  // namespace winsim
