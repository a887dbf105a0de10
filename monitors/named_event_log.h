// The worker through which every named event leaves the module. Producers fill a record and
// commit it; one thread of its own hands committed records to the host in commit order.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/threads.h"
#include "vantel/plugin_abi.h"

namespace vantel {

class CSpecialLog {
public:
    using Record = std::map<std::u16string, std::u16string>;  // ordered by field name

    CSpecialLog() = default;
    virtual ~CSpecialLog() = default;
    CSpecialLog(const CSpecialLog&) = delete;
    CSpecialLog& operator=(const CSpecialLog&) = delete;

    // Starts the worker for the host: 1, or 0 for a null host or a thread that cannot start (the
    // next Start tries again). While a worker runs it delivers to this host from now on and a
    // pending Stop is called off, so nothing committed before or after is lost. After a Stop has
    // ended the worker, a new one also delivers what was committed in between.
    int32_t Start(IPluginHost* host, const std::u16string& hostProcessName, const std::u16string& pluginName);
    // Each producing thread fills a record of its own, so two producers never mix fields.
    void SetField(const std::u16string& name, const std::u16string& text);
    void SetNumber(const std::u16string& name, uint64_t value);
    // Hands the calling thread's record over whole; an empty record queues nothing.
    void Commit();
    // Asks the worker to end once the queue is empty; waits at most the time-out (none for 0)
    // and answers the wait's Windows result (0 ended, 258 timed out, 0xFFFFFFFF failed).
    uint32_t Stop(uint32_t timeoutMs);
    // For the module's release: stops the worker as Stop does, then drops whatever is queued or
    // being filled and records nothing until the next Start. A worker still busy after the time-out
    // gives up its queue at the next record and ends.
    void Shutdown(uint32_t timeoutMs);

private:
    static void WorkerThread(void* self);
    void Work();
    void Deliver(IPluginHost* host, const Record& record);

    std::mutex threadLock_;  // around starting, waiting for and letting go of the worker thread
    platform::Thread worker_;
    std::mutex lock_;        // everything below
    bool started_ = false;
    std::u16string hostProcessName_;
    std::u16string pluginName_;
    std::vector<Record> queue_;
    // The record each producing thread is filling, by the thread's serial number; held here
    // rather than in thread-local storage, so that a thread's end runs none of this module's code.
    std::map<uint64_t, Record> current_;
    std::unique_ptr<platform::Event> wake_;  // auto-reset; exists while a worker thread is held
    std::atomic<int32_t> stop_{0};
    std::atomic<int32_t> abandon_{0};
    bool workerEnded_ = false;
    IPluginHost* host_ = nullptr;
};

}  // namespace vantel
