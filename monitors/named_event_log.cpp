#include "monitors/named_event_log.h"

#include "common/text.h"
#include "plugin/boundary.h"

namespace vantel {

namespace {

constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;

// A number for the calling thread, never reused within the process (thread ids are). Trivially
// destructible on purpose: mingw runs thread_local destructors after their storage is gone.
uint64_t ThreadSerial() {
    static std::atomic<uint64_t> last{0};
    thread_local uint64_t serial = 0;
    if (serial == 0) serial = ++last;
    return serial;
}

}  // namespace

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
    stop_.exchange(0);
    abandon_.exchange(0);
    if (!wake_) wake_ = std::make_unique<platform::Event>(false, false);
    if (!worker_.Start(&CSpecialLog::WorkerThread, this)) {
        TraceError(u"[CSpecialLog] worker of %s in %s could not start", pluginName_, hostProcessName_);
        return 0;
    }
    started_ = true;
    if (!queue_.empty()) wake_->Set();  // committed while no worker ran
    TraceInfo(u"[CSpecialLog] worker started for %s in %s", pluginName_, hostProcessName_);
    return 1;
}

void CSpecialLog::SetField(const std::u16string& name, const std::u16string& text) {
    uint64_t thread = ThreadSerial();
    std::lock_guard guard(lock_);
    if (started_) current_[thread][name] = text;
}

void CSpecialLog::SetNumber(const std::u16string& name, uint64_t value) { SetField(name, Format(u"%llu", value)); }

void CSpecialLog::Commit() {
    uint64_t thread = ThreadSerial();
    std::lock_guard guard(lock_);
    auto current = current_.find(thread);
    if (!started_ || current == current_.end()) return;
    // A queue that already held records has a wake-up pending, which takes this one along too.
    if (queue_.empty()) wake_->Set();
    queue_.push_back(std::move(current->second));
    current_.erase(current);
}

uint32_t CSpecialLog::Stop(uint32_t timeoutMs) {
    std::lock_guard threadGuard(threadLock_);
    {
        std::lock_guard guard(lock_);
        stop_.exchange(1);
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
    queue_.clear();
    current_.clear();
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
    for (;;) {
        // The event outlives the thread: it is let go only once the thread has ended.
        if (wake_->Wait(platform::kInfinite) != platform::WaitResult::Signaled) break;
        std::vector<Record> taken;
        IPluginHost* host;
        {
            std::lock_guard guard(lock_);
            taken.swap(queue_);
            host = host_;
        }
        for (const Record& record : taken) {
            if (abandon_) break;
            Deliver(host, record);
        }
        // A stop ends the worker once everything committed before it has been delivered.
        std::lock_guard guard(lock_);
        if ((stop_ && queue_.empty()) || abandon_) {
            stop_.exchange(0);
            abandon_.exchange(0);
            workerEnded_ = true;
            return;
        }
    }
    std::lock_guard guard(lock_);
    workerEnded_ = true;
}

void CSpecialLog::Deliver(IPluginHost* host, const Record& record) {
    auto name = record.find(u"EventName");
    std::u16string eventName = name == record.end() ? std::u16string() : name->second;
    IEventRecord* event = host->CreateEventRecord(ToWide(eventName));
    if (event == nullptr) return;
    for (const auto& [field, value] : record) {
        if (field == u"EventName") continue;
        event->SetRecordField(ToWide(field), ToWide(value));
        if (field == u"LogonTime" || field == u"ContextTimeStamp") event->SetRecordTime(LeadingInt64(value));
    }
    host->SubmitEventRecord(event);
    event->Release();
}

}  // namespace vantel
