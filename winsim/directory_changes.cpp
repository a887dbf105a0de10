#include "winsim/directory_changes.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>

#include "common/text.h"
#include "winsim/files.h"
#include "winsim/handles.h"

namespace winsim {

namespace {

constexpr int32_t kErrorPathNotFound = 3;
constexpr int32_t kErrorInvalidHandle = 6;
constexpr int32_t kErrorInvalidParameter = 87;
constexpr int32_t kErrorOperationAborted = 995;
constexpr int32_t kErrorIoIncomplete = 996;
constexpr size_t kRecordHeader = 12;  // NextEntryOffset, Action, FileNameLength

struct Watch {
    std::u16string folder;  // folded, without a trailing backslash
    bool armed = false;     // a first read has fixed what the watch keeps
    uint32_t bufferSize = 0;
    uint32_t filter = 0;
    bool subtree = false;
    std::vector<uint8_t> records;  // kept, laid out, until read
    size_t lastRecord = 0;         // where the last kept record starts
    bool overflowed = false;
    bool pending = false;
    bool cancelled = false;
    std::optional<KernelEvent> event;

    bool CanEnd() const { return pending && (cancelled || overflowed || !records.empty()); }

    void Keep(uint32_t action, const std::u16string& name) {
        if (overflowed) return;
        size_t size = (kRecordHeader + name.size() * 2 + 3) & ~size_t{3};
        if (records.size() + size > bufferSize) {
            overflowed = true;
            records.clear();
            return;
        }
        if (!records.empty()) Put(lastRecord, static_cast<uint32_t>(records.size() - lastRecord));
        lastRecord = records.size();
        records.resize(records.size() + size, 0);
        Put(lastRecord + 4, action);
        Put(lastRecord + 8, static_cast<uint32_t>(name.size() * 2));
        for (size_t i = 0; i < name.size(); ++i) {
            records[lastRecord + kRecordHeader + 2 * i] = static_cast<uint8_t>(name[i] & 0xFF);
            records[lastRecord + kRecordHeader + 2 * i + 1] = static_cast<uint8_t>(name[i] >> 8);
        }
    }

