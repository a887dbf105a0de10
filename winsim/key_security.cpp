#include "winsim/key_security.h"

#include <condition_variable>
#include <map>
#include <mutex>

#include "common/text.h"

namespace winsim {

namespace {

constexpr int32_t kErrorFileNotFound = 2;
constexpr int32_t kErrorInvalidParameter = 87;
constexpr uint8_t kContainerInherit = 0x02;
constexpr uint8_t kInherited = 0x10;
constexpr uint32_t kModeGrant = 1;
constexpr uint32_t kModeDeny = 3;
constexpr uint8_t kAllowed = 0;
constexpr uint8_t kDenied = 1;

// A key's own list: its explicit entries, and whether it takes the entries its ancestors hand
// down (a protected list does not).
struct OwnList {
    std::vector<AccessEntry> entries;
    bool isProtected = false;
    bool isNull = false;  // no list at all
};

struct KeySecurity {
    std::mutex lock;
    std::condition_variable released;
    std::map<std::u16string, OwnList> own;  // by folded "hive\key"
    bool hold = false;
    size_t held = 0;
};

KeySecurity& TheKeySecurity() {
    static KeySecurity* security = new KeySecurity;
    return *security;
}

std::u16string StoredPath(Hive hive, std::u16string_view key) {
    while (!key.empty() && key.front() == u'\\') key.remove_prefix(1);
    while (!key.empty() && key.back() == u'\\') key.remove_suffix(1);
    std::u16string path = hive == Hive::LocalMachine ? u"MACHINE" : u"USERS";
    if (!key.empty()) {
        path += u'\\';
        path += key;
    }
    return vantel::FoldCase(path);
}

struct KeyName {
    Hive hive;
    std::u16string key;
};

std::optional<KeyName> ParseObjectName(const std::u16string& object) {
    size_t slash = object.find(u'\\');
    std::u16string root = object.substr(0, slash);
    std::u16string key = slash == std::u16string::npos ? std::u16string() : object.substr(slash + 1);
    if (vantel::EqualsIgnoreCase(root, u"MACHINE")) return KeyName{Hive::LocalMachine, key};
    if (vantel::EqualsIgnoreCase(root, u"USERS")) return KeyName{Hive::Users, key};
    return std::nullopt;
}

// What stands above every key: SYSTEM and administrators have all rights, users may read.
const std::vector<AccessEntry>& RootEntries() {
    static const std::vector<AccessEntry>* const entries = [] {
        auto* parsed = new std::vector<AccessEntry>;
        ParseSecurityDescriptor(u"D:(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)", parsed);
        return parsed;
    }();
    return *entries;
}

// The list a key shows: its explicit entries, then, unless its list is protected, what its
// ancestors hand down to containers, nearest first, marked inherited. As on Windows, a change
// above a key shows in the key at once.
AccessList EffectiveList(const KeySecurity& security, const std::u16string& path) {
    std::vector<AccessEntry> entries;
    std::u16string current = path;
    for (bool self = true;; self = false) {
        auto found = security.own.find(current);
        if (found != security.own.end() && found->second.isNull) {
            if (self) return std::nullopt;
            break;  // no list above hands nothing down
        }
        const std::vector<AccessEntry>* handed = found != security.own.end() ? &found->second.entries : nullptr;
        size_t slash = current.rfind(u'\\');
        if (handed == nullptr && slash == std::u16string::npos) handed = &RootEntries();
        for (const AccessEntry& entry : handed ? *handed : std::vector<AccessEntry>()) {
            if (!self && (entry.flags & kContainerInherit) == 0) continue;
            AccessEntry shown = entry;
            if (!self) shown.flags |= kInherited;
            entries.push_back(std::move(shown));
        }
        if ((found != security.own.end() && found->second.isProtected) || slash == std::u16string::npos) break;
        current.resize(slash);
    }
    return entries;
}

// The key's path when it can be opened, else why not.
int32_t OpenKeyPath(const std::u16string& object, std::u16string* path) {
    std::optional<KeyName> name = ParseObjectName(object);
    if (!name) return kErrorInvalidParameter;
    if (int32_t failure = RegKeyFailure(name->hive, name->key)) return failure;
    if (!RegKeyExists(name->hive, name->key)) return kErrorFileNotFound;
    *path = StoredPath(name->hive, name->key);
    return 0;
}

}  // namespace

int32_t GetKeyAccessList(const std::u16string& object, AccessList* list) {
    std::u16string path;
    if (int32_t error = OpenKeyPath(object, &path)) return error;
    KeySecurity& security = TheKeySecurity();
    std::lock_guard guard(security.lock);
    *list = EffectiveList(security, path);
    return 0;
}

int32_t SetKeyAccessList(const std::u16string& object, const AccessList& list) {
    std::u16string path;
    if (int32_t error = OpenKeyPath(object, &path)) return error;
    KeySecurity& security = TheKeySecurity();
    std::unique_lock guard(security.lock);
    if (security.hold) {
        ++security.held;
        security.released.wait(guard, [&] { return !security.hold; });
        --security.held;
    }
    // Inherited entries come from the keys above, whatever the list handed in says.
    OwnList& own = security.own[path];
    own.isNull = !list;
    own.entries.clear();
    for (const AccessEntry& entry : list.value_or(std::vector<AccessEntry>()))
        if ((entry.flags & kInherited) == 0) own.entries.push_back(entry);
    return 0;
}

int32_t MergeAccessEntry(const AccessList& list, uint32_t mode, const AccessEntry& entry, AccessList* merged) {
    if (mode != kModeGrant && mode != kModeDeny) return kErrorInvalidParameter;
    uint8_t type = mode == kModeGrant ? kAllowed : kDenied;
    std::vector<AccessEntry> entries = list.value_or(std::vector<AccessEntry>());
    for (AccessEntry& existing : entries) {
        if ((existing.flags & kInherited) == 0 && existing.type == type && existing.sid == entry.sid &&
            existing.flags == entry.flags) {
            existing.mask |= entry.mask;
            *merged = std::move(entries);
            return 0;
        }
    }
    auto position = entries.begin();
    if (type == kAllowed) {
        while (position != entries.end() && position->type == kDenied && (position->flags & kInherited) == 0)
            ++position;
    }
    AccessEntry added = entry;
    added.type = type;
    entries.insert(position, std::move(added));
    *merged = std::move(entries);
    return 0;
}

void SetKeyAccessText(Hive hive, const std::u16string& key, const std::u16string& descriptor) {
    OwnList own;
    ParseSecurityDescriptor(descriptor, &own.entries);
    own.isProtected = descriptor.find(u"D:P") != std::u16string::npos;
    KeySecurity& security = TheKeySecurity();
    std::lock_guard guard(security.lock);
    security.own[StoredPath(hive, key)] = std::move(own);
}

std::u16string KeyAccessText(Hive hive, const std::u16string& key) {
    AccessList list;
    std::u16string object = (hive == Hive::LocalMachine ? u"MACHINE\\" : u"USERS\\") + key;
    if (GetKeyAccessList(object, &list) != 0) return {};
    return list ? DaclText(*list) : u"D:NO_ACCESS_CONTROL";
}

void ForgetKeyAccessLists(Hive hive, const std::u16string& key) {
    std::u16string path = StoredPath(hive, key);
    KeySecurity& security = TheKeySecurity();
    std::lock_guard guard(security.lock);
    for (auto it = security.own.begin(); it != security.own.end();) {
        bool below = it->first == path || (it->first.size() > path.size() && it->first.compare(0, path.size(), path) == 0 &&
                                           it->first[path.size()] == u'\\');
        it = below ? security.own.erase(it) : std::next(it);
    }
}

void HoldAccessListWrites(bool hold) {
    KeySecurity& security = TheKeySecurity();
    std::lock_guard guard(security.lock);
    security.hold = hold;
    if (!hold) security.released.notify_all();
}

size_t HeldAccessListWrites() {
    KeySecurity& security = TheKeySecurity();
    std::lock_guard guard(security.lock);
    return security.held;
}

}  // namespace winsim
