// Change notifications of the simulated drives' folders, as ReadDirectoryChangesW reports them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "winsim/threads.h"

namespace winsim {

// FILE_ACTION_* of a change record.
enum FileAction : uint32_t {
    kFileAdded = 1,
    kFileRemoved = 2,
    kFileModified = 3,
    kFileRenamedOldName = 4,
    kFileRenamedNewName = 5,
};
// The FILE_NOTIFY_CHANGE_* kinds a change falls under.
constexpr uint32_t kChangeFileName = 0x01;
constexpr uint32_t kChangeDirName = 0x02;
constexpr uint32_t kChangeAttributes = 0x04;
constexpr uint32_t kChangeSize = 0x08;
constexpr uint32_t kChangeLastWrite = 0x10;

// Tells the folder watches that see the path, and ask for one of the kinds, about a change.
void NotifyFileChange(const std::u16string& windowsPath, FileAction action, uint32_t kinds);

// Control: while one lives, changes are held back; then they reach the watches together, as
// changes that come in the same moment share one notification buffer.
class FileChangeBatch {
public:
    FileChangeBatch();
    ~FileChangeBatch();
    FileChangeBatch(const FileChangeBatch&) = delete;
    FileChangeBatch& operator=(const FileChangeBatch&) = delete;
};

// Control: change records name files by their short 8.3 names ("ATLOG~1.XML"), as Windows
// sometimes does.
void SetShortNameNotifications(bool shortNames);

// The machine's side of a folder opened for ReadDirectoryChangesW, read overlapped. 3 (path
// not found) when the folder does not exist; closing a watch ends its pending read as cancelled.
int32_t OpenDirectoryWatch(const std::u16string& folder, uintptr_t* handle);
void CloseDirectoryWatch(uintptr_t handle);
// Issues a read: the event is reset now and signalled when the read can end. From the first
// read on, the watch keeps the changes its filter names until they are read; more than the
// buffer holds overflow and are dropped, and the next read ends with no records at all.
int32_t ReadDirectoryChanges(uintptr_t handle, uint32_t bufferSize, bool watchSubtree, uint32_t filter,
                             KernelEvent event);
// Ends the pending read when it can: 0 with its FILE_NOTIFY_INFORMATION records (none after an
// overflow), 995 when it was cancelled, 996 when it cannot end yet (after waiting for its event,
// if asked to). 6 for a handle that is not open, 87 when no read was issued.
int32_t DirectoryChangesResult(uintptr_t handle, bool wait, std::vector<uint8_t>* records);
// Cancels the pending read, if any.
int32_t CancelDirectoryRead(uintptr_t handle);
// Control: how many watches of the folder wait with a read pending and no change kept yet, so
// that a test knows a watcher is armed and has dealt with what came before.
size_t WaitingDirectoryWatches(const std::u16string& folder);

}  // namespace winsim
