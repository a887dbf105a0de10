// What a history refresh opens to find the texts of its records: message modules (classic
// records) and publisher metadata (modern records). Opening them dominates a refresh, so with
// caching each file or provider is opened once and closed when the refresh ends; without,
// every lookup opens and closes its own.
#pragma once
#include <map>
#include <memory>
#include <string>

#include "eventlog/event_log_api.h"

namespace vantel {

class MessageSources {
public:
    enum class Caching { PerRefresh, None };

    MessageSources(const EventLogApi& api, Caching caching) : api_(api), caching_(caching) {}
    MessageSources(const MessageSources&) = delete;
    MessageSources& operator=(const MessageSources&) = delete;

    // The file loaded as a data file (LoadMessageModule); null, traced, when it does not load.
    // The handle stays valid while the caller holds it.
    std::shared_ptr<void> MessageModule(const std::u16string& path);
    // The provider's metadata (EvtOpenPublisherMetadata); null, traced, when it cannot be opened.
    std::shared_ptr<void> PublisherMetadata(const std::u16string& provider);

private:
    using Opener = std::shared_ptr<void> (MessageSources::*)(const std::u16string&);
    std::shared_ptr<void> Find(std::map<std::u16string, std::shared_ptr<void>>& cache, const std::u16string& name,
                               Opener open);
    std::shared_ptr<void> LoadModule(const std::u16string& path);
    std::shared_ptr<void> OpenMetadata(const std::u16string& provider);

    const EventLogApi& api_;
    const Caching caching_;
    std::map<std::u16string, std::shared_ptr<void>> modules_;    // by path as given
    std::map<std::u16string, std::shared_ptr<void>> publishers_;  // by provider name
};

}  // namespace vantel
