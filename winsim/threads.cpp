#include "winsim/threads.h"

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace winsim {

namespace {

// The threads of their own that programs started, and how many of them sleep on an event
// without a time-out that nothing has set since: when all do, nothing runs that could still act.
struct OwnThreads {
    std::mutex lock;
    std::condition_variable changed;
    int running = 0;
    int asleep = 0;

    void Add(int runningChange, int asleepChange) {
        std::lock_guard guard(lock);
        running += runningChange;
        asleep += asleepChange;
        if (running == asleep) changed.notify_all();
    }
};

OwnThreads& TheOwnThreads() {
    static OwnThreads* threads = new OwnThreads;  // outlives detached threads at exit
    return *threads;
}

thread_local bool t_ownThread = false;  // a SimThread's, not a pool's or the program's main thread

}  // namespace

struct KernelEvent::State {
    std::mutex lock;
    std::condition_variable changed;
    bool manualReset;
    bool set;
    size_t waiters = 0;
    int sleepers = 0;  // own threads waiting without a time-out, not yet released by a Set
};

KernelEvent::KernelEvent(bool manualReset, bool initiallySet) : state_(std::make_shared<State>()) {
    state_->manualReset = manualReset;
    state_->set = initiallySet;
}

void KernelEvent::Set() {
    std::lock_guard guard(state_->lock);
    state_->set = true;
    if (state_->sleepers > 0) {
        // Counted awake from now on, before they run, so that no one sees them idle meanwhile.
        int released = state_->manualReset ? state_->sleepers : 1;
        state_->sleepers -= released;
        TheOwnThreads().Add(0, -released);
    }
    if (state_->manualReset) state_->changed.notify_all();
    else state_->changed.notify_one();
}

void KernelEvent::Reset() {
    std::lock_guard guard(state_->lock);
    state_->set = false;
}

bool KernelEvent::Wait(uint32_t milliseconds) {
    std::unique_lock guard(state_->lock);
    auto ready = [this] { return state_->set; };
    if (milliseconds == 0) {
        if (!ready()) return false;
    } else {
        ++state_->waiters;
        bool signalled = true;
        if (milliseconds == 0xFFFFFFFFu) {
            if (t_ownThread && !state_->set) {
                ++state_->sleepers;
                TheOwnThreads().Add(0, 1);
            }
            state_->changed.wait(guard, ready);
        } else {
            signalled = state_->changed.wait_for(guard, std::chrono::milliseconds(milliseconds), ready);
        }
        --state_->waiters;
        if (!signalled) return false;
    }
    if (!state_->manualReset) state_->set = false;  // an auto-reset event releases one waiter
    return true;
}

size_t KernelEvent::Waiters() const {
    std::lock_guard guard(state_->lock);
    return state_->waiters;
}

namespace {

std::atomic<bool> g_refuseThreads{false};

// Runs the function, destroys it (its code may live in the library) and only then lets go of
// the library.
void RunKeepingLoaded(std::function<void()>& function, KeepLoaded keepLoaded) {
    function();
    function = nullptr;
    if (keepLoaded) dlclose(keepLoaded);
}

}  // namespace

bool SimThread::Start(std::function<void()> function, KeepLoaded keepLoaded) {
    if (g_refuseThreads) return false;
    try {
        // The thread keeps the event alive: it may end after its handle was let go.
        TheOwnThreads().Add(1, 0);
        std::thread([function = std::move(function), keepLoaded, ended = ended_]() mutable {
            t_ownThread = true;
            RunKeepingLoaded(function, keepLoaded);
            TheOwnThreads().Add(-1, 0);
            ended.Set();
        }).detach();
        return true;
    } catch (const std::system_error&) {
        TheOwnThreads().Add(-1, 0);
        return false;
    }
}

void RefuseThreads(bool refuse) { g_refuseThreads = refuse; }

void WaitForOwnThreadsAsleep() {
    OwnThreads& threads = TheOwnThreads();
    std::unique_lock guard(threads.lock);
    threads.changed.wait(guard, [&] { return threads.running == threads.asleep; });
}

bool SimThread::Wait(uint32_t milliseconds) { return ended_.Wait(milliseconds); }

namespace {

struct Pool {
    std::mutex lock;
    std::condition_variable idle;
    std::condition_variable released;
    int running = 0;
    bool held = false;
    std::atomic<bool> refuse{false};
};

Pool& ThePool() {
    static Pool* pool = new Pool;  // outlives detached pool threads at exit
    return *pool;
}

}  // namespace

bool QueueWorkItem(std::function<void()> function, KeepLoaded keepLoaded) {
    Pool& pool = ThePool();
    if (pool.refuse) return false;
    {
        std::lock_guard guard(pool.lock);
        ++pool.running;
    }
    std::thread([function = std::move(function), keepLoaded, &pool]() mutable {
        {
            std::unique_lock guard(pool.lock);
            pool.released.wait(guard, [&] { return !pool.held; });
        }
        RunKeepingLoaded(function, keepLoaded);
        std::lock_guard guard(pool.lock);
        if (--pool.running == 0) pool.idle.notify_all();
    }).detach();
    return true;
}

void RefuseWorkItems(bool refuse) { ThePool().refuse = refuse; }

void HoldWorkItems(bool hold) {
    Pool& pool = ThePool();
    std::lock_guard guard(pool.lock);
    pool.held = hold;
    if (!hold) pool.released.notify_all();
}

void WaitForIdleThreadPool() {
    Pool& pool = ThePool();
    std::unique_lock guard(pool.lock);
    pool.idle.wait(guard, [&] { return pool.running == 0; });
}

}  // namespace winsim
