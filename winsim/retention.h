// How much of a log the simulated machine keeps: like a real log's maximum size, a record that
// would pass it pushes the oldest records out first, so memory stays bounded whatever is logged.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>

namespace winsim {

// 20 MiB, the size Windows gives its main logs.
constexpr uint64_t kDefaultLogMaximumBytes = 20ull * 1024 * 1024;

template <typename Record>
class RetainedRecords {
public:
    explicit RetainedRecords(uint64_t maximumBytes = kDefaultLogMaximumBytes) : maximum_(maximumBytes) {}

    // Appends the record, counted at its stored size; answers how many of the oldest went. The
    // newest record stays even when it alone passes the maximum.
    size_t Append(Record record, uint64_t bytes) {
        records_.push_back(std::move(record));
        sizes_.push_back(bytes);
        bytes_ += bytes;
        return Trim();
    }
    // True when a record of that size would push older ones out.
    bool Full(uint64_t bytes) const { return !records_.empty() && bytes_ + bytes > maximum_; }
    void SetMaximum(uint64_t bytes) {
        maximum_ = bytes;
        Trim();
    }
    void Clear() {
        records_.clear();
        sizes_.clear();
        bytes_ = 0;
    }
    const std::deque<Record>& records() const { return records_; }
    uint64_t bytes() const { return bytes_; }

private:
    size_t Trim() {
        size_t dropped = 0;
        while (bytes_ > maximum_ && records_.size() > 1) {
            bytes_ -= sizes_.front();
            records_.pop_front();
            sizes_.pop_front();
            ++dropped;
        }
        return dropped;
    }

    uint64_t maximum_;
    std::deque<Record> records_;  // oldest first
    std::deque<uint64_t> sizes_;
    uint64_t bytes_ = 0;
};

}  // namespace winsim
