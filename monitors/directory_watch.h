// A folder's change notifications for a watcher thread: one overlapped read at a time into a
// buffer of 4,096 bytes, and the records of what it read.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/directory_changes.h"
#include "platform/threads.h"

namespace vantel {

// One FILE_NOTIFY_INFORMATION record.
struct DirectoryChange {
    uint32_t nextEntryOffset;
    uint32_t action;
    std::u16string name;
};

// The records of a filled buffer, in order. A record that does not fit in the filled bytes, or
// a successor offset that would not move past the record, ends the walk.
std::vector<DirectoryChange> DirectoryChangeRecords(const uint8_t* buffer, size_t bytes);

class DirectoryWatch {
public:
    DirectoryWatch(bool manualResetEvent, uint32_t shareMode, uint32_t filter);
    ~DirectoryWatch() { Close(); }
    DirectoryWatch(const DirectoryWatch&) = delete;
    DirectoryWatch& operator=(const DirectoryWatch&) = delete;

    enum class Step { Open, Read };
    // Opens the folder when it is not open and issues a read when none is pending: 0, or the
    // error of the step that failed.
    int32_t Arm(const std::u16string& folder, Step* failed);
    bool armed() const { return pending_; }
    // Waits for the pending read to end: 0 with its records (none when the changes overflowed
    // the buffer); platform::kErrorIoIncomplete when Wake came first, the read still pending;
    // any other error ends the read and closes the folder, so that the next Arm opens it anew.
    int32_t Wait(std::vector<DirectoryChange>* changes);
    // From any thread: ends a Wait or a Pause under way, or the next one.
    void Wake() { event_.Set(); }
    // Waits for a Wake at most that long.
    void Pause(uint32_t milliseconds) { event_.Wait(milliseconds); }
    // Ends a pending read, waits until it has ended, and closes the folder. Only the thread
    // that armed the watch may close it: the system cancels only that thread's requests.
    void Close();

private:
    platform::Event event_;
    uint32_t shareMode_;
    uint32_t filter_;
    platform::FileHandle folder_;
    platform::Overlapped overlapped_;
    bool pending_ = false;
    alignas(4) std::array<uint8_t, 4096> buffer_{};
};

}  // namespace vantel
