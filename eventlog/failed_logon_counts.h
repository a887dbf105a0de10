// Failed logons per user name. Bounded, so that a spray of distinct names cannot exhaust the
// 32-bit host: past the bound, the name counted least recently is forgotten.
#pragma once
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

namespace vantel {

class FailedLogonCounts {
public:
    static constexpr size_t kDefaultCapacity = 65536;

    explicit FailedLogonCounts(size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

    // Counts one more failed logon of the name (exact comparison) and answers the new count.
    uint64_t Increment(const std::u16string& userName);
    size_t size() const { return counts_.size(); }

private:
    struct Entry {
        uint64_t count;
        std::list<std::u16string>::iterator recency;
    };

    size_t capacity_;
    std::list<std::u16string> recency_;  // most recently counted first
    std::unordered_map<std::u16string, Entry> counts_;
};

}  // namespace vantel
