// Handles of the simulated machine: a table per kind of object, all drawing their values from
// one sequence, so that a handle of one kind is never valid as another.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

namespace winsim {

inline uintptr_t NextHandleValue() {
    static std::atomic<uintptr_t> last{0x100};
    return last += 4;
}

template <typename Object>
class HandleTable {
public:
    uintptr_t Open(Object object) {
        uintptr_t handle = NextHandleValue();
        std::lock_guard guard(lock_);
        objects_.emplace(handle, std::move(object));
        return handle;
    }
    std::optional<Object> Get(uintptr_t handle) const {
        std::lock_guard guard(lock_);
        auto found = objects_.find(handle);
        if (found == objects_.end()) return std::nullopt;
        return found->second;
    }
    bool Close(uintptr_t handle) {
        std::lock_guard guard(lock_);
        return objects_.erase(handle) != 0;
    }
    size_t Count() const {
        std::lock_guard guard(lock_);
        return objects_.size();
    }

private:
    mutable std::mutex lock_;
    std::map<uintptr_t, Object> objects_;
};

}  // namespace winsim
