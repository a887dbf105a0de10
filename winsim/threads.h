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

// Runs the function on a pool thread; false when the pool refuses work (see RefuseWorkItems).
bool QueueWorkItem(std::function<void()> function);
// Fault injection: the pool refuses every work item while set.
void RefuseWorkItems(bool refuse);
// Waits until no work item runs any more.
void WaitForIdleThreadPool();

}  // namespace winsim
