// A channel's log file. Like a real log, the file has room for the channel's maximum size and a
// record that would pass it overwrites the oldest records first; the records live in the file
// (an unnamed temporary one, gone with the process), not in memory, which keeps only where each
// record lies. So a channel costs no memory for what it retains, however much is logged.
#pragma once
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
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
    // Reads every record back, oldest first.
    void ForEach(const std::function<void(uint64_t sequence, std::shared_ptr<const EventRecord> record)>& visit) const;

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
    std::unique_ptr<std::FILE, Closer> file_;
    // Records not yet in the file, from flushed_ on: they go in batches, not one by one.
    mutable std::string pending_;
    mutable uint64_t flushed_ = 0;
};

}  // namespace winsim
