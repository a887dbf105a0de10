#include "winsim/channel_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace winsim {

namespace {

// What the file holds of a record: each value as a type tag, its number, its text, its bytes and
// its items, with the counts before them.
void Put(std::string& out, const void* bytes, size_t size) { out.append(static_cast<const char*>(bytes), size); }
void PutCount(std::string& out, size_t count) {
    uint32_t value = static_cast<uint32_t>(count);
    Put(out, &value, sizeof value);
}
void PutText(std::string& out, const std::u16string& text) {
    PutCount(out, text.size());
    Put(out, text.data(), text.size() * sizeof(char16_t));
}
void PutValue(std::string& out, const EventValue& value) {
    Put(out, &value.type, sizeof value.type);
    Put(out, &value.number, sizeof value.number);
    PutText(out, value.text);
    PutCount(out, value.bytes.size());
    Put(out, value.bytes.data(), value.bytes.size());
    PutCount(out, value.items.size());
    for (const EventValue& item : value.items) PutValue(out, item);
}
// A record with its place in the order of all channels' records.
void PutRecord(std::string& out, uint64_t sequence, const EventRecord& record) {
    Put(out, &sequence, sizeof sequence);
    PutText(out, record.channel);
    for (const EventValue& value : record.system) PutValue(out, value);
    PutCount(out, record.user.size());
    for (const EventValue& value : record.user) PutValue(out, value);
    PutText(out, record.xml);
}

// Reads back what PutRecord wrote. The file is the simulator's own, but a short or damaged read
// still ends in a failure rather than a read past the buffer.
class StoredReader {
public:
    explicit StoredReader(std::string_view bytes) : rest_(bytes) {}

    bool Record(uint64_t& sequence, EventRecord& record) {
        if (!Number(sequence) || !Text(record.channel)) return false;
        for (EventValue& value : record.system)
            if (!Value(value)) return false;
        uint32_t count = 0;
        if (!Number(count) || count > rest_.size()) return false;
        record.user.resize(count);
        for (EventValue& value : record.user)
            if (!Value(value)) return false;
        return Text(record.xml) && rest_.empty();
    }

private:
    template <typename T>
    bool Number(T& value) {
        return Take(&value, sizeof value);
    }
    bool Take(void* bytes, size_t size) {
        if (size > rest_.size()) return false;
        if (size > 0) std::memcpy(bytes, rest_.data(), size);  // an empty text or vector has no data
        rest_.remove_prefix(size);
        return true;
    }
    bool Text(std::u16string& text) {
        uint32_t count = 0;
        if (!Number(count) || count > rest_.size() / sizeof(char16_t)) return false;
        text.resize(count);
        return Take(text.data(), count * sizeof(char16_t));
    }
    bool Value(EventValue& value) {
        uint32_t count = 0;
        if (!Number(value.type) || !Number(value.number) || !Text(value.text) || !Number(count) || count > rest_.size())
            return false;
        value.bytes.resize(count);
        if (!Take(value.bytes.data(), count) || !Number(count) || count > rest_.size()) return false;
        value.items.resize(count);
        for (EventValue& item : value.items)
            if (!Value(item)) return false;
        return true;
    }

    std::string_view rest_;
};

// Records wait for the file until they fill this many bytes; a replay touches many channels, and
// what waits is memory.
constexpr size_t kBatchBytes = 8 * 1024;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "winsim: a channel's log file: %s: %s\n", what, std::strerror(errno));
    std::abort();
}

// Reads or writes a run of bytes that starts at the offset modulo the file's room and goes on at
// the file's start when it passes the end.
template <typename Call, typename Bytes>
void InPieces(Call call, int file, uint64_t room, uint64_t offset, Bytes* bytes, size_t size, const char* what) {
    while (size > 0) {
        uint64_t at = offset % room;
        size_t piece = static_cast<size_t>(std::min<uint64_t>(size, room - at));
        ssize_t done = call(file, bytes, piece, static_cast<off_t>(at));
        if (done <= 0) Fail(what);
        offset += static_cast<uint64_t>(done);
        bytes += done;
        size -= static_cast<size_t>(done);
    }
}

}  // namespace

uint64_t StoredSize(const EventRecord& record) {
    std::string stored;
    PutRecord(stored, 0, record);
    return stored.size();
}

