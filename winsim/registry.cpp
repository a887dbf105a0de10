#include "winsim/registry.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "common/text.h"
#include "winsim/handles.h"

namespace winsim {

namespace {

constexpr uint32_t kKeyNotify = 0x0010;
constexpr uint32_t kNotifyName = 0x1;
constexpr uint32_t kNotifyLastSet = 0x4;
constexpr uint32_t kNotifyAll = 0xF;
constexpr int32_t kErrorFileNotFound = 2;
constexpr int32_t kErrorAccessDenied = 5;
constexpr int32_t kErrorInvalidHandle = 6;
constexpr int32_t kErrorInvalidParameter = 87;
constexpr int32_t kErrorKeyDeleted = 1018;

struct Key {
    std::map<std::u16string, RegistryValue> values;  // by folded name
    int32_t failure = 0;
};

struct OpenKey {
    std::u16string path;
    uint32_t access;
};

struct Registration {
    uintptr_t handle;
    std::u16string path;
    bool subtree;
    uint32_t filter;
    KernelEvent event;
};

struct Registry {
    std::mutex lock;
    std::condition_variable watchersChanged;  // a registration made or a handle closed
    std::map<std::u16string, Key> keys;  // by folded full path
    std::map<uintptr_t, OpenKey> open;
    std::vector<Registration> registrations;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;  // outlives the threads that still watch it at exit
    return *registry;
}

std::u16string KeyPath(Hive hive, const std::u16string& key) {
    std::u16string path = hive == Hive::LocalMachine ? u"HKLM" : u"HKU";
    size_t start = 0;
    while (start < key.size() && key[start] == u'\\') ++start;
    size_t end = key.size();
    while (end > start && key[end - 1] == u'\\') --end;
    if (end > start) {
        path += u'\\';
        path.append(key, start, end - start);
    }
    return vantel::FoldCase(path);
}

bool IsBelow(const std::u16string& path, const std::u16string& ancestor) {
    return path.size() > ancestor.size() && path.compare(0, ancestor.size(), ancestor) == 0 &&
           path[ancestor.size()] == u'\\';
}

std::u16string ParentOf(const std::u16string& path) {
    size_t slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

// Signals, once, every registration that watches the changed key for a change of this kind.
void Notify(Registry& registry, const std::u16string& changed, uint32_t change) {
    auto& registrations = registry.registrations;
    for (auto it = registrations.begin(); it != registrations.end();) {
        bool watched = it->path == changed || (it->subtree && IsBelow(changed, it->path));
        if (watched && (it->filter & change) != 0) {
            it->event.Set();
            it = registrations.erase(it);
        } else {
            ++it;
        }
    }
}

// Creates the key and its missing parents, as the registry does; each new key is a change of
// names in its parent.
Key& CreateKey(Registry& registry, const std::u16string& path) {
    auto create = [&](const std::u16string& prefix) -> Key& {
        auto [key, created] = registry.keys.try_emplace(prefix);
        if (created && !ParentOf(prefix).empty()) Notify(registry, ParentOf(prefix), kNotifyName);
        return key->second;
    };
    for (size_t slash = path.find(u'\\'); slash != std::u16string::npos; slash = path.find(u'\\', slash + 1))
        create(path.substr(0, slash));
    return create(path);
}

// The keys under HKLM\SOFTWARE that a 32-bit process shares with 64-bit ones, as Windows 7 and
// later list them; each covers its subkeys.
constexpr std::u16string_view kSharedSoftwareKeys[] = {
    u"Classes",
    u"Microsoft\\COM3",
    u"Microsoft\\Cryptography\\Calais\\Current",
    u"Microsoft\\Cryptography\\Calais\\Readers",
    u"Microsoft\\Cryptography\\Services",
    u"Microsoft\\CTF\\SystemShared",
    u"Microsoft\\CTF\\TIP",
    u"Microsoft\\DFS",
    u"Microsoft\\Driver Signing",
    u"Microsoft\\EnterpriseCertificates",
    u"Microsoft\\EventSystem",
    u"Microsoft\\MSMQ",
    u"Microsoft\\Non-Driver Signing",
    u"Microsoft\\Notepad\\DefaultFonts",
    u"Microsoft\\OLE",
    u"Microsoft\\RAS",
    u"Microsoft\\RPC",
    u"Microsoft\\Shared Tools\\MSInfo",
    u"Microsoft\\SystemCertificates",
    u"Microsoft\\TermServLicensing",
    u"Microsoft\\Transaction Server",
    u"Microsoft\\Windows\\CurrentVersion\\App Paths",
    u"Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cursors\\Schemes",
    u"Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers",
    u"Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons",
    u"Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap",
    u"Microsoft\\Windows\\CurrentVersion\\Group Policy",
    u"Microsoft\\Windows\\CurrentVersion\\Policies",
    u"Microsoft\\Windows\\CurrentVersion\\PreviewHandlers",
    u"Microsoft\\Windows\\CurrentVersion\\Setup",
    u"Microsoft\\Windows\\CurrentVersion\\Telephony",
    u"Microsoft\\Windows NT\\CurrentVersion\\Console",
    u"Microsoft\\Windows NT\\CurrentVersion\\FontDpi",
    u"Microsoft\\Windows NT\\CurrentVersion\\FontLink",
    u"Microsoft\\Windows NT\\CurrentVersion\\FontMapper",
    u"Microsoft\\Windows NT\\CurrentVersion\\Fonts",
    u"Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
    u"Microsoft\\Windows NT\\CurrentVersion\\Gre_Initialize",
    u"Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
    u"Microsoft\\Windows NT\\CurrentVersion\\LanguagePack",
    u"Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
    u"Microsoft\\Windows NT\\CurrentVersion\\Perflib",
    u"Microsoft\\Windows NT\\CurrentVersion\\Ports",
    u"Microsoft\\Windows NT\\CurrentVersion\\Print",
    u"Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
    u"Microsoft\\Windows NT\\CurrentVersion\\Time Zones",
    u"Policies",
    u"RegisteredApplications",
    u"WOW6432Node",
};

// True when the path is the key or lies below it, ignoring case.
bool Within(std::u16string_view path, std::u16string_view key) {
    return vantel::StartsWithIgnoreCase(path, key) && (path.size() == key.size() || path[key.size()] == u'\\');
}

}  // namespace

std::u16string KeyInView(Hive hive, const std::u16string& key, uint32_t access) {
    constexpr std::u16string_view kSoftware = u"SOFTWARE\\";
    std::u16string_view path(key);
    while (!path.empty() && path.front() == u'\\') path.remove_prefix(1);
    if (hive != Hive::LocalMachine || (access & kKeyWow64_64Key) != 0 || !vantel::StartsWithIgnoreCase(path, kSoftware))
        return key;
    std::u16string_view below = path.substr(kSoftware.size());
    for (std::u16string_view shared : kSharedSoftwareKeys)
        if (Within(below, shared)) return key;
    return u"SOFTWARE\\WOW6432Node\\" + std::u16string(below);
}

void RegSetValue(Hive hive, const std::u16string& key, const std::u16string& name, RegistryValue value) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    std::u16string path = KeyPath(hive, key);
    CreateKey(registry, path).values[vantel::FoldCase(name)] = std::move(value);
    Notify(registry, path, kNotifyLastSet);
}

void RegSetString(Hive hive, const std::u16string& key, const std::u16string& name, const std::u16string& text,
                  ValueType type) {
    std::vector<uint8_t> bytes((text.size() + 1) * 2);
    for (size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
    RegSetValue(hive, key, name, {type, std::move(bytes)});
}

void RegSetDword(Hive hive, const std::u16string& key, const std::u16string& name, uint32_t number) {
    std::vector<uint8_t> bytes(4);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(number >> (8 * i));
    RegSetValue(hive, key, name, {ValueType::Dword, std::move(bytes)});
}

void RegDeleteValue(Hive hive, const std::u16string& key, const std::u16string& name) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    std::u16string path = KeyPath(hive, key);
    auto found = registry.keys.find(path);
    if (found != registry.keys.end() && found->second.values.erase(vantel::FoldCase(name)) != 0)
        Notify(registry, path, kNotifyLastSet);
}

void RegCreateKey(Hive hive, const std::u16string& key) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    CreateKey(registry, KeyPath(hive, key));
}

