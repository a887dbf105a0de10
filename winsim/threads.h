// Kernel events and the system thread pool of the simulated machine.
#pragma once
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

private:
    struct State;
    std::shared_ptr<State> state_;
};

// A thread of its own; like a thread handle, it can be waited for with a time-out, and
// letting go of it does not end the thread.
class SimThread {
public:
    bool Start(std::function<void()> function);
    bool Wait(uint32_t milliseconds);

private:
    KernelEvent ended_{true, false};
};

// Runs the function on a pool thread; false when the pool refuses work (see RefuseWorkItems).
bool QueueWorkItem(std::function<void()> function);
// Fault injection: the pool refuses every work item while set.
void RefuseWorkItems(bool refuse);
// Waits until no work item runs any more.
void WaitForIdleThreadPool();

}  // namespace winsim
