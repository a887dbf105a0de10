#include "monitors/monitor_watchers.h"

#include <new>

#include "plugin/boundary.h"
#include "plugin/module_lifetime.h"

namespace vantel {

struct MonitorWatchers::Item {
    MonitorWatchers* watchers;
    Watch watch;
    void* monitor;
    PluginRunState* runState;
    const char16_t* tag;
};

bool MonitorWatchers::Queue(Watch watch, void* monitor, PluginRunState* runState, const char16_t* tag) {
    Add(runState);
    auto* item = new (std::nothrow) Item{this, watch, monitor, runState, tag};
    if (item == nullptr || !QueueModuleWork(&MonitorWatchers::Run, item)) {
        TraceError(u"%s the watcher could not be queued", tag);
        delete item;
        Done(runState);
        return false;
    }
    return true;
}

void MonitorWatchers::Run(void* raw) {
    Item item = *static_cast<Item*>(raw);
    delete static_cast<Item*>(raw);
    AtBoundary(item.tag, [&] { item.watch(item.monitor); });
    item.watchers->Done(item.runState);
}

void MonitorWatchers::Add(PluginRunState* runState) {
    std::lock_guard guard(lock_);
    if (count_++ == 0) none_.Reset();
    if (runState) ++runState->running;
}

void MonitorWatchers::Done(PluginRunState* runState) {
    std::lock_guard guard(lock_);
    if (runState) --runState->running;
    if (--count_ == 0) none_.Set();
}

}  // namespace vantel
