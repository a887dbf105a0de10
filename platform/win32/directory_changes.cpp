#include "platform/directory_changes.h"

#include <windows.h>

#include "platform/threads.h"

namespace vantel::platform {

struct Overlapped::Data {
    OVERLAPPED overlapped;
};

namespace {

HANDLE Raw(const FileHandle& folder) { return static_cast<HANDLE>(folder.get()); }

}  // namespace

Overlapped::Overlapped() : data_(std::make_unique<Data>()) {}

Overlapped::~Overlapped() = default;

void Overlapped::Reset(Event* event) {
    data_->overlapped = {};
    data_->overlapped.hEvent = event ? static_cast<HANDLE>(event->native()) : nullptr;
}

void CloseFileHandle(void* handle) { CloseHandle(static_cast<HANDLE>(handle)); }

int32_t OpenFolderForChanges(const std::u16string& path, uint32_t shareMode, FileHandle* folder) {
    HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), FILE_LIST_DIRECTORY, shareMode, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return static_cast<int32_t>(GetLastError());
    *folder = FileHandle(handle);
    return ERROR_SUCCESS;
}

int32_t ReadDirectoryChanges(const FileHandle& folder, void* buffer, uint32_t bufferBytes, bool watchSubtree,
                             uint32_t filter, Overlapped* overlapped) {
    if (ReadDirectoryChangesW(Raw(folder), buffer, bufferBytes, watchSubtree, filter, nullptr,
                              &overlapped->data().overlapped, nullptr))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    return error == ERROR_IO_PENDING ? ERROR_SUCCESS : static_cast<int32_t>(error);
}

int32_t GetOverlappedResult(const FileHandle& folder, Overlapped* overlapped, uint32_t* bytes, bool wait) {
    DWORD transferred = 0;
    OVERLAPPED& state = overlapped->data().overlapped;
    if (!::GetOverlappedResult(Raw(folder), &state, &transferred, wait)) return static_cast<int32_t>(GetLastError());
    // An event signalled by someone else ends the wait with success while the read is still
    // pending (and nothing transferred): that is no end of the read.
    if (!HasOverlappedIoCompleted(&state)) return ERROR_IO_INCOMPLETE;
    *bytes = transferred;
    return ERROR_SUCCESS;
}

int32_t CancelIo(const FileHandle& folder) {
    return ::CancelIo(Raw(folder)) ? ERROR_SUCCESS : static_cast<int32_t>(GetLastError());
}

}  // namespace vantel::platform
