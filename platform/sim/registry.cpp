#include "platform/registry.h"

#include "platform/threads.h"
#include "winsim/registry.h"
#include "winsim/system.h"

namespace vantel::platform {

namespace {

winsim::Hive HiveOf(RegRoot root) { return root == RegRoot::LocalMachine ? winsim::Hive::LocalMachine : winsim::Hive::Users; }

// The key as the module opens it: in the 64-bit view, as the Windows backend does.
std::u16string Opened(RegRoot root, const std::u16string& subkey) {
    return winsim::KeyInView(HiveOf(root), subkey, winsim::kKeyWow64_64Key);
}

// What opening the key answers: its injected failure, not found, or success.
int32_t OpenResult(RegRoot root, const std::u16string& key) {
    if (int32_t failure = winsim::RegKeyFailure(HiveOf(root), key)) return failure;
    return winsim::RegKeyExists(HiveOf(root), key) ? kErrorSuccess : kErrorFileNotFound;
}

// A text value of the key as reached; tells whether it is stored as expandable.
int32_t ReadText(RegRoot root, const std::u16string& key, const std::u16string& value, std::u16string* data,
                 bool* expandable) {
    if (int32_t error = OpenResult(root, key)) return error;
    auto stored = winsim::RegGetValue(HiveOf(root), key, value);
    if (!stored) return kErrorFileNotFound;
    if (stored->type != winsim::ValueType::String && stored->type != winsim::ValueType::ExpandString)
        return kErrorInvalidData;
    data->clear();
    for (size_t i = 0; i + 1 < stored->data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(stored->data[i] | (stored->data[i + 1] << 8));
        if (c == 0) break;
        *data += c;
    }
    if (expandable) *expandable = stored->type == winsim::ValueType::ExpandString;
    return kErrorSuccess;
}

}  // namespace

int32_t RegReadString(RegRoot root, const std::u16string& subkey, const std::u16string& value,
                      std::u16string* data) {
    return ReadText(root, Opened(root, subkey), value, data, nullptr);
}

int32_t RegReadDword(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint32_t* data) {
    std::u16string key = Opened(root, subkey);
    if (int32_t error = OpenResult(root, key)) return error;
    auto stored = winsim::RegGetValue(HiveOf(root), key, value);
    if (!stored) return kErrorFileNotFound;
    if (stored->type != winsim::ValueType::Dword || stored->data.size() != 4) return kErrorInvalidData;
    *data = stored->data[0] | (stored->data[1] << 8) | (stored->data[2] << 16) | (uint32_t{stored->data[3]} << 24);
    return kErrorSuccess;
}

int32_t RegReadValue(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint32_t* type,
                     std::vector<uint8_t>* data) {
    std::u16string key = Opened(root, subkey);
    if (int32_t error = OpenResult(root, key)) return error;
    auto stored = winsim::RegGetValue(HiveOf(root), key, value);
    if (!stored) return kErrorFileNotFound;
    *type = static_cast<uint32_t>(stored->type);
    *data = std::move(stored->data);
    return kErrorSuccess;
}

int32_t RegReadQword(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint64_t* data) {
    std::u16string key = Opened(root, subkey);
    if (int32_t error = OpenResult(root, key)) return error;
    auto stored = winsim::RegGetValue(HiveOf(root), key, value);
    if (!stored) return kErrorFileNotFound;
    if (stored->type != winsim::ValueType::Qword || stored->data.size() != 8) return kErrorInvalidData;
    *data = 0;
    for (int i = 7; i >= 0; --i) *data = (*data << 8) | stored->data[i];
    return kErrorSuccess;
}

int32_t RegWriteQword(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint64_t data) {
    std::u16string key = Opened(root, subkey);
    if (int32_t failure = winsim::RegKeyFailure(HiveOf(root), key)) return failure;
    std::vector<uint8_t> bytes(8);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(data >> (8 * i));
    winsim::RegSetValue(HiveOf(root), key, value, {winsim::ValueType::Qword, std::move(bytes)});
    return kErrorSuccess;
}

int32_t ShGetTextValue(RegRoot root, const std::u16string& subkey, const std::u16string& value,
                       std::u16string* data) {
    // SHGetValue asks for no view: the 32-bit process's own.
    bool expandable = false;
    if (int32_t error = ReadText(root, winsim::KeyInView(HiveOf(root), subkey, 0), value, data, &expandable))
        return error;
    if (expandable) *data = winsim::ExpandEnvironmentStrings(*data);
    return kErrorSuccess;
}

int32_t RegWriteDword(RegRoot root, const std::u16string& subkey, const std::u16string& value, uint32_t data) {
    std::u16string key = Opened(root, subkey);
    if (int32_t failure = winsim::RegKeyFailure(HiveOf(root), key)) return failure;
    winsim::RegSetDword(HiveOf(root), key, value, data);
    return kErrorSuccess;
}

int32_t RegWriteString(RegRoot root, const std::u16string& subkey, const std::u16string& value,
                       const std::u16string& data) {
    if (int32_t failure = winsim::RegKeyFailure(HiveOf(root), subkey)) return failure;
    winsim::RegSetString(HiveOf(root), subkey, value, data);
    return kErrorSuccess;
}

void RegCloseKeyHandle(void* key) { winsim::RegCloseKey(reinterpret_cast<uintptr_t>(key)); }

int32_t OpenRegKey(RegRoot root, const std::u16string& subkey, uint32_t access, RegKey* key) {
    uintptr_t handle = 0;
    if (int32_t error = winsim::RegOpenKey(HiveOf(root), Opened(root, subkey), access, &handle)) return error;
    *key = RegKey(reinterpret_cast<void*>(handle));
    return kErrorSuccess;
}

int32_t RegNotifyChangeKeyValue(const RegKey& key, bool watchSubtree, uint32_t filter, Event* event,
                                bool asynchronous) {
    auto handle = reinterpret_cast<uintptr_t>(key.get());
    if (asynchronous) {
        if (event == nullptr) return kErrorInvalidParameter;
        return winsim::RegNotifyChangeKey(handle, watchSubtree, filter,
                                          *static_cast<winsim::KernelEvent*>(event->native()));
    }
    winsim::KernelEvent changed(true, false);
    if (int32_t error = winsim::RegNotifyChangeKey(handle, watchSubtree, filter, changed)) return error;
    changed.Wait(kInfinite);
    return kErrorSuccess;
}

}  // namespace vantel::platform