void ChannelFile::Append(uint64_t sequence, const EventRecord& record) {
    size_t before = pending_.size();
    PutRecord(pending_, sequence, record);
    uint64_t size = pending_.size() - before;
    while (!sizes_.empty() && bytes_ + size > maximum_) DropOldest();
    if (size > room_) {
        // Alone beyond the file's room (so nothing older is kept): the file is laid out anew.
        if (!file_) file_.reset(std::tmpfile());
        if (!file_) Fail("cannot make it");
        pending_.erase(0, before);
        flushed_ = written_;
        readableFrom_ = written_;
        room_ = std::max(maximum_, size);
    }
    sizes_.push_back(static_cast<uint32_t>(size));
    bytes_ += size;
    written_ += size;
    if (pending_.size() >= kBatchBytes) Flush();
}

void ChannelFile::SetMaximum(uint64_t bytes) {
    maximum_ = bytes;
    while (sizes_.size() > 1 && bytes_ > maximum_) DropOldest();
    if (file_ && maximum_ > room_) Grow(maximum_);  // without a file, the first record makes it
}

ChannelFile::Kept ChannelFile::Records() const { return {written_ - bytes_, {sizes_.begin(), sizes_.end()}}; }

bool ChannelFile::ReadStored(uint64_t offset, char* bytes, size_t size) const {
    Flush();
    if (offset < readableFrom_ || offset + room_ < written_ || offset + size > written_) return false;
    Read(offset, bytes, size);
    return true;
}

void ChannelFile::DropOldest() {
    bytes_ -= sizes_.front();
    sizes_.pop_front();
}

void ChannelFile::Write(uint64_t offset, const char* bytes, size_t size) const {
    InPieces(pwrite, fileno(file_.get()), room_, offset, bytes, size, "write");
}

void ChannelFile::Read(uint64_t offset, char* bytes, size_t size) const {
    InPieces(pread, fileno(file_.get()), room_, offset, bytes, size, "read");
}

void ChannelFile::Flush() const {
    if (pending_.empty()) return;
    // Only the newest room's worth matters when a batch is larger than the file.
    size_t skip = pending_.size() > room_ ? static_cast<size_t>(pending_.size() - room_) : 0;
    Write(flushed_ + skip, pending_.data() + skip, pending_.size() - skip);
    flushed_ += pending_.size();
    pending_.clear();
    if (pending_.capacity() > 2 * kBatchBytes) pending_.shrink_to_fit();  // after an outsize record
}

void ChannelFile::Grow(uint64_t room) {
    Flush();
    std::string kept(static_cast<size_t>(bytes_), '\0');
    Read(written_ - bytes_, kept.data(), kept.size());
    room_ = room;
    readableFrom_ = written_ - bytes_;
    Write(readableFrom_, kept.data(), kept.size());
}

ChannelReader::ChannelReader(std::shared_ptr<const ChannelFile> file, bool newestFirst)
    : file_(std::move(file)), newestFirst_(newestFirst), kept_(file_->Records()) {
    end_ = kept_.first;
    for (uint32_t size : kept_.sizes) end_ += size;
    offset_ = newestFirst_ ? end_ : kept_.first;
}

std::shared_ptr<const EventRecord> ChannelReader::Next(uint64_t* sequence) {
    while (read_ < kept_.sizes.size()) {
        uint32_t size = kept_.sizes[newestFirst_ ? kept_.sizes.size() - 1 - read_ : read_];
        ++read_;
        uint64_t start = newestFirst_ ? offset_ - size : offset_;
        offset_ = newestFirst_ ? start : start + size;
        if (!Load(start, size)) continue;  // written over since
        auto record = std::make_shared<EventRecord>();
        if (!StoredReader({piece_.data() + (start - pieceStart_), size}).Record(*sequence, *record)) {
            errno = EILSEQ;
            Fail("a record reads back damaged");
        }
        return record;
    }
    return nullptr;
}

// Makes the record's bytes part of the piece read ahead, reading the next piece in the reader's
// direction when they are not.
bool ChannelReader::Load(uint64_t offset, uint32_t size) {
    if (offset >= pieceStart_ && offset + size <= pieceStart_ + piece_.size()) return true;
    constexpr uint64_t kPieceBytes = 1024 * 1024;
    uint64_t start = offset;
    uint64_t stop = offset + size;
    if (newestFirst_) start = std::min(offset, std::max(kept_.first, stop > kPieceBytes ? stop - kPieceBytes : 0));
    else stop = std::max(stop, std::min(end_, offset + kPieceBytes));
    piece_.resize(static_cast<size_t>(stop - start));
    pieceStart_ = start;
    if (file_->ReadStored(start, piece_.data(), piece_.size())) return true;
    // Part of the piece was written over: the record alone may still be whole.
    piece_.resize(size);
    pieceStart_ = offset;
    if (file_->ReadStored(offset, piece_.data(), size)) return true;
    piece_.clear();
    return false;
}

}  // namespace winsim
