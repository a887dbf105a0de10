// A change monitor's watchers on the system thread pool: each is counted from the moment it is
// queued until it has left, so that the end of the event-log plugin can wait for them.
#pragma once
#include <cstdint>
#include <mutex>

#include "platform/threads.h"
#include "plugin/run_state.h"

namespace vantel {

class MonitorWatchers {
public:
    using Watch = void (*)(void* monitor);

    // Queues a watcher as a work item of the module, counted here and, when given, in a
    // plugin's run state until it has left; false (traced under the tag) when it could not be
    // queued, as while no plugin object lives.
    bool Queue(Watch watch, void* monitor, PluginRunState* runState, const char16_t* tag);
    // True when no watcher is queued or running any more, within the time.
    bool WaitForNone(uint32_t milliseconds) { return none_.Wait(milliseconds) == platform::WaitResult::Signaled; }

private:
    struct Item;
    static void Run(void* item);
    void Add(PluginRunState* runState);
    void Done(PluginRunState* runState);

    std::mutex lock_;
    int count_ = 0;
    platform::Event none_{true, true};
};

}  // namespace vantel
