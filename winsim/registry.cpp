#include "winsim/registry.h"

#include <map>
#include <mutex>

#include "common/text.h"

namespace winsim {

namespace {

struct Key {
    std::map<std::u16string, RegistryValue> values;  // by folded name
    int32_t failure = 0;
};

struct Registry {
    std::mutex lock;
    std::map<std::u16string, Key> keys;  // by folded full path
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

std::u16string KeyPath(Hive hive, const std::u16string& key) {
    std::u16string path = hive == Hive::LocalMachine ? u"HKLM" : u"HKU";
    size_t start = 0;
    while (start < key.size() && key[start] == u'\\') ++start;
    size_t end = key.size();
    while (end > start && key[end - 1] == u'\\') --end;
    if (end > start) path += u"\\" + key.substr(start, end - start);
    return vantel::FoldCase(path);
}

}  // namespace

void RegSetValue(Hive hive, const std::u16string& key, const std::u16string& name, RegistryValue value) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    // Creating a key creates its parents, as the registry does.
    std::u16string path = KeyPath(hive, key);
    for (size_t slash = path.find(u'\\'); slash != std::u16string::npos; slash = path.find(u'\\', slash + 1))
        registry.keys[path.substr(0, slash)];
    registry.keys[path].values[vantel::FoldCase(name)] = std::move(value);
}

void RegSetString(Hive hive, const std::u16string& key, const std::u16string& name, const std::u16string& text) {
    std::vector<uint8_t> bytes((text.size() + 1) * 2);
    for (size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
    RegSetValue(hive, key, name, {ValueType::String, std::move(bytes)});
}

void RegSetDword(Hive hive, const std::u16string& key, const std::u16string& name, uint32_t number) {
    std::vector<uint8_t> bytes(4);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(number >> (8 * i));
    RegSetValue(hive, key, name, {ValueType::Dword, std::move(bytes)});
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
    for (auto it = registry.keys.begin(); it != registry.keys.end();) {
        bool inside = it->first == path || it->first.rfind(path + u"\\", 0) == 0;
        it = inside ? registry.keys.erase(it) : std::next(it);
    }
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

}  // namespace winsim