    void Put(size_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i) records[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
};

struct Change {
    std::u16string path;
    FileAction action;
    uint32_t kinds;
};

struct Watches {
    std::mutex lock;
    std::map<uintptr_t, Watch> open;
    int batchDepth = 0;
    std::vector<Change> held;
    bool shortNames = false;
};

Watches& TheWatches() {
    static Watches* watches = new Watches;  // outlives the threads that still read at exit
    return *watches;
}

std::u16string Folded(const std::u16string& path) {
    std::u16string folded = vantel::FoldCase(path);
    while (!folded.empty() && folded.back() == u'\\') folded.pop_back();
    return folded;
}

void Deliver(Watches& watches, const Change& change) {
    std::u16string path = Folded(change.path);
    for (auto& [handle, watch] : watches.open) {
        if (!watch.armed || (watch.filter & change.kinds) == 0) continue;
        size_t slash = path.rfind(u'\\');
        bool inside = watch.subtree ? path.size() > watch.folder.size() + 1 &&
                                          path.compare(0, watch.folder.size(), watch.folder) == 0 &&
                                          path[watch.folder.size()] == u'\\'
                                    : slash != std::u16string::npos && path.compare(0, slash, watch.folder) == 0 &&
                                          slash == watch.folder.size();
        if (!inside) continue;
        // The name as the change spelt it, relative to the watched folder.
        std::u16string name = change.path.substr(watch.folder.size() + 1);
        while (!name.empty() && name.back() == u'\\') name.pop_back();
        if (watches.shortNames) {
            size_t last = name.rfind(u'\\');
            size_t start = last == std::u16string::npos ? 0 : last + 1;
            name = name.substr(0, start) + ShortName(name.substr(start));
        }
        watch.Keep(change.action, name);
        if (watch.CanEnd()) watch.event->Set();
    }
}

}  // namespace

void NotifyFileChange(const std::u16string& windowsPath, FileAction action, uint32_t kinds) {
    Watches& watches = TheWatches();
    std::lock_guard guard(watches.lock);
    if (watches.batchDepth > 0) watches.held.push_back({windowsPath, action, kinds});
    else Deliver(watches, {windowsPath, action, kinds});
}

FileChangeBatch::FileChangeBatch() {
    Watches& watches = TheWatches();
    std::lock_guard guard(watches.lock);
    ++watches.batchDepth;
}

FileChangeBatch::~FileChangeBatch() {
    Watches& watches = TheWatches();
    std::lock_guard guard(watches.lock);
    if (--watches.batchDepth > 0) return;
    for (const Change& change : watches.held) Deliver(watches, change);
    watches.held.clear();
}

void SetShortNameNotifications(bool shortNames) {
    Watches& watches = TheWatches();
    std::lock_guard guard(watches.lock);
    watches.shortNames = shortNames;
}

int32_t OpenDirectoryWatch(const std::u16string& folder, uintptr_t* handle) {
    std::string host = HostPath(folder);
    std::error_code error;
    if (host.empty() || !std::filesystem::is_directory(host, error)) return kErrorPathNotFound;
    Watches& watches = TheWatches();
    std::lock_guard guard(watches.lock);
    *handle = NextHandleValue();
    watches.open[*handle].folder = Folded(folder);
    return 0;
}

void CloseDirectoryWatch(uintptr_t handle) {
    Watches& watches = TheWatches();
    std::lock_guard guard(watches.lock);
    auto found = watches.open.find(handle);
    if (found == watches.open.end()) return;
    if (found->second.pending) found->second.event->Set();  // its waiter finds the watch gone
    watches.open.erase(found);
}

int32_t ReadDirectoryChanges(uintptr_t handle, uint32_t bufferSize, bool watchSubtree, uint32_t filter,
                             KernelEvent event) {
    Watches& watches = TheWatches();
    std::lock_guard guard(watches.lock);
    auto found = watches.open.find(handle);
    if (found == watches.open.end()) return kErrorInvalidHandle;
    Watch& watch = found->second;
    // One read at a time in this model; filter bits beyond the known ones are invalid.
    if (watch.pending || filter == 0 || (filter & ~0x17Fu) != 0 || bufferSize == 0) return kErrorInvalidParameter;
    if (!watch.armed) {
        watch.armed = true;
        watch.bufferSize = bufferSize;
        watch.filter = filter;
        watch.subtree = watchSubtree;
    }
    event.Reset();
    watch.event = std::move(event);
    watch.pending = true;
    watch.cancelled = false;
    if (watch.CanEnd()) watch.event->Set();
    return 0;
}

int32_t DirectoryChangesResult(uintptr_t handle, bool wait, std::vector<uint8_t>* records) {
    Watches& watches = TheWatches();
    std::unique_lock guard(watches.lock);
    auto found = watches.open.find(handle);
    if (found == watches.open.end()) return kErrorInvalidHandle;
    if (!found->second.pending) return kErrorInvalidParameter;
    if (!found->second.CanEnd() && wait) {
        KernelEvent event = *found->second.event;
        guard.unlock();
        event.Wait(0xFFFFFFFFu);
        guard.lock();
        found = watches.open.find(handle);
        if (found == watches.open.end()) return kErrorOperationAborted;  // closed while waiting
    }
    Watch& watch = found->second;
    if (!watch.CanEnd()) return kErrorIoIncomplete;
    watch.pending = false;
    if (watch.cancelled) {
        watch.cancelled = false;
        return kErrorOperationAborted;
    }
    records->swap(watch.records);
    watch.records.clear();
    if (watch.overflowed) records->clear();
    watch.overflowed = false;
    return 0;
}

int32_t CancelDirectoryRead(uintptr_t handle) {
    Watches& watches = TheWatches();
    std::lock_guard guard(watches.lock);
    auto found = watches.open.find(handle);
    if (found == watches.open.end()) return kErrorInvalidHandle;
    if (found->second.pending) {
        found->second.cancelled = true;
        found->second.event->Set();
    }
    return 0;
}

size_t WaitingDirectoryWatches(const std::u16string& folder) {
    Watches& watches = TheWatches();
    std::lock_guard guard(watches.lock);
    std::u16string folded = Folded(folder);
    size_t waiting = 0;
    for (const auto& [handle, watch] : watches.open)
        waiting += watch.folder == folded && watch.pending && !watch.CanEnd() ? 1 : 0;
    return waiting;
}

}  // namespace winsim
