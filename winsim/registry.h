// The simulated registry: keys compare ignoring case, values keep their type and bytes.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

enum class Hive { LocalMachine, Users };

enum class ValueType : uint32_t { String = 1, ExpandString = 2, Binary = 3, Dword = 4, MultiString = 7, Qword = 11 };

struct RegistryValue {
    ValueType type;
    std::vector<uint8_t> data;
};

void RegSetValue(Hive hive, const std::u16string& key, const std::u16string& name, RegistryValue value);
void RegSetString(Hive hive, const std::u16string& key, const std::u16string& name, const std::u16string& text);
void RegSetDword(Hive hive, const std::u16string& key, const std::u16string& name, uint32_t number);
std::optional<RegistryValue> RegGetValue(Hive hive, const std::u16string& key, const std::u16string& name);
bool RegKeyExists(Hive hive, const std::u16string& key);
void RegDeleteTree(Hive hive, const std::u16string& key);

// Makes the key fail to open with the given Windows error until cleared with 0.
void RegFailKey(Hive hive, const std::u16string& key, int32_t error);
int32_t RegKeyFailure(Hive hive, const std::u16string& key);

}  // namespace winsim
