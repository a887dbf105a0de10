#include "monitors/directory_watch.h"

namespace vantel {

namespace {

constexpr size_t kRecordHeader = 12;  // NextEntryOffset, Action, FileNameLength

uint32_t Read32(const uint8_t* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace

std::vector<DirectoryChange> DirectoryChangeRecords(const uint8_t* buffer, size_t bytes) {
    std::vector<DirectoryChange> changes;
    for (size_t offset = 0; offset + kRecordHeader <= bytes;) {
        const uint8_t* record = buffer + offset;
        DirectoryChange change{Read32(record), Read32(record + 4), {}};
        // The name's length is in bytes: half as many characters.
        size_t nameBytes = Read32(record + 8);
        if (nameBytes > bytes - offset - kRecordHeader) break;
        for (size_t i = 0; i + 1 < nameBytes; i += 2)
            change.name += static_cast<char16_t>(record[kRecordHeader + i] | record[kRecordHeader + i + 1] << 8);
        changes.push_back(std::move(change));
        // The last record, or a successor that would start inside this one.
        if (changes.back().nextEntryOffset < kRecordHeader + nameBytes) break;
        offset += changes.back().nextEntryOffset;
    }
    return changes;
}

DirectoryWatch::DirectoryWatch(bool manualResetEvent, uint32_t shareMode, uint32_t filter)
    : event_(manualResetEvent, false), shareMode_(shareMode), filter_(filter) {}

int32_t DirectoryWatch::Arm(const std::u16string& folder, Step* failed) {
    if (pending_) return platform::kErrorSuccess;
    if (!folder_) {
        *failed = Step::Open;
        if (int32_t error = platform::OpenFolderForChanges(folder, shareMode_, &folder_)) return error;
    }
    *failed = Step::Read;
    overlapped_.Reset(&event_);
    buffer_.fill(0);
    if (int32_t error = platform::ReadDirectoryChanges(folder_, buffer_.data(), static_cast<uint32_t>(buffer_.size()),
                                                       false, filter_, &overlapped_))
        return error;
    pending_ = true;
    return platform::kErrorSuccess;
}

int32_t DirectoryWatch::Wait(std::vector<DirectoryChange>* changes) {
    changes->clear();
    if (!pending_) return platform::kErrorInvalidParameter;
    uint32_t bytes = 0;
    int32_t error = platform::GetOverlappedResult(folder_, &overlapped_, &bytes, true);
    if (error == platform::kErrorIoIncomplete) {
        // Woken: a manual-reset event would wake every later wait too.
        event_.Reset();
        return error;
    }
    pending_ = false;
    if (error != platform::kErrorSuccess) {
        folder_ = platform::FileHandle();
        return error;
    }
    *changes = DirectoryChangeRecords(buffer_.data(), bytes);
    return platform::kErrorSuccess;
}

void DirectoryWatch::Close() {
    if (pending_) {
        platform::CancelIo(folder_);
        uint32_t bytes = 0;
        // The system writes the request's end into the buffer and state; wait for it before
        // they can be used again. A wake-up that comes first is no end.
        while (platform::GetOverlappedResult(folder_, &overlapped_, &bytes, true) == platform::kErrorIoIncomplete)
            event_.Reset();
        pending_ = false;
    }
    folder_ = platform::FileHandle();
}

}  // namespace vantel
