// Folder change notification buffers as the system fills them: any bytes must walk to an end
// without reading outside the filled part.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "monitors/directory_watch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the given size, so that reading one byte beyond it is caught.
    std::vector<uint8_t> bytes(data, data + size);
    std::vector<vantel::DirectoryChange> changes = vantel::DirectoryChangeRecords(bytes.data(), bytes.size());
    size_t characters = 0;
    for (const vantel::DirectoryChange& change : changes) characters += change.name.size();
    // Each record takes its header and its name's bytes.
    if (changes.size() * 12 + characters * 2 > size) __builtin_trap();
    return 0;
}
