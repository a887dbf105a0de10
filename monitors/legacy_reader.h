// The classic event-log reader's parts that need no plugin: reading one record, positioning a
// handle behind the newest record, and the change-notification slots of the two channel workers.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/legacy_eventlog.h"
#include "platform/threads.h"

namespace vantel {

// Reads exactly one record into the buffer: a first try with the 56 bytes of the fixed header,
// then once more with the size the log asks for. 0, 38 at the end of the log, or the error.
int32_t ReadRecord(platform::LegacyEventLog& log, uint32_t flags, uint32_t recordNumber, std::vector<uint8_t>* buffer);
// The newest record's number (oldest + count - 1) and the count of records.
int32_t GetLastRecordNumber(platform::LegacyEventLog& log, uint32_t* number, uint32_t* count);
// Positions the handle so that its next sequential read returns the first record written after
// now; an empty log needs no positioning.
int32_t SeekToLastRecord(platform::LegacyEventLog& log);
// Reads the whole log sequentially in the direction (forwards or backwards), in batches of as
// many whole records as 65,536 bytes hold (more when one record needs it), and hands each batch
// to visit. True at the end of the log or once the stop flag is seen after a read; false when
// the log cannot be opened or read.
bool ReadLegacyBatches(const std::u16string& channel, uint32_t direction, const std::atomic<int32_t>& stopped,
                       const std::function<void(std::span<const uint8_t>)>& visit);

// The change-notification events of the channel workers (slot 0 "Security", slot 1 every other
// channel), the count of workers running and the run they belong to. A worker makes and closes
// its own event and shows it in its slot meanwhile; Stop signals every event shown. The lock
// keeps a signal from meeting an event being closed.
class LegacyReaderSlots {
public:
    static size_t SlotOf(const std::u16string& channel) { return channel == u"Security" ? 0 : 1; }

    void Show(size_t slot, platform::Event* event);
    void Hide(size_t slot, platform::Event* event);
    bool Open(size_t slot);
    void SignalAll();

    // Each Start begins a run; a worker of an earlier run ends at its next wake-up even when a
    // quick Start cleared the stop flag before it saw it.
    uint32_t BeginRun() { return ++run_; }
    bool Current(uint32_t run) const { return run_ == run; }

    // A worker counts itself from its queueing to its last statement.
    void Enter();
    void Leave();
    // Waits until no worker runs; false when the time ran out first.
    bool WaitIdle(uint32_t milliseconds);

private:
    std::mutex lock_;
    std::vector<platform::Event*> shown_[2];
    std::condition_variable idle_;
    int running_ = 0;
    std::atomic<uint32_t> run_{0};
};

}  // namespace vantel
