// The worker through which every named event leaves the module. Producers fill a record and
// commit it; one thread of its own hands committed records to the host in commit order.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
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

    // Starts the worker; does nothing while one runs. After a Stop has ended the worker, a new
    // Start runs a new one, which also delivers what was committed in between.
    int32_t Start(IPluginHost* host, const std::u16string& hostProcessName, const std::u16string& pluginName);
    // Each producing thread fills a record of its own, so two producers never mix fields.
    void SetField(const std::u16string& name, const std::u16string& text);
    void SetNumber(const std::u16string& name, uint64_t value);
    // Hands the calling thread's record over whole; an empty record queues nothing.
    void Commit();
    // Asks the worker to end once the queue is empty; waits at most the time-out (none for 0)
    // and answers the wait's Windows result (0 ended, 258 timed out, 0xFFFFFFFF failed).
    uint32_t Stop(uint32_t timeoutMs);

private:
    static void WorkerThread(void* self);
    void Work();
    void Deliver(const Record& record);

    std::atomic<int32_t> started_{0};
    std::u16string hostProcessName_;
    std::u16string pluginName_;
    std::mutex lock_;
    std::vector<Record> queue_;
    // The record each producing thread is filling, by the thread's serial number; held here
    // rather than in thread-local storage, so that a thread's end runs none of this module's code.
    std::map<uint64_t, Record> current_;
    platform::Thread worker_;
    platform::Event wake_{false, false};
    std::atomic<int32_t> stop_{0};
    std::atomic<bool> workerEnded_{false};
    IPluginHost* host_ = nullptr;
};

}  // namespace vantel
