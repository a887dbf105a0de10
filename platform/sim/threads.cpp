#include "platform/threads.h"

#include "winsim/threads.h"

namespace vantel::platform {

Event::Event(bool manualReset, bool initiallySet) : native_(new winsim::KernelEvent(manualReset, initiallySet)) {}

Event::~Event() { delete static_cast<winsim::KernelEvent*>(native_); }

void Event::Set() { static_cast<winsim::KernelEvent*>(native_)->Set(); }

void Event::Reset() { static_cast<winsim::KernelEvent*>(native_)->Reset(); }

WaitResult Event::Wait(uint32_t milliseconds) {
    return static_cast<winsim::KernelEvent*>(native_)->Wait(milliseconds) ? WaitResult::Signaled : WaitResult::Timeout;
}

bool QueueLongRunningWork(WorkFunction function, void* context) {
    return winsim::QueueWorkItem([function, context] { function(context); });
}

}  // namespace vantel::platform

namespace vantel::platform {

Thread::~Thread() { Release(); }

bool Thread::Start(WorkFunction function, void* context) {
    if (native_ != nullptr) return false;
    auto* thread = new winsim::SimThread;
    if (!thread->Start([function, context] { function(context); })) {
        delete thread;
        return false;
    }
    native_ = thread;
    return true;
}

WaitResult Thread::Wait(uint32_t milliseconds) {
    if (native_ == nullptr) return WaitResult::Failed;
    return static_cast<winsim::SimThread*>(native_)->Wait(milliseconds) ? WaitResult::Signaled : WaitResult::Timeout;
}

void Thread::Release() {
    delete static_cast<winsim::SimThread*>(native_);
    native_ = nullptr;
}

}  // namespace vantel::platform
