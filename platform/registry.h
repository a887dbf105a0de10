// The registry, in the shape of the Windows calls; results are Windows error codes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/handle.h"

namespace vantel::platform {

class Event;

// Keys are opened and created in the 64-bit view (KEY_WOW64_64KEY): the module is a 32-bit process,
// and the settings it reads and writes are those 64-bit Windows components use, not their
// redirected copies under WOW6432Node.
enum class RegRoot { LocalMachine, Users };

int32_t RegReadString(RegRoot root, const std::u16string& subkey, const std::u16string& value,
                      std::u16string* data);
int32_t RegReadDword(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint32_t* data);
// Any value with its type as stored.
int32_t RegReadValue(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint32_t* type,
                     std::vector<uint8_t>* data);
int32_t RegWriteDword(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint32_t data);
// A REG_QWORD value of 8 bytes; 13 (invalid data) for a value of another type or size.
int32_t RegReadQword(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint64_t* data);
int32_t RegWriteQword(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint64_t data);
// SHGetValue of a text value: one stored as expandable (REG_EXPAND_SZ) comes with its
// environment references expanded. SHGetValue takes no view: it reads what a 32-bit process sees
// without KEY_WOW64_64KEY, so it serves keys Windows does not redirect (those under SYSTEM).
int32_t ShGetTextValue(RegRoot root, const std::u16string& subkey, const std::u16string& value,
                       std::u16string* data);
// REG_SZ with its terminating zero; the key is created when missing.
int32_t RegWriteString(RegRoot root, const std::u16string& subkey, const std::u16string& value,
                       const std::u16string& data);

void RegCloseKeyHandle(void* key);
// An open key (RegOpenKeyEx), closed with RegCloseKey.
using RegKey = UniqueHandle<RegCloseKeyHandle>;

constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeyNotify = 0x0010;
constexpr uint32_t kKeyRead = 0x20019;  // query, enumerate, notify and read control
constexpr uint32_t kKeyWow6464Key = 0x0100;  // the 64-bit view, also from a 32-bit process

int32_t OpenRegKey(RegRoot root, const std::u16string& subkey, uint32_t access, RegKey* key);

// What a change notification waits for (REG_NOTIFY_CHANGE_*).
constexpr uint32_t kRegNotifyChangeName = 0x1;  // a subkey created or deleted
constexpr uint32_t kRegNotifyChangeAttributes = 0x2;
constexpr uint32_t kRegNotifyChangeLastSet = 0x4;  // a value set or deleted
constexpr uint32_t kRegNotifyChangeSecurity = 0x8;

// RegNotifyChangeKeyValue on a key opened with kKeyNotify: one registration, for the key alone
// or its whole subtree. Asynchronous, it returns at once and the event is signalled at the next
// matching change, when the key is deleted, or when the key is closed; the registration is then
// gone. Synchronous (no event), it returns when that happens.
int32_t RegNotifyChangeKeyValue(const RegKey& key, bool watchSubtree, uint32_t filter, Event* event,
                                bool asynchronous);

}  // namespace vantel::platform
