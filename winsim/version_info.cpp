#include "winsim/version_info.h"

#include <map>
#include <mutex>

#include "common/format.h"
#include "common/text.h"
#include "winsim/files.h"

namespace winsim {

namespace {

struct Resources {
    std::mutex lock;
    std::map<std::string, VersionResource> files;  // by canonical host path
};

Resources& TheResources() {
    static Resources* resources = new Resources;
    return *resources;
}

}  // namespace

void SetFileVersionResource(const std::string& hostPath, VersionResource resource) {
    Resources& resources = TheResources();
    std::lock_guard guard(resources.lock);
    resources.files[CanonicalHostPath(hostPath)] = std::move(resource);
}

std::optional<VersionResource> FileVersionResource(const std::string& hostPath) {
    Resources& resources = TheResources();
    std::lock_guard guard(resources.lock);
    auto found = resources.files.find(CanonicalHostPath(hostPath));
    if (found == resources.files.end()) return std::nullopt;
    return found->second;
}

std::optional<std::u16string> QueryVersionText(const VersionResource& resource, const std::u16string& subBlock) {
    for (const VersionStrings& table : resource) {
        std::u16string prefix = vantel::Format(u"\\StringFileInfo\\%04x%04x\\", table.language, table.codePage);
        if (!vantel::StartsWithIgnoreCase(subBlock, prefix)) continue;
        for (const auto& [name, text] : table.values)
            if (vantel::EqualsIgnoreCase(subBlock.substr(prefix.size()), name)) return text;
    }
    return std::nullopt;
}

}  // namespace winsim
