// Version resources of files on the simulated machine: per file, its translations in order,
// each with a table of text values ("FileDescription", "OriginalFilename", ...).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace winsim {

struct VersionStrings {
    uint16_t language;
    uint16_t codePage;
    std::vector<std::pair<std::u16string, std::u16string>> values;  // name, text
};

using VersionResource = std::vector<VersionStrings>;

// Control: gives a host file a version resource.
void SetFileVersionResource(const std::string& hostPath, VersionResource resource);

// The machine's side: the resource of a host file, none when it has none.
std::optional<VersionResource> FileVersionResource(const std::string& hostPath);
// VerQueryValue of "\StringFileInfo\<language><code page in hex>\<name>", ignoring case.
std::optional<std::u16string> QueryVersionText(const VersionResource& resource, const std::u16string& subBlock);

}  // namespace winsim
