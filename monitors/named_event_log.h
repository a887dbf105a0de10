// The worker through which every named event leaves the module. Producers fill a record and
// commit it; one thread of its own hands committed records to the host in commit order.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "monitors/named_event_record.h"
#include "platform/threads.h"
#include "vantel/plugin_abi.h"

namespace vantel {

class CSpecialLog {
public:
    CSpecialLog();
    virtual ~CSpecialLog() = default;
    CSpecialLog(const CSpecialLog&) = delete;
    CSpecialLog& operator=(const CSpecialLog&) = delete;

    // Starts the worker for the host: 1, or 0 for a null host or a thread that cannot start (the
    // next Start tries again). While a worker runs it delivers to this host from now on and a
    // pending Stop is called off, so nothing committed before or after is lost. After a Stop has
    // ended the worker, a new one also delivers what was committed in between.
    int32_t Start(IPluginHost* host, const std::u16string& hostProcessName, const std::u16string& pluginName);
    // Each producing thread fills a record of its own, so two producers never mix fields.
    void SetField(std::u16string_view name, std::u16string_view text);
    void SetNumber(std::u16string_view name, uint64_t value);
    // Hands the calling thread's record over whole; an empty record queues nothing.
    void Commit();
    // Asks the worker to end once the queue is empty; waits at most the time-out (none for 0)
    // and answers the wait's Windows result (0 ended, 258 timed out, 0xFFFFFFFF failed).
    uint32_t Stop(uint32_t timeoutMs);
    // For the module's release: stops the worker as Stop does, then drops whatever is queued or
    // being filled and records nothing until the next Start. A worker still busy after the time-out
    // gives up its queue at the next record and ends.
    void Shutdown(uint32_t timeoutMs);

    // Delivered records kept for reuse; beyond these, records are made and freed.
    static constexpr size_t kPooledRecords = 2048;

private:
    using Owned = std::unique_ptr<NamedEventRecord>;

    static void WorkerThread(void* self);
    void Work();
    void Deliver(IPluginHost* host, NamedEventRecord& record);
    void Recycle(std::vector<Owned>& delivered);
    // The calling thread's record, taken from the pool the first time; null before Start.
    NamedEventRecord* Filling();
    // With lock_ held.
    NamedEventRecord* HandOut(Owned record);
    Owned TakeBack(NamedEventRecord* record);

    const uint64_t serial_;  // tells this log from any other in the threads' records
    std::mutex threadLock_;  // around starting, waiting for and letting go of the worker thread
    platform::Thread worker_;
    std::atomic<bool> started_{false};
    // Changes when Shutdown drops the records being filled: a thread finding its record from
    // before empties it and starts over.
    std::atomic<uint64_t> generation_{0};
    std::mutex lock_;  // everything below
    std::u16string hostProcessName_;
    std::u16string pluginName_;
    std::vector<Owned> queue_;
    std::vector<Owned> pool_;
    // The record each producing thread is filling. Held here rather than in thread-local storage,
    // so that a thread's end runs none of this module's code; a thread finds its own through a
    // plain pointer, checked against this log's serial.
    std::vector<Owned> filling_;
    bool workerAsleep_ = false;  // waiting on the wake event: the next commit must signal it
    std::unique_ptr<platform::Event> wake_;  // auto-reset; exists while a worker thread is held
    std::atomic<int32_t> stop_{0};
    std::atomic<int32_t> abandon_{0};
    bool workerEnded_ = false;
    IPluginHost* host_ = nullptr;
};

}  // namespace vantel
