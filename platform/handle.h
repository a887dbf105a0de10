// Sole ownership of one system handle, released by the backend's call for its kind.
#pragma once
#include <utility>

namespace vantel::platform {

template <void (*Close)(void*)>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(void* handle) : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Release();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Release(); }

    void* get() const { return handle_; }
    // Gives the handle up to a call that takes it over.
    void* release() { return std::exchange(handle_, nullptr); }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    void Release() {
        if (handle_) Close(handle_);
        handle_ = nullptr;
    }

    void* handle_ = nullptr;
};

}  // namespace vantel::platform
