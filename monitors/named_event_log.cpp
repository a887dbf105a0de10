#include "monitors/named_event_log.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <type_traits>
#include <utility>

#include "common/text.h"
#include "plugin/boundary.h"

namespace vantel {

namespace {

constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;

// How long the worker, finding the queue empty, lets other threads run before it sleeps:
// producers in a burst then commit without waking it, and their records go in batches. Bounded
// in time, since on a busy processor one turn of another thread may already take longer.
constexpr auto kYieldingBeforeSleep = std::chrono::microseconds(100);
// A record whose buffer grew past this many characters is freed rather than kept for reuse.
constexpr size_t kLargestPooledText = 4096;

// What the calling thread is filling, and for which log. Trivially destructible on purpose:
// mingw runs thread_local destructors after their storage is gone; the record belongs to the log.
struct ProducerSlot {
    uint64_t log = 0;
    uint64_t generation = 0;
    NamedEventRecord* record = nullptr;
};
static_assert(std::is_trivially_destructible_v<ProducerSlot>);
thread_local ProducerSlot producer;

std::atomic<uint64_t> lastLogSerial{0};

}  // namespace

CSpecialLog::CSpecialLog() : serial_(++lastLogSerial) {}

int32_t CSpecialLog::Start(IPluginHost* host, const std::u16string& hostProcessName, const std::u16string& pluginName) {
    if (host == nullptr) {
        TraceError(u"[CSpecialLog] worker of %s in %s refused: no host", pluginName, hostProcessName);
        return 0;
    }
    std::lock_guard threadGuard(threadLock_);
    {
        std::lock_guard guard(lock_);
        hostProcessName_ = hostProcessName;
        pluginName_ = pluginName;
        host_ = host;
        if (worker_.started() && !workerEnded_) {
            // Still delivering after a Stop: it carries on, for this host.
            stop_.exchange(0);
            abandon_.exchange(0);
            started_ = true;
            return 1;
        }
    }
    // It has left its loop, or there is none; let it finish returning before a new one starts.
    if (worker_.started()) worker_.Wait(platform::kInfinite);
    worker_.Release();
    std::lock_guard guard(lock_);
    workerEnded_ = false;
    workerAsleep_ = false;
    stop_.exchange(0);
    abandon_.exchange(0);
    if (!wake_) wake_ = std::make_unique<platform::Event>(false, false);
    if (!worker_.Start(&CSpecialLog::WorkerThread, this)) {
        TraceError(u"[CSpecialLog] worker of %s in %s could not start", pluginName_, hostProcessName_);
        return 0;
    }
    started_ = true;
    TraceInfo(u"[CSpecialLog] worker started for %s in %s", pluginName_, hostProcessName_);
    return 1;
}

NamedEventRecord* CSpecialLog::Filling() {
    if (!started_) return nullptr;
    ProducerSlot& slot = producer;
    if (slot.log == serial_ && slot.record != nullptr) {
        if (slot.generation == generation_) return slot.record;
        slot.record->Clear();  // dropped by a Shutdown since: what it held is not to be sent
        slot.generation = generation_;
        return slot.record;
    }
    Owned record;
    std::lock_guard guard(lock_);
    if (!pool_.empty()) {
        record = std::move(pool_.back());
        pool_.pop_back();
    } else {
        record = std::make_unique<NamedEventRecord>();  // the pool ran dry: one more
    }
    slot = {serial_, generation_, HandOut(std::move(record))};
    return slot.record;
}

NamedEventRecord* CSpecialLog::HandOut(Owned record) {
    filling_.push_back(std::move(record));
    return filling_.back().get();
}

CSpecialLog::Owned CSpecialLog::TakeBack(NamedEventRecord* record) {
    // Only threads between a first field and a commit hold one: a short search from the newest.
    auto held = std::find_if(filling_.rbegin(), filling_.rend(), [&](const Owned& owned) { return owned.get() == record; });
    Owned owned = std::move(*held);
    *held = std::move(filling_.back());
    filling_.pop_back();
    return owned;
}

void CSpecialLog::SetField(std::u16string_view name, std::u16string_view text) {
    if (NamedEventRecord* record = Filling()) record->Set(name, text);
}

void CSpecialLog::SetNumber(std::u16string_view name, uint64_t value) {
    if (NamedEventRecord* record = Filling()) record->SetNumber(name, value);
}

void CSpecialLog::Commit() {
    ProducerSlot& slot = producer;
    if (slot.log != serial_ || slot.record == nullptr || slot.record->empty()) return;
    bool wake = false;
    {
        std::lock_guard guard(lock_);
        if (!started_ || slot.generation != generation_) {
            slot.record->Clear();  // filled before a Shutdown, or since: not to be sent
            return;
        }
        queue_.push_back(TakeBack(slot.record));
        // A worker that is awake takes this record along before it sleeps again.
        wake = std::exchange(workerAsleep_, false);
    }
    slot.record = nullptr;
    if (wake) wake_->Set();
}

uint32_t CSpecialLog::Stop(uint32_t timeoutMs) {
    std::lock_guard threadGuard(threadLock_);
    {
        std::lock_guard guard(lock_);
        stop_.exchange(1);
        workerAsleep_ = false;
        if (wake_) wake_->Set();
    }
    if (timeoutMs == 0) return 0;
    switch (worker_.Wait(timeoutMs)) {
        case platform::WaitResult::Signaled: return kWaitObject0;
        case platform::WaitResult::Timeout: return kWaitTimeout;
        case platform::WaitResult::Failed: return kWaitFailed;
    }
    return kWaitFailed;
}

void CSpecialLog::Shutdown(uint32_t timeoutMs) {
    bool ended = Stop(timeoutMs) != kWaitTimeout;
    std::lock_guard threadGuard(threadLock_);
    std::lock_guard guard(lock_);
    started_ = false;
    ++generation_;
    queue_.clear();
    pool_.clear();
    // Records being filled stay with their threads, which empty them when they come back.
    if (!ended) {
        TraceError(u"[CSpecialLog] worker of %s still delivering after %u ms; the rest is dropped", pluginName_,
                   timeoutMs);
        abandon_.exchange(1);
        wake_->Set();
        return;  // the thread and its event stay until it has ended
    }
    worker_.Release();
    wake_.reset();
    workerEnded_ = false;
}

void CSpecialLog::WorkerThread(void* self) {
    AtBoundary(u"[CSpecialLog] worker", [self] { static_cast<CSpecialLog*>(self)->Work(); });
}

void CSpecialLog::Work() {
    using Clock = std::chrono::steady_clock;
    std::vector<Owned> taken;
    std::optional<Clock::time_point> emptySince;  // when the worker last found the queue empty
    for (;;) {
        IPluginHost* host;
        bool sleep = false;
        {
            std::lock_guard guard(lock_);
            if (abandon_ || (stop_ && queue_.empty())) {
                // A stop ends the worker once everything committed before it has been delivered.
                stop_.exchange(0);
                abandon_.exchange(0);
                workerEnded_ = true;
                return;
            }
            if (queue_.empty()) {
                if (!emptySince) emptySince = Clock::now();
                sleep = workerAsleep_ = Clock::now() - *emptySince >= kYieldingBeforeSleep;
            }
            taken.swap(queue_);
            host = host_;
        }
        if (taken.empty()) {
            if (!sleep) {
                platform::SwitchToThread();
                continue;
            }
            emptySince.reset();
            // The event outlives the thread: it is let go only once the thread has ended.
            if (wake_->Wait(platform::kInfinite) != platform::WaitResult::Signaled) break;
            continue;
        }
        emptySince.reset();
        for (Owned& record : taken) {
            if (abandon_) break;
            Deliver(host, *record);
        }
        Recycle(taken);
    }
    std::lock_guard guard(lock_);
    workerEnded_ = true;
}

void CSpecialLog::Recycle(std::vector<Owned>& delivered) {
    for (Owned& record : delivered)
        if (record->capacity() > kLargestPooledText) record.reset();
        else record->Clear();
    {
        std::lock_guard guard(lock_);  // one lock for the whole batch
        for (Owned& record : delivered)
            if (record && pool_.size() < kPooledRecords) pool_.push_back(std::move(record));
    }
    delivered.clear();  // frees what the pool had no room for
}

void CSpecialLog::Deliver(IPluginHost* host, NamedEventRecord& record) {
    std::u16string_view name = record.EventName();
    IEventRecord* event = host->CreateEventRecord(ToWide(name.empty() ? u"" : name.data()));
    if (event == nullptr) return;
    record.EachFieldInNameOrder([event](const char16_t* field, const char16_t* value, bool isTime) {
        event->SetRecordField(ToWide(field), ToWide(value));
        if (isTime) event->SetRecordTime(LeadingInt64(value));
    });
    host->SubmitEventRecord(event);
    event->Release();
}

}  // namespace vantel
