// Events with Windows' reset semantics and the system thread pool.
#pragma once
#include <cstdint>
#include <memory>

namespace vantel::platform {

enum class WaitResult { Signaled, Timeout, Failed };
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class Event {
public:
    Event(bool manualReset, bool initiallySet);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    WaitResult Wait(uint32_t milliseconds);
    // The underlying system object, for the platform's own waits.
    void* native() const { return native_; }

private:
    void* native_;
};

using WorkFunction = void (*)(void* context);

// Queues a long-running function on the system thread pool; false when it could not be queued.
bool QueueLongRunningWork(WorkFunction function, void* context);

}  // namespace vantel::platform
