#include "platform/threads.h"

#include <windows.h>

#include <process.h>

#include <new>

namespace vantel::platform {

Event::Event(bool manualReset, bool initiallySet) : native_(CreateEventW(nullptr, manualReset, initiallySet, nullptr)) {}

Event::~Event() {
    if (native_) CloseHandle(native_);
}

void Event::Set() { SetEvent(native_); }

void Event::Reset() { ResetEvent(native_); }

WaitResult Event::Wait(uint32_t milliseconds) {
    switch (WaitForSingleObject(native_, milliseconds)) {
        case WAIT_OBJECT_0: return WaitResult::Signaled;
        case WAIT_TIMEOUT: return WaitResult::Timeout;
        default: return WaitResult::Failed;
    }
}

namespace {

struct WorkItem {
    WorkFunction function;
    void* context;
};

DWORD WINAPI RunWorkItem(void* parameter) {
    WorkItem item = *static_cast<WorkItem*>(parameter);
    delete static_cast<WorkItem*>(parameter);
    item.function(item.context);
    return 0;
}

}  // namespace

bool QueueLongRunningWork(WorkFunction function, void* context) {
    auto* item = new (std::nothrow) WorkItem{function, context};
    if (item == nullptr) return false;
    if (QueueUserWorkItem(RunWorkItem, item, WT_EXECUTELONGFUNCTION)) return true;
    delete item;
    return false;
}

}  // namespace vantel::platform

namespace vantel::platform {

namespace {

unsigned __stdcall RunThread(void* parameter) {
    WorkItem item = *static_cast<WorkItem*>(parameter);
    delete static_cast<WorkItem*>(parameter);
    item.function(item.context);
    return 0;
}

}  // namespace

Thread::~Thread() { Release(); }

bool Thread::Start(WorkFunction function, void* context) {
    if (native_ != nullptr) return false;
    auto* item = new (std::nothrow) WorkItem{function, context};
    if (item == nullptr) return false;
    uintptr_t handle = _beginthreadex(nullptr, 0, RunThread, item, 0, nullptr);
    if (handle == 0) {
        delete item;
        return false;
    }
    native_ = reinterpret_cast<void*>(handle);
    return true;
}

WaitResult Thread::Wait(uint32_t milliseconds) {
    if (native_ == nullptr) return WaitResult::Failed;
    switch (WaitForSingleObject(native_, milliseconds)) {
        case WAIT_OBJECT_0: return WaitResult::Signaled;
        case WAIT_TIMEOUT: return WaitResult::Timeout;
        default: return WaitResult::Failed;
    }
}

void Thread::Release() {
    if (native_) CloseHandle(native_);
    native_ = nullptr;
}

}  // namespace vantel::platform
