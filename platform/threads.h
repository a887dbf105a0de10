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

// A thread of the module's own, started with the C runtime's thread start. It holds a reference
// on the module until it has left the module's code, so a host that unloads the module early
// cannot pull the code from under it.
class Thread {
public:
    Thread() = default;
    // A thread still running is left to end on its own.
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // False when the thread could not be started or one is still held.
    bool Start(WorkFunction function, void* context);
    WaitResult Wait(uint32_t milliseconds);
    // Lets go of an ended thread so that Start may run a new one.
    void Release();
    bool started() const { return native_ != nullptr; }

private:
    void* native_ = nullptr;
};

// Lets another thread that is ready to run on this processor go first.
void SwitchToThread();

// Queues a long-running function on the system thread pool; false when it could not be queued.
// The pool keeps the module loaded until the function has returned.
bool QueueLongRunningWork(WorkFunction function, void* context);

}  // namespace vantel::platform