std::optional<RegistryValue> RegGetValue(Hive hive, const std::u16string& key, const std::u16string& name) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    auto found = registry.keys.find(KeyPath(hive, key));
    if (found == registry.keys.end()) return std::nullopt;
    auto value = found->second.values.find(vantel::FoldCase(name));
    if (value == found->second.values.end()) return std::nullopt;
    return value->second;
}

bool RegKeyExists(Hive hive, const std::u16string& key) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    return registry.keys.count(KeyPath(hive, key)) != 0;
}

void RegDeleteTree(Hive hive, const std::u16string& key) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    std::u16string path = KeyPath(hive, key);
    bool deleted = false;
    for (auto it = registry.keys.begin(); it != registry.keys.end();) {
        bool inside = it->first == path || IsBelow(it->first, path);
        deleted |= inside;
        it = inside ? registry.keys.erase(it) : std::next(it);
    }
    if (!deleted) return;
    // Registrations on a deleted key end with it, whatever they watch for.
    for (auto it = registry.registrations.begin(); it != registry.registrations.end();) {
        bool gone = it->path == path || IsBelow(it->path, path);
        if (gone) it->event.Set();
        it = gone ? registry.registrations.erase(it) : std::next(it);
    }
    Notify(registry, ParentOf(path), kNotifyName);
}

