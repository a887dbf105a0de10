// Failed logons per user name, bounded in names and in bytes so that a spray of distinct or long
// names cannot exhaust the 32-bit host. Past a bound the name with the lowest count is forgotten
// (the least recently counted among equals): names tried once evict each other, and an account
// under a slow brute force keeps its exact count.
#pragma once
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

namespace vantel {

class FailedLogonCounts {
public:
    static constexpr size_t kDefaultMaxNames = 65536;
    static constexpr size_t kDefaultMaxBytes = 16u << 20;
    // What a name costs besides its UTF-16 characters: its map node, list link and bucket, and
    // the allocator's headers, counted generously.
    static constexpr size_t kBytesPerName = 128;

    explicit FailedLogonCounts(size_t maxNames = kDefaultMaxNames, size_t maxBytes = kDefaultMaxBytes)
        : maxNames_(maxNames), maxBytes_(maxBytes) {}
    FailedLogonCounts(const FailedLogonCounts&) = delete;
    FailedLogonCounts& operator=(const FailedLogonCounts&) = delete;

    // Counts one more failed logon of the name (exact comparison) and answers the new count; a
    // name that alone exceeds the byte bound is answered 1 and not kept.
    uint64_t Increment(const std::u16string& userName);
    size_t size() const { return counts_.size(); }
    // The bytes the held names cost, as the byte bound counts them.
    size_t bytes() const { return bytes_; }

private:
    struct Entry;
    using Map = std::unordered_map<std::u16string, Entry>;
    using Names = std::list<Map::value_type*>;  // least recently counted first
    // The names of one count; buckets stand in increasing order of count.
    struct Bucket {
        uint64_t count;
        Names names;
    };
    struct Entry {
        std::list<Bucket>::iterator bucket;
        Names::iterator position;
    };

    static size_t CostOf(const std::u16string& name) { return name.size() * sizeof(char16_t) + kBytesPerName; }
    void EvictOne();

    size_t maxNames_;
    size_t maxBytes_;
    size_t bytes_ = 0;
    std::list<Bucket> buckets_;
    Map counts_;  // each name is held once, here; the buckets point at the map's nodes
};

}  // namespace vantel
