// Owns one reference of a reference-counted component object.
#pragma once
#include <utility>

namespace vantel {

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr& other) : object_(other.object_) {
        if (object_) object_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~ComPtr() { reset(); }

    // Adds a reference of our own to a borrowed pointer.
    static ComPtr Borrow(T* object) {
        ComPtr pointer;
        pointer.object_ = object;
        if (object) object->AddRef();
        return pointer;
    }

    void reset() {
        if (T* object = std::exchange(object_, nullptr)) object->Release();
    }
    // For out-parameters that hand over a reference.
    T** put() {
        reset();
        return &object_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

}  // namespace vantel
