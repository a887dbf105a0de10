#include "platform/directory_changes.h"

#include <algorithm>
#include <vector>

#include "platform/threads.h"
#include "winsim/directory_changes.h"

namespace vantel::platform {

struct Overlapped::Data {
    winsim::KernelEvent* event = nullptr;
    void* buffer = nullptr;
    uint32_t bufferBytes = 0;
};

namespace {

uintptr_t Handle(const FileHandle& folder) { return reinterpret_cast<uintptr_t>(folder.get()); }

}  // namespace

Overlapped::Overlapped() : data_(std::make_unique<Data>()) {}

Overlapped::~Overlapped() = default;

void Overlapped::Reset(Event* event) {
    *data_ = {};
    data_->event = event ? static_cast<winsim::KernelEvent*>(event->native()) : nullptr;
}

void CloseFileHandle(void* handle) { winsim::CloseDirectoryWatch(reinterpret_cast<uintptr_t>(handle)); }

int32_t OpenFolderForChanges(const std::u16string& path, uint32_t, FileHandle* folder) {
    uintptr_t handle = 0;
    if (int32_t error = winsim::OpenDirectoryWatch(path, &handle)) return error;
    *folder = FileHandle(reinterpret_cast<void*>(handle));
    return kErrorSuccess;
}

int32_t ReadDirectoryChanges(const FileHandle& folder, void* buffer, uint32_t bufferBytes, bool watchSubtree,
                             uint32_t filter, Overlapped* overlapped) {
    Overlapped::Data& data = overlapped->data();
    if (data.event == nullptr || buffer == nullptr) return kErrorInvalidParameter;
    data.buffer = buffer;
    data.bufferBytes = bufferBytes;
    return winsim::ReadDirectoryChanges(Handle(folder), bufferBytes, watchSubtree, filter, *data.event);
}

int32_t GetOverlappedResult(const FileHandle& folder, Overlapped* overlapped, uint32_t* bytes, bool wait) {
    std::vector<uint8_t> records;
    if (int32_t error = winsim::DirectoryChangesResult(Handle(folder), wait, &records)) return error;
    Overlapped::Data& data = overlapped->data();
    *bytes = static_cast<uint32_t>(std::min<size_t>(records.size(), data.bufferBytes));
    std::copy_n(records.begin(), *bytes, static_cast<uint8_t*>(data.buffer));
    return kErrorSuccess;
}

int32_t CancelIo(const FileHandle& folder) { return winsim::CancelDirectoryRead(Handle(folder)); }

}  // namespace vantel::platform
