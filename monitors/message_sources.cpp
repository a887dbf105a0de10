#include "monitors/message_sources.h"

#include "common/text.h"
#include "platform/library.h"
#include "plugin/trace.h"

namespace vantel {

std::shared_ptr<void> MessageSources::MessageModule(const std::u16string& path) {
    return Find(modules_, path, &MessageSources::LoadModule);
}

std::shared_ptr<void> MessageSources::PublisherMetadata(const std::u16string& provider) {
    return Find(publishers_, provider, &MessageSources::OpenMetadata);
}

std::shared_ptr<void> MessageSources::Find(std::map<std::u16string, std::shared_ptr<void>>& cache,
                                           const std::u16string& name, Opener open) {
    if (caching_ == Caching::None) return (this->*open)(name);
    auto found = cache.find(name);
    // A failure is kept too: it would fail again within the refresh.
    if (found == cache.end()) found = cache.emplace(name, (this->*open)(name)).first;
    return found->second;
}

std::shared_ptr<void> MessageSources::LoadModule(const std::u16string& path) {
    platform::LibraryHandle module = platform::LoadLibraryAsDataFile(path);
    if (module == nullptr) {
        TraceErrorText(Format(u"[CNtEventLog] LoadLibraryExW failed with %lu.\n", platform::LastError()));
        return nullptr;
    }
    return std::shared_ptr<void>(module, platform::FreeLibraryHandle);
}

std::shared_ptr<void> MessageSources::OpenMetadata(const std::u16string& provider) {
    evt::Handle metadata = api_.openPublisherMetadata(nullptr, ToWide(provider), nullptr, 0, 0);
    if (metadata == nullptr) {
        TraceErrorText(Format(u"[EventLog] EvtOpenPublisherMetadata failed with %d\n", platform::LastError()));
        return nullptr;
    }
    return std::shared_ptr<void>(metadata, [close = api_.close](void* handle) { close(handle); });
}

}  // namespace vantel