void RegFailKey(Hive hive, const std::u16string& key, int32_t error) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    registry.keys[KeyPath(hive, key)].failure = error;
}

int32_t RegKeyFailure(Hive hive, const std::u16string& key) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    auto found = registry.keys.find(KeyPath(hive, key));
    return found == registry.keys.end() ? 0 : found->second.failure;
}

int32_t RegOpenKey(Hive hive, const std::u16string& key, uint32_t access, uintptr_t* handle) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    auto found = registry.keys.find(KeyPath(hive, key));
    if (found == registry.keys.end()) return kErrorFileNotFound;
    if (found->second.failure != 0) return found->second.failure;
    *handle = NextHandleValue();
    registry.open.emplace(*handle, OpenKey{found->first, access});
    return 0;
}

void RegCloseKey(uintptr_t handle) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    registry.open.erase(handle);
    registry.watchersChanged.notify_all();
    auto& registrations = registry.registrations;
    for (auto it = registrations.begin(); it != registrations.end();) {
        bool closed = it->handle == handle;
        if (closed) it->event.Set();
        it = closed ? registrations.erase(it) : std::next(it);
    }
}

int32_t RegNotifyChangeKey(uintptr_t handle, bool watchSubtree, uint32_t filter, KernelEvent event) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    auto open = registry.open.find(handle);
    if (open == registry.open.end()) return kErrorInvalidHandle;
    if ((open->second.access & kKeyNotify) == 0) return kErrorAccessDenied;
    if (filter == 0 || (filter & ~kNotifyAll) != 0) return kErrorInvalidParameter;
    if (registry.keys.count(open->second.path) == 0) return kErrorKeyDeleted;
    registry.registrations.push_back({handle, open->second.path, watchSubtree, filter, std::move(event)});
    registry.watchersChanged.notify_all();
    return 0;
}

bool RegWaitForWatchers(Hive hive, const std::u16string& key, uint32_t milliseconds) {
    Registry& registry = TheRegistry();
    std::unique_lock guard(registry.lock);
    std::u16string path = KeyPath(hive, key);
    auto armed = [&] {
        for (const auto& entry : registry.open) {
            if (entry.second.path != path || (entry.second.access & kKeyNotify) == 0) continue;
            auto& registrations = registry.registrations;
            if (std::none_of(registrations.begin(), registrations.end(),
                             [&](const Registration& registration) { return registration.handle == entry.first; }))
                return false;
        }
        return true;
    };
    return registry.watchersChanged.wait_for(guard, std::chrono::milliseconds(milliseconds), armed);
}

size_t RegNotificationCount(Hive hive, const std::u16string& key) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    std::u16string path = KeyPath(hive, key);
    return std::count_if(registry.registrations.begin(), registry.registrations.end(),
                         [&](const Registration& registration) { return registration.path == path; });
}

size_t RegNotificationWaiters(Hive hive, const std::u16string& key) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    std::u16string path = KeyPath(hive, key);
    return std::count_if(registry.registrations.begin(), registry.registrations.end(),
                         [&](const Registration& registration) {
                             return registration.path == path && registration.event.Waiters() > 0;
                         });
}

}  // namespace winsim
