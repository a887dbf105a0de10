#include "plugin/module_lifetime.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <utility>

#include "accounts/account_policy.h"
#include "common/path.h"
#include "common/system_helpers.h"
#include "monitors/named_event_log.h"
#include "platform/library.h"
#include "plugin/companion.h"
#include "plugin/log_sink.h"
#include "plugin/singleton.h"
#include "plugin/trace.h"

namespace vantel {

namespace {

struct ModuleWork {
    std::mutex lock;
    std::condition_variable ended;
    bool accepting = false;
    int32_t queued = 0;
};

ModuleWork& Work() {
    // Never destroyed: a pool thread may still be returning through it while the module unloads.
    static ModuleWork* const work = new ModuleWork;
    return *work;
}

struct QueuedWork {
    platform::WorkFunction function;
    void* context;
};

void WorkItemEnded() {
    ModuleWork& work = Work();
    std::lock_guard guard(work.lock);
    if (--work.queued == 0) work.ended.notify_all();
}

void AcceptWork(bool accept) {
    ModuleWork& work = Work();
    std::lock_guard guard(work.lock);
    work.accepting = accept;
}

bool WorkEndedWithin(uint32_t milliseconds) {
    ModuleWork& work = Work();
    std::unique_lock guard(work.lock);
    return work.ended.wait_for(guard, std::chrono::milliseconds(milliseconds), [&] { return work.queued == 0; });
}

void RunModuleWork(void* raw) {
    QueuedWork item = *static_cast<QueuedWork*>(raw);
    delete static_cast<QueuedWork*>(raw);
    item.function(item.context);
    // The last thing the item does: the pool keeps the module loaded for what is left of it.
    WorkItemEnded();
}

bool g_logBound = false;  // by AcquireModuleResources; both run with the factory's lock held

void BindModuleLog() {
    std::u16string modulePath = platform::ThisModulePath();
    if (modulePath.empty()) return;
    std::u16string logLibrary = PathAppend(modulePath, u"..\\Quaymar.dll");
    if (!platform::VerifiesAsAgentOwn(logLibrary)) return;
    BindLogSink(logLibrary, u"Vantel", 1000);
    g_logBound = true;
}

}  // namespace

bool QueueModuleWork(platform::WorkFunction function, void* context) {
    ModuleWork& work = Work();
    {
        std::lock_guard guard(work.lock);
        if (!work.accepting) return false;
        ++work.queued;
    }
    auto* item = new (std::nothrow) QueuedWork{function, context};
    if (item != nullptr && platform::QueueLongRunningWork(&RunModuleWork, item)) return true;
    delete item;
    WorkItemEnded();
    return false;
}

void AcquireModuleResources() {
    try {
        BindModuleLog();
    } catch (...) {
        // Without a log the plugins still work.
    }
    AcceptWork(true);
}

void ReleaseModuleResources() {
    try {
        AcceptWork(false);
        // Watchers that wait for changes are woken first; the rest of the work ends on its own.
        AccountPolicy::Instance().ReleaseSamMonitor();
        bool workLeft = !WorkEndedWithin(kReleaseWaitMs);
        if (workLeft)
            TraceError(u"[Vantel] work items still run after %u ms; the companion libraries stay loaded for them",
                       kReleaseWaitMs);
        LL_singleton<CSpecialLog>::Instance().Shutdown(kReleaseWaitMs);
        ReleaseDriveMap();
        if (!workLeft) ProcessCompanions().Release();
    } catch (...) {
        // The log goes all the same.
    }
    if (std::exchange(g_logBound, false)) ReleaseLogSink();
}

}  // namespace vantel
