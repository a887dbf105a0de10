// Reference counting and the interface query that every component object here shares. A new
// object holds one reference, its creator's; the last Release destroys it.
#pragma once
#include <atomic>

#include "vantel/abi.h"

namespace vantel {

template <typename Interface, const Guid& kIid>
class ComObject : public Interface {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HResult VANTEL_CALL QueryInterface(const Guid& iid, void** object) noexcept override {
        if (object == nullptr) return kInvalidPointer;
        if (!SameGuid(iid, kIidUnknown) && !SameGuid(iid, kIid)) {
            *object = nullptr;
            return kNoInterface;
        }
        AddRef();
        *object = static_cast<Interface*>(this);
        return kOk;
    }
    uint32_t VANTEL_CALL AddRef() noexcept override { return ++references_; }
    uint32_t VANTEL_CALL Release() noexcept override {
        uint32_t left = --references_;
        if (left == 0) delete this;
        return left;
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    std::atomic<uint32_t> references_{1};
};

}  // namespace vantel
