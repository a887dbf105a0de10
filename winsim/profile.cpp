#include "winsim/profile.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "common/text.h"
#include "winsim/files.h"

namespace winsim {

namespace {

constexpr int32_t kErrorPathNotFound = 3;
constexpr int32_t kErrorWriteFault = 29;

std::mutex& ProfileLock() {
    static std::mutex* lock = new std::mutex;  // profile calls may come from threads still running at exit
    return *lock;
}

struct ProfileFile {
    bool unicode = false;
    std::vector<std::u16string> lines;
};

std::u16string_view Trimmed(std::u16string_view text) {
    auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::optional<ProfileFile> Read(const std::string& host) {
    std::ifstream stream(host, std::ios::binary);
    if (!stream) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    ProfileFile file;
    std::u16string text;
    if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE) {
        file.unicode = true;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8);
    } else {
        text = vantel::FromUtf8(bytes);
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos) end = text.size();
        std::u16string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == u'\r') line.pop_back();
        file.lines.push_back(std::move(line));
        start = end + 1;
    }
    return file;
}

int32_t Write(const std::string& host, const ProfileFile& file) {
    std::u16string text;
    for (const std::u16string& line : file.lines) text += line + u"\r\n";
    std::string bytes;
    if (file.unicode) {
        bytes = "\xFF\xFE";
        for (char16_t c : text) {
            bytes += static_cast<char>(c & 0xFF);
            bytes += static_cast<char>(c >> 8);
        }
    } else {
        bytes = vantel::ToUtf8(text);
    }
    std::ofstream stream(host, std::ios::binary | std::ios::trunc);
    if (!stream) return kErrorPathNotFound;
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return stream.flush() ? 0 : kErrorWriteFault;
}

// The section's name when the line opens one.
std::optional<std::u16string_view> SectionOf(std::u16string_view line) {
    line = Trimmed(line);
    if (line.empty() || line.front() != u'[') return std::nullopt;
    size_t close = line.find(u']');
    return Trimmed(line.substr(1, close == std::u16string_view::npos ? std::u16string_view::npos : close - 1));
}

bool IsComment(std::u16string_view line) {
    line = Trimmed(line);
    return line.empty() || line.front() == u';';
}

std::u16string_view KeyOf(std::u16string_view line) { return Trimmed(line.substr(0, line.find(u'='))); }

// The lines of a section: [first, end) after its heading; none when the section is missing.
std::optional<std::pair<size_t, size_t>> FindSection(const ProfileFile& file, const std::u16string& section) {
    for (size_t i = 0; i < file.lines.size(); ++i) {
        auto name = SectionOf(file.lines[i]);
        if (!name || !vantel::EqualsIgnoreCase(*name, section)) continue;
        size_t end = i + 1;
        while (end < file.lines.size() && !SectionOf(file.lines[end])) ++end;
        return std::make_pair(i + 1, end);
    }
    return std::nullopt;
}

std::optional<size_t> FindKey(const ProfileFile& file, std::pair<size_t, size_t> section, const std::u16string& key) {
    for (size_t i = section.first; i < section.second; ++i)
        if (!IsComment(file.lines[i]) && vantel::EqualsIgnoreCase(KeyOf(file.lines[i]), key)) return i;
    return std::nullopt;
}

bool FolderExists(const std::string& host) {
    std::error_code error;
    return std::filesystem::is_directory(std::filesystem::path(host).parent_path(), error);
}

}  // namespace

int32_t WriteProfileString(const std::u16string& file, const std::u16string& section, const std::u16string& key,
                           const std::u16string& value) {
    std::string host = HostPath(file);
    std::lock_guard guard(ProfileLock());
    if (host.empty() || !FolderExists(host)) return kErrorPathNotFound;
    ProfileFile profile = Read(host).value_or(ProfileFile{});
    auto lines = FindSection(profile, section);
    if (!lines) {
        profile.lines.push_back(u"[" + section + u"]");
        profile.lines.push_back(key + u"=" + value);
    } else if (auto found = FindKey(profile, *lines, key)) {
        std::u16string& line = profile.lines[*found];
        line = std::u16string(KeyOf(line)) + u"=" + value;
    } else {
        size_t end = lines->second;  // after the section's last line that is not blank
        while (end > lines->first && Trimmed(profile.lines[end - 1]).empty()) --end;
        profile.lines.insert(profile.lines.begin() + static_cast<std::ptrdiff_t>(end), key + u"=" + value);
    }
    return Write(host, profile);
}

std::optional<std::u16string> GetProfileString(const std::u16string& file, const std::u16string& section,
                                               const std::u16string& key) {
    std::string host = HostPath(file);
    std::lock_guard guard(ProfileLock());
    std::optional<ProfileFile> profile = host.empty() ? std::nullopt : Read(host);
    if (!profile) return std::nullopt;
    auto lines = FindSection(*profile, section);
    auto found = lines ? FindKey(*profile, *lines, key) : std::nullopt;
    if (!found) return std::nullopt;
    const std::u16string& line = profile->lines[*found];
    size_t equals = line.find(u'=');
    std::u16string_view value = equals == std::u16string::npos ? u"" : Trimmed(std::u16string_view(line).substr(equals + 1));
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::u16string(value);
}

uint32_t GetProfileInt(const std::u16string& file, const std::u16string& section, const std::u16string& key,
                       int32_t defaultValue) {
    std::optional<std::u16string> value = GetProfileString(file, section, key);
    if (!value || value->empty()) return static_cast<uint32_t>(defaultValue);
    // As the system's conversion: blanks, a sign, "0x" for hexadecimal, digits as far as they go;
    // a negative number wraps.
    std::string text = vantel::ToUtf8(Trimmed(*value));
    size_t digits = text.find_first_not_of("+-");
    bool hexadecimal = digits != std::string::npos && text.compare(digits, 2, "0x") == 0;
    return static_cast<uint32_t>(std::strtoull(text.c_str(), nullptr, hexadecimal ? 16 : 10));
}

int32_t WriteUnicodeProfile(const std::u16string& file, const std::vector<ProfileSection>& sections) {
    std::string host = HostPath(file);
    std::lock_guard guard(ProfileLock());
    if (host.empty() || !FolderExists(host)) return kErrorPathNotFound;
    ProfileFile profile{true, {}};
    for (const auto& [section, keys] : sections) {
        profile.lines.push_back(u"[" + section + u"]");
        for (const auto& [key, value] : keys) profile.lines.push_back(key + u" = " + value);
    }
    return Write(host, profile);
}

}  // namespace winsim
