// Counts a monitor's watchers from the moment one is queued until it has left, so that the end
// of the event-log plugin can wait for them.
#pragma once
#include <cstdint>
#include <mutex>

#include "platform/threads.h"

namespace vantel {

class WatcherCount {
public:
    void Add() {
        std::lock_guard guard(lock_);
        if (count_++ == 0) none_.Reset();
    }
    void Done() {
        std::lock_guard guard(lock_);
        if (--count_ == 0) none_.Set();
    }
    // True when no watcher is queued or running any more, within the time.
    bool WaitForNone(uint32_t milliseconds) { return none_.Wait(milliseconds) == platform::WaitResult::Signaled; }

private:
    std::mutex lock_;
    int count_ = 0;
    platform::Event none_{true, true};
};

}  // namespace vantel
