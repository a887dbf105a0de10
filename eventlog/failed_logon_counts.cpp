#include "eventlog/failed_logon_counts.h"

namespace vantel {

uint64_t FailedLogonCounts::Increment(const std::u16string& userName) {
    auto found = counts_.find(userName);
    if (found != counts_.end()) {
        recency_.splice(recency_.begin(), recency_, found->second.recency);
        return ++found->second.count;
    }
    if (capacity_ == 0) return 1;
    if (counts_.size() >= capacity_) {
        counts_.erase(recency_.back());
        recency_.pop_back();
    }
    recency_.push_front(userName);
    counts_.emplace(userName, Entry{1, recency_.begin()});
    return 1;
}

}  // namespace vantel
