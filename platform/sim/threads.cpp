#include "platform/threads.h"

#include <dlfcn.h>

#include <thread>

#include "winsim/threads.h"

namespace vantel::platform {

namespace {

// One more reference on the shared object this code is part of; null when it is part of the
// program itself (a test that links the module's code), which never goes away.
winsim::KeepLoaded ModuleReference() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ModuleReference), &info) == 0 || info.dli_fname == nullptr) return nullptr;
    return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
}

void DropModuleReference(winsim::KeepLoaded module) {
    if (module) dlclose(module);
}

}  // namespace

Event::Event(bool manualReset, bool initiallySet) : native_(new winsim::KernelEvent(manualReset, initiallySet)) {}

Event::~Event() { delete static_cast<winsim::KernelEvent*>(native_); }

void Event::Set() { static_cast<winsim::KernelEvent*>(native_)->Set(); }

void Event::Reset() { static_cast<winsim::KernelEvent*>(native_)->Reset(); }

WaitResult Event::Wait(uint32_t milliseconds) {
    return static_cast<winsim::KernelEvent*>(native_)->Wait(milliseconds) ? WaitResult::Signaled : WaitResult::Timeout;
}

void SwitchToThread() { std::this_thread::yield(); }

bool QueueLongRunningWork(WorkFunction function, void* context) {
    winsim::KeepLoaded module = ModuleReference();
    if (winsim::QueueWorkItem([function, context] { function(context); }, module)) return true;
    DropModuleReference(module);
    return false;
}

}  // namespace vantel::platform

namespace vantel::platform {

Thread::~Thread() { Release(); }

bool Thread::Start(WorkFunction function, void* context) {
    if (native_ != nullptr) return false;
    auto* thread = new winsim::SimThread;
    winsim::KeepLoaded module = ModuleReference();
    if (!thread->Start([function, context] { function(context); }, module)) {
        DropModuleReference(module);
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
