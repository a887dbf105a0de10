// Handles of the simulated machine: a table per kind of object. A table's handle value carries
// the table's kind, the object's slot and that slot's generation, so that a look-up is an index
// rather than a search, a handle of one kind is never valid as another, and a closed handle stays
// invalid once its slot holds another object. Objects without a table take their values from
// NextHandleValue, which stay below every table's.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

namespace winsim {

static_assert(sizeof(uintptr_t) == 8, "handle values hold a kind, a slot and a generation");

inline uintptr_t NextHandleValue() {
    static std::atomic<uintptr_t> last{0x100};
    return last += 4;
}

namespace handle_value {

// The low two bits stay clear, as in the platform's handles; bit 62 marks a table's value.
constexpr unsigned kKindShift = 2, kSlotShift = 8, kGenerationShift = 32;
constexpr uintptr_t kKindMask = 0x3F, kSlotMask = 0xFFFFFF, kGenerationMask = 0x3FFFFFFF;
constexpr uintptr_t kTableMark = uintptr_t{1} << 62;

inline uint32_t NewKind() {
    static std::atomic<uint32_t> last{0};
    uint32_t kind = ++last;
    if (kind > kKindMask) throw std::logic_error("more handle tables than handle values can tell apart");
    return kind;
}

}  // namespace handle_value

// The kind of the table that gave the value; 0 for a value no table gave.
inline uint32_t HandleKind(uintptr_t handle) {
    using namespace handle_value;
    return (handle & kTableMark) != 0 ? static_cast<uint32_t>((handle >> kKindShift) & kKindMask) : 0;
}

template <typename Object>
class HandleTable {
public:
    HandleTable() : kind_(handle_value::NewKind()) {}
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    uint32_t kind() const { return kind_; }

    // Throws std::bad_alloc when every slot is open.
    uintptr_t Open(Object object) {
        std::lock_guard guard(lock_);
        uint32_t slot;
        if (!free_.empty()) {
            slot = free_.back();
            free_.pop_back();
        } else {
            if (slots_.size() > handle_value::kSlotMask) throw std::bad_alloc();
            free_.reserve(slots_.size() + 1);  // so that Close never needs memory
            slot = static_cast<uint32_t>(slots_.size());
            slots_.emplace_back();
        }
        slots_[slot].object.emplace(std::move(object));
        ++open_;
        return ValueOf(slot, slots_[slot].generation);
    }
    std::optional<Object> Get(uintptr_t handle) const {
        std::lock_guard guard(lock_);
        size_t slot = Find(handle);
        return slot != kNone ? slots_[slot].object : std::nullopt;
    }
    // Calls read with the object under the table's lock, for a short use that needs no copy of
    // it; false when the handle is not open. read must not reach this table.
    template <typename Reader>
    bool Read(uintptr_t handle, Reader&& read) const {
        std::lock_guard guard(lock_);
        size_t slot = Find(handle);
        if (slot == kNone) return false;
        read(*slots_[slot].object);
        return true;
    }
    bool Close(uintptr_t handle) {
        std::optional<Object> closed;  // released after the lock, since its destructor may do much
        std::lock_guard guard(lock_);
        size_t slot = Find(handle);
        if (slot == kNone) return false;
        closed = std::move(slots_[slot].object);
        slots_[slot].object.reset();
        slots_[slot].generation = (slots_[slot].generation + 1) & handle_value::kGenerationMask;
        free_.push_back(static_cast<uint32_t>(slot));
        --open_;
        return true;
    }
    size_t Count() const {
        std::lock_guard guard(lock_);
        return open_;
    }

private:
    struct Slot {
        std::optional<Object> object;
        uintptr_t generation = 0;
    };

    uintptr_t ValueOf(uint32_t slot, uintptr_t generation) const {
        using namespace handle_value;
        return kTableMark | generation << kGenerationShift | uintptr_t{slot} << kSlotShift | uintptr_t{kind_} << kKindShift;
    }
    static constexpr size_t kNone = SIZE_MAX;
    // The open slot the handle names, or kNone; the lock is held.
    size_t Find(uintptr_t handle) const {
        size_t slot = (handle >> handle_value::kSlotShift) & handle_value::kSlotMask;
        if (slot >= slots_.size() || !slots_[slot].object) return kNone;
        return ValueOf(static_cast<uint32_t>(slot), slots_[slot].generation) == handle ? slot : kNone;
    }

    const uint32_t kind_;
    mutable std::mutex lock_;
    std::vector<Slot> slots_;
    std::vector<uint32_t> free_;  // closed slots, the last closed reused first
    size_t open_ = 0;
};

}  // namespace winsim
