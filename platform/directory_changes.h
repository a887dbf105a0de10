// A folder's change notifications, read overlapped, in the shape of the Windows calls; results
// are Windows error codes.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/errors.h"
#include "platform/handle.h"

namespace vantel::platform {

class Event;

void CloseFileHandle(void* handle);
using FileHandle = UniqueHandle<CloseFileHandle>;

constexpr uint32_t kFileShareRead = 0x1;
constexpr uint32_t kFileShareWrite = 0x2;
constexpr uint32_t kFileShareDelete = 0x4;

// CreateFile of a folder for listing (FILE_LIST_DIRECTORY), with the sharing given, existing
// only, with FILE_FLAG_BACKUP_SEMANTICS and FILE_FLAG_OVERLAPPED.
int32_t OpenFolderForChanges(const std::u16string& path, uint32_t shareMode, FileHandle* folder);

// FILE_NOTIFY_CHANGE_*: what a read reports.
constexpr uint32_t kNotifyChangeFileName = 0x01;
constexpr uint32_t kNotifyChangeDirName = 0x02;
constexpr uint32_t kNotifyChangeAttributes = 0x04;
constexpr uint32_t kNotifyChangeSize = 0x08;
constexpr uint32_t kNotifyChangeLastWrite = 0x10;

// FILE_ACTION_*: what a record reports.
constexpr uint32_t kFileActionAdded = 1;
constexpr uint32_t kFileActionRemoved = 2;
constexpr uint32_t kFileActionModified = 3;
constexpr uint32_t kFileActionRenamedOldName = 4;
constexpr uint32_t kFileActionRenamedNewName = 5;

constexpr int32_t kErrorOperationAborted = 995;
constexpr int32_t kErrorIoIncomplete = 996;

// The state of one overlapped request (OVERLAPPED); it stays in place while the request is
// pending.
class Overlapped {
public:
    Overlapped();
    ~Overlapped();
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;

    // Clears the state and attaches the event that the request signals when it ends.
    void Reset(Event* event);

    struct Data;  // the backend's form
    Data& data() const { return *data_; }

private:
    std::unique_ptr<Data> data_;
};

// ReadDirectoryChangesW, overlapped: 0 when the read was issued (it then ends later), else why
// it could not be. The buffer receives FILE_NOTIFY_INFORMATION records and must stay in place
// until the read has ended.
int32_t ReadDirectoryChanges(const FileHandle& folder, void* buffer, uint32_t bufferBytes, bool watchSubtree,
                             uint32_t filter, Overlapped* overlapped);
// GetOverlappedResult: 0 with the bytes the read filled (0 when the changes overflowed the
// buffer); 995 when the read was cancelled; 996 when it has not ended, which a waiting call
// answers when the event was signalled by someone else.
int32_t GetOverlappedResult(const FileHandle& folder, Overlapped* overlapped, uint32_t* bytes, bool wait);
// CancelIo: ends the calling thread's pending requests on the handle as cancelled.
int32_t CancelIo(const FileHandle& folder);

}  // namespace vantel::platform
