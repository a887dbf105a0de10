// Kernel events and the system thread pool of the simulated machine.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace winsim {

class KernelEvent {
public:
    KernelEvent(bool manualReset, bool initiallySet);
    void Set();
    void Reset();
    // True when signalled within the time; 0xFFFFFFFF waits for ever.
    bool Wait(uint32_t milliseconds);
    // Control: how many threads are blocked in Wait now (a wait of 0 ms only looks).
    size_t Waiters() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// A library reference (dlopen handle) that a thread or work item drops once the function has
// returned and been destroyed, as Windows drops a module reference for a thread that ends with
// FreeLibraryAndExitThread or a pool callback that names its library; null for none.
using KeepLoaded = void*;

// A thread of its own; like a thread handle, it can be waited for with a time-out, and
// letting go of it does not end the thread.
class SimThread {
public:
    // False when threads are refused (see RefuseThreads) or the system has none left.
    bool Start(std::function<void()> function, KeepLoaded keepLoaded = nullptr);
    bool Wait(uint32_t milliseconds);

private:
    KernelEvent ended_{true, false};
};

// Waits until every SimThread has ended or sleeps on an event without a time-out that nothing
// has set since. With no more work coming in from outside, the threads are then done.
void WaitForOwnThreadsAsleep();

// Runs the function on a pool thread; false when the pool refuses work (see RefuseWorkItems).
bool QueueWorkItem(std::function<void()> function, KeepLoaded keepLoaded = nullptr);
// Fault injection: the pool refuses every work item while set.
void RefuseWorkItems(bool refuse);
// Control: while set, queued work items wait to begin; they begin when it is cleared.
void HoldWorkItems(bool hold);
// Fault injection: no new thread starts while set.
void RefuseThreads(bool refuse);
// Waits until no work item runs any more.
void WaitForIdleThreadPool();

}  // namespace winsim
