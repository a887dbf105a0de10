// A channel's log file. Like a real log, the file has room for the channel's maximum size and a
// record that would pass it overwrites the oldest records first; the records live in the file
// (an unnamed temporary one, gone with the process), not in memory, which keeps only where each
// record lies. So a channel costs no memory for what it retains, however much is logged.
#pragma once
#include <cstdint>
#include <cstdio>
#include <deque>
#include <vector>
#include <memory>
#include <string>

#include "winsim/event_record.h"
#include "winsim/retention.h"

namespace winsim {

class ChannelFile {
public:
    explicit ChannelFile(uint64_t maximumBytes = kDefaultLogMaximumBytes) : maximum_(maximumBytes) {}

    // Logs the record, tagged with its place in the order of all channels' records. The newest
    // record stays even when it alone passes the maximum.
    void Append(uint64_t sequence, const EventRecord& record);
    void SetMaximum(uint64_t bytes);
    size_t Count() const { return sizes_.size(); }
    // Where the records kept now lie: the first one's offset and each one's size, oldest first.
    struct Kept {
        uint64_t first = 0;
        std::vector<uint32_t> sizes;
    };
    Kept Records() const;
    // Copies stored bytes; false when part of them has been written over since they were kept.
    bool ReadStored(uint64_t offset, char* bytes, size_t size) const;

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    void DropOldest();
    void Write(uint64_t offset, const char* bytes, size_t size) const;
    void Read(uint64_t offset, char* bytes, size_t size) const;
    void Flush() const;
    // Makes the file's room that many bytes, moving the records kept to their new places.
    void Grow(uint64_t room);

    uint64_t maximum_;
    // Offsets run on over everything written; the file holds each at the offset modulo its room.
    std::deque<uint32_t> sizes_;  // of the records kept, oldest first; they end at written_
    uint64_t bytes_ = 0;          // their sum
    uint64_t written_ = 0;
    uint64_t room_ = 0;  // the file's size
    uint64_t readableFrom_ = 0;  // what lies before was not moved when the file was laid out anew
    std::unique_ptr<std::FILE, Closer> file_;
    // Records not yet in the file, from flushed_ on: they go in batches, not one by one.
    mutable std::string pending_;
    mutable uint64_t flushed_ = 0;
};

// Reads the records a channel kept when the reader was made, oldest or newest first, a piece of
// the file at a time, passing over those written over meanwhile. Whoever writes to the channel
// must not do so during Next.
class ChannelReader {
public:
    ChannelReader(std::shared_ptr<const ChannelFile> file, bool newestFirst);
    // The next record, and its place in the order of all channels' records; null at the end.
    std::shared_ptr<const EventRecord> Next(uint64_t* sequence);

private:
    bool Load(uint64_t offset, uint32_t size);

    std::shared_ptr<const ChannelFile> file_;
    bool newestFirst_;
    ChannelFile::Kept kept_;
    uint64_t end_ = 0;       // where the newest record kept ends
    size_t read_ = 0;        // records read so far
    uint64_t offset_ = 0;    // where the next record starts (oldest first) or ends (newest first)
    std::string piece_;      // bytes of the file read ahead
    uint64_t pieceStart_ = 0;
};

}  // namespace winsim
