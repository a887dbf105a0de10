// The simulated registry: keys compare ignoring case, values keep their type and bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "winsim/threads.h"

namespace winsim {

enum class Hive { LocalMachine, Users };

enum class ValueType : uint32_t { String = 1, ExpandString = 2, Binary = 3, Dword = 4, MultiString = 7, Qword = 11 };

struct RegistryValue {
    ValueType type;
    std::vector<uint8_t> data;
};

// Changes wake the notifications registered on the key or, for whole-subtree ones, above it.
void RegSetValue(Hive hive, const std::u16string& key, const std::u16string& name, RegistryValue value);
// A String value, or with type ExpandString one whose environment references readers expand.
void RegSetString(Hive hive, const std::u16string& key, const std::u16string& name, const std::u16string& text,
                  ValueType type = ValueType::String);
void RegSetDword(Hive hive, const std::u16string& key, const std::u16string& name, uint32_t number);
void RegDeleteValue(Hive hive, const std::u16string& key, const std::u16string& name);
// Creates the key and its missing parents.
void RegCreateKey(Hive hive, const std::u16string& key);
std::optional<RegistryValue> RegGetValue(Hive hive, const std::u16string& key, const std::u16string& name);
bool RegKeyExists(Hive hive, const std::u16string& key);
void RegDeleteTree(Hive hive, const std::u16string& key);

// The access flag of RegOpenKeyEx and RegCreateKeyEx that opens the 64-bit view.
constexpr uint32_t kKeyWow64_64Key = 0x0100;
// The machine is 64-bit Windows and the module a 32-bit process on it. The key such a process
// reaches with the access it asks for: without kKeyWow64_64Key a key under HKLM\SOFTWARE that
// Windows redirects leads to its copy under SOFTWARE\WOW6432Node; the shared keys, the other keys
// and the 64-bit view lead to the key itself. (HKLM\SOFTWARE\Classes counts as shared here; its
// own redirection of a few class keys is not modelled.) The control functions of this header
// address keys by their own paths, as a 64-bit process does.
std::u16string KeyInView(Hive hive, const std::u16string& key, uint32_t access);

// Makes the key fail to open with the given Windows error until cleared with 0.
void RegFailKey(Hive hive, const std::u16string& key, int32_t error);
int32_t RegKeyFailure(Hive hive, const std::u16string& key);

// The machine's side: RegOpenKeyEx with the access asked for (its injected failure, 2 when the
// key is missing), RegCloseKey, and RegNotifyChangeKeyValue's asynchronous registration.
// The filter takes the REG_NOTIFY_CHANGE_* bits: 1 a subkey created or deleted, 4 a value
// set or deleted. A registration is signalled once, at the first matching change, when the key
// itself is deleted, or when its handle is closed; then it is gone. Answers 6 for a handle that
// is not open, 5 when it was opened without KEY_NOTIFY, 1018 when its key was deleted.
int32_t RegOpenKey(Hive hive, const std::u16string& key, uint32_t access, uintptr_t* handle);
void RegCloseKey(uintptr_t handle);
int32_t RegNotifyChangeKey(uintptr_t handle, bool watchSubtree, uint32_t filter, KernelEvent event);
// Control: how many registrations wait on the key, so that a test knows a watcher is armed.
size_t RegNotificationCount(Hive hive, const std::u16string& key);
// Control: how many of them have a thread waiting on their event, so that a scenario knows a
// watcher has dealt with what came before and waits for the next change.
size_t RegNotificationWaiters(Hive hive, const std::u16string& key);

// Control: waits, at most the time given, until every handle opened on the key with KEY_NOTIFY
// has a notification registered or is closed, so that the next change reaches every watcher;
// false when the time ran out.
bool RegWaitForWatchers(Hive hive, const std::u16string& key, uint32_t milliseconds);

}  // namespace winsim
