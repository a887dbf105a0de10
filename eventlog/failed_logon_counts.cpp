#include "eventlog/failed_logon_counts.h"

#include <iterator>

namespace vantel {

uint64_t FailedLogonCounts::Increment(const std::u16string& userName) {
    auto found = counts_.find(userName);
    if (found != counts_.end()) {
        Entry& entry = found->second;
        auto bucket = entry.bucket;
        uint64_t count = bucket->count + 1;
        auto next = std::next(bucket);
        if (next == buckets_.end() || next->count != count) next = buckets_.insert(next, Bucket{count, {}});
        next->names.splice(next->names.end(), bucket->names, entry.position);
        entry.bucket = next;
        if (bucket->names.empty()) buckets_.erase(bucket);
        return count;
    }
    size_t cost = CostOf(userName);
    if (maxNames_ == 0 || cost > maxBytes_) return 1;
    while (!counts_.empty() && (counts_.size() >= maxNames_ || bytes_ + cost > maxBytes_)) EvictOne();
    if (buckets_.empty() || buckets_.front().count != 1) buckets_.push_front(Bucket{1, {}});
    auto first = buckets_.begin();
    auto inserted = counts_.emplace(userName, Entry{first, {}}).first;
    inserted->second.position = first->names.insert(first->names.end(), &*inserted);
    bytes_ += cost;
    return 1;
}

void FailedLogonCounts::EvictOne() {
    auto lowest = buckets_.begin();
    Map::value_type* victim = lowest->names.front();
    lowest->names.pop_front();
    if (lowest->names.empty()) buckets_.erase(lowest);
    bytes_ -= CostOf(victim->first);
    counts_.erase(counts_.find(victim->first));
}

}  // namespace vantel
