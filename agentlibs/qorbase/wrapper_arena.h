// The interface objects handed out for the parts of a parsed document: one per part, at a
// stable address, all released together when the document goes.
#pragma once
#include <deque>
#include <unordered_map>
#include <utility>

namespace qorbase {

template <typename Wrapper, typename Part>
class WrapperArena {
public:
    template <typename... Args>
    Wrapper* Get(Part* part, Args&&... args) {
        auto [entry, added] = index_.try_emplace(part, nullptr);
        if (added) {
            try {
                entry->second = &wrappers_.emplace_back(part, std::forward<Args>(args)...);
            } catch (...) {
                index_.erase(entry);
                throw;
            }
        }
        return entry->second;
    }

    void Clear() {
        index_.clear();
        wrappers_.clear();
    }

private:
    std::deque<Wrapper> wrappers_;
    std::unordered_map<const Part*, Wrapper*> index_;
};

}  // namespace qorbase
