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
    HMODULE module;  // the reference a thread of our own holds on the module
};

// This module's handle; with addReference, one more reference on it that the caller must drop.
HMODULE ThisModule(bool addReference) {
    HMODULE self = nullptr;
    DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
    if (!addReference) flags |= GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(&ThisModule), &self);
    return self;
}

void CALLBACK RunWorkItem(PTP_CALLBACK_INSTANCE, void* parameter) {
    WorkItem item = *static_cast<WorkItem*>(parameter);
    delete static_cast<WorkItem*>(parameter);
    item.function(item.context);
}

}  // namespace

void SwitchToThread() { ::SwitchToThread(); }

bool QueueLongRunningWork(WorkFunction function, void* context) {
    auto* item = new (std::nothrow) WorkItem{function, context, nullptr};
    if (item == nullptr) return false;
    TP_CALLBACK_ENVIRON environment;
    InitializeThreadpoolEnvironment(&environment);
    // The pool holds a reference on the module from here until the callback has returned.
    SetThreadpoolCallbackLibrary(&environment, ThisModule(false));
    SetThreadpoolCallbackRunsLong(&environment);
    bool queued = TrySubmitThreadpoolCallback(RunWorkItem, item, &environment);
    DestroyThreadpoolEnvironment(&environment);
    if (!queued) delete item;
    return queued;
}

}  // namespace vantel::platform

namespace vantel::platform {

namespace {

unsigned __stdcall RunThread(void* parameter) {
    WorkItem item = *static_cast<WorkItem*>(parameter);
    delete static_cast<WorkItem*>(parameter);
    item.function(item.context);
    // Drops the module's reference only once no code of the module is left to run.
    FreeLibraryAndExitThread(item.module, 0);
}

}  // namespace

Thread::~Thread() { Release(); }

bool Thread::Start(WorkFunction function, void* context) {
    if (native_ != nullptr) return false;
    HMODULE module = ThisModule(true);
    if (module == nullptr) return false;
    auto* item = new (std::nothrow) WorkItem{function, context, module};
    uintptr_t handle = item ? _beginthreadex(nullptr, 0, RunThread, item, 0, nullptr) : 0;
    if (handle == 0) {
        delete item;
        FreeLibrary(module);
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
