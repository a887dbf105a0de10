#include "platform/files.h"

#include "platform/library.h"
#include "winsim/devices.h"
#include "winsim/files.h"
#include "winsim/system.h"
#include "winsim/version_info.h"

namespace vantel::platform {

int32_t QueryDosDeviceTarget(const std::u16string& name, std::u16string* target) {
    return winsim::QueryDosDevice(name, target);
}

std::u16string WindowsDirectory() { return winsim::WindowsDirectory(); }

std::u16string SystemDirectory() { return winsim::SystemDirectory(); }

int32_t ExpandEnvironmentText(const std::u16string& text, std::u16string* expanded) {
    *expanded = winsim::ExpandEnvironmentStrings(text);
    return kErrorSuccess;
}

struct FileVersionInfo::Data {
    winsim::VersionResource resource;
};

FileVersionInfo::FileVersionInfo(const std::u16string& path) {
    if (!FileExists(path)) {
        error_ = kErrorFileNotFound;
        return;
    }
    std::optional<winsim::VersionResource> resource = winsim::FileVersionResource(winsim::HostPath(path));
    if (!resource) {
        error_ = kErrorResourceTypeNotFound;
        return;
    }
    data_ = std::make_unique<Data>(Data{std::move(*resource)});
}

FileVersionInfo::~FileVersionInfo() = default;

bool FileVersionInfo::FirstTranslation(uint16_t* language, uint16_t* codePage) const {
    if (!data_ || data_->resource.empty()) return false;
    *language = data_->resource.front().language;
    *codePage = data_->resource.front().codePage;
    return true;
}

bool FileVersionInfo::QueryText(const std::u16string& subBlock, std::u16string* value) const {
    std::optional<std::u16string> text = data_ ? winsim::QueryVersionText(data_->resource, subBlock) : std::nullopt;
    if (text) *value = *text;
    return text.has_value();
}

}  // namespace vantel::platform
