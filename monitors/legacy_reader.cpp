// The classic event-log reader: one worker per channel follows what is written to the Security
// and System logs and hands the records of interest to the translators.
#include "monitors/legacy_reader.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <span>

#include "eventlog/nt_event_log.h"
#include "platform/library.h"
#include "plugin/boundary.h"
#include "plugin/module_lifetime.h"

namespace vantel {

namespace {

constexpr uint32_t kRecordHeaderBytes = 56;
constexpr size_t kBatchBytes = 65536;
constexpr uint32_t kErrorNotReady = 21;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kServiceStateChange = 7036;
constexpr uint32_t kSecurityLogCleared = 517;
constexpr uint32_t kForwards = platform::kEventLogSequentialRead | platform::kEventLogForwardsRead;

// The ids of the Security log that the live reader translates.
constexpr std::initializer_list<uint32_t> kLiveSecurityIds = {528, 529, 624, 636, 630, 538, kSecurityLogCleared};

struct WorkerContext {
    CNtEventLog* plugin;
    const char16_t* channel;
    uint32_t run;
};

bool Grow(std::vector<uint8_t>& buffer, size_t bytes) {
    try {
        buffer.resize(bytes);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

int32_t ReadRecord(platform::LegacyEventLog& log, uint32_t flags, uint32_t recordNumber, std::vector<uint8_t>* buffer) {
    buffer->assign(kRecordHeaderBytes, 0);
    uint32_t read = 0, needed = 0;
    int32_t error = log.Read(flags, recordNumber, *buffer, &read, &needed);
    if (error == platform::kErrorInsufficientBuffer) {
        if (!Grow(*buffer, needed)) {
            TraceErrorText(
                Format(u"[CNtEventLog] Failed to reallocate memory for the record buffer (%d bytes).\n", needed));
            return kErrorNotEnoughMemory;
        }
        error = log.Read(flags, recordNumber, *buffer, &read, &needed);
        if (error) TraceErrorText(Format(u"[CNtEventLog] Second ReadEventLog failed with %lu.\n", error));
    } else if (error && error != platform::kErrorHandleEof) {
        TraceErrorText(Format(u"[CNtEventLog] ReadEventLog failed with %lu.\n", error));
    }
    if (error == 0) buffer->resize(read);
    return error;
}

int32_t GetLastRecordNumber(platform::LegacyEventLog& log, uint32_t* number, uint32_t* count) {
    uint32_t oldest = 0;
    if (int32_t error = log.OldestRecord(&oldest)) {
        TraceErrorText(Format(u"[CNtEventLog] GetOldestEventLogRecord failed with %lu.\n", error));
        return error;
    }
    if (int32_t error = log.RecordCount(count)) return error;
    *number = oldest + *count - 1;
    return 0;
}

int32_t SeekToLastRecord(platform::LegacyEventLog& log) {
    uint32_t newest = 0, count = 0;
    if (int32_t error = GetLastRecordNumber(log, &newest, &count)) {
        TraceErrorText(u"[CNtEventLog] GetLastRecordNumber failed.\n");
        return error;
    }
    // An empty log has no record to seek to; the first sequential read finds the first one written.
    if (count == 0) return 0;
    std::vector<uint8_t> record;
    int32_t error = ReadRecord(log, platform::kEventLogSeekRead | platform::kEventLogForwardsRead, newest, &record);
    if (error) TraceErrorText(Format(u"[CNtEventLog] ReadRecord failed seeking to record %lu.\n", newest));
    return error;
}

void LegacyReaderSlots::Show(size_t slot, platform::Event* event) {
    std::lock_guard guard(lock_);
    shown_[slot].push_back(event);
}

void LegacyReaderSlots::Hide(size_t slot, platform::Event* event) {
    std::lock_guard guard(lock_);
    std::erase(shown_[slot], event);
}

bool LegacyReaderSlots::Open(size_t slot) {
    std::lock_guard guard(lock_);
    return !shown_[slot].empty();
}

void LegacyReaderSlots::SignalAll() {
    std::lock_guard guard(lock_);
    for (auto& events : shown_)
        for (platform::Event* event : events) event->Set();
}

void LegacyReaderSlots::Enter() {
    std::lock_guard guard(lock_);
    ++running_;
}

void LegacyReaderSlots::Leave() {
    std::lock_guard guard(lock_);
    if (--running_ == 0) idle_.notify_all();
}

bool LegacyReaderSlots::WaitIdle(uint32_t milliseconds) {
    std::unique_lock guard(lock_);
    return idle_.wait_for(guard, std::chrono::milliseconds(milliseconds), [&] { return running_ == 0; });
}

void CNtEventLog::StartLegacyReaders(uint32_t run) {
    for (const char16_t* channel : {u"Security", u"System"}) {
        legacyReaders_.Enter();
        auto* context = new WorkerContext{this, channel, run};
        if (!QueueModuleWork(&CNtEventLog::LegacyChannelWorker, context)) {
            TraceError(u"[CNtEventLog] the %s reader could not be queued", channel);
            delete context;
            legacyReaders_.Leave();
        }
    }
}

void CNtEventLog::LegacyChannelWorker(void* raw) {
    WorkerContext context = *static_cast<WorkerContext*>(raw);
    delete static_cast<WorkerContext*>(raw);
    CNtEventLog& self = *context.plugin;
    AtBoundary(u"[CNtEventLog] LegacyChannelWorker", [&] {
        const std::u16string channel = context.channel;
        // Only a changed file brings the worker back, after reading the new file from its start.
        while (self.WatchLegacyChannel(channel, context.run) == platform::kErrorEventLogFileChanged &&
               !self.LegacyReaderStopped(context.run))
            self.RescanLegacyChannel(channel);
    });
    // The last statement: Destroy waits for it before the object goes.
    self.legacyReaders_.Leave();
}

bool CNtEventLog::LegacyReaderStopped(uint32_t run) const {
    return runState().stopped || !legacyReaders_.Current(run);
}

uint32_t CNtEventLog::WatchLegacyChannel(const std::u16string& channel, uint32_t run) {
    platform::Event event(true, false);
    if (event.native() == nullptr) {
        TraceErrorText(Format(u"[CNtEventLog] CreateEvent failed with %lu.\n", platform::LastError()));
        return 0;
    }
    platform::Event* changed = &event;
    struct Shown {
        LegacyReaderSlots& slots;
        size_t slot;
        platform::Event* event;
        ~Shown() { slots.Hide(slot, event); }
    } shown{legacyReaders_, LegacyReaderSlots::SlotOf(channel), changed};
    legacyReaders_.Show(shown.slot, changed);
    platform::LegacyEventLog log;
    if (int32_t error = log.Open(channel)) {
        TraceErrorText(Format(u"[CNtEventLog] OpenEventLog failed with 0x%x.\n", error));
        return 0;
    }
    if (int32_t error = SeekToLastRecord(log)) {
        TraceErrorText(Format(u"[CNtEventLog] SeekToLastRecord failed with %lu.\n", error));
        return static_cast<uint32_t>(error);
    }
    if (int32_t error = log.NotifyChange(*changed)) {
        TraceErrorText(Format(u"[CNtEventLog] NotifyChangeEventLog failed with %lu.\n", error));
        return 0;
    }
    for (;;) {
        if (LegacyReaderStopped(run)) return kErrorNotReady;
        platform::WaitResult woken = changed->Wait(platform::kInfinite);
        if (LegacyReaderStopped(run)) return kErrorNotReady;
        if (woken == platform::WaitResult::Signaled) {
            // Reset before reading: a record written while reading sets it again, not lost.
            changed->Reset();
            if (int32_t error = DumpNewRecords(log)) {
                TraceErrorText(Format(u"[CNtEventLog] channel:%s DumpNewRecords failed.\n", channel));
                return static_cast<uint32_t>(error);
            }
        } else if (woken == platform::WaitResult::Failed) {
            TraceErrorText(Format(u"[CNtEventLog] WaitForSingleObject failed with %lu\n", platform::LastError()));
            return 0;
        }
    }
}

int32_t CNtEventLog::DumpNewRecords(platform::LegacyEventLog& log) {
    std::lock_guard guard(translationLock_);
    std::vector<uint8_t> buffer;
    int32_t error = ReadRecord(log, kForwards, 0, &buffer);
    if (error && error != platform::kErrorHandleEof) {
        TraceErrorText(u"[CNtEventLog] ReadRecord (priming read) failed.\n");
        return error;
    }
    while (error != platform::kErrorHandleEof && !runState().stopped) {
        if (auto record = LegacyEventRecord::Parse(buffer.data(), buffer.size()))
            TranslateLegacyRecord(*record, kLiveSecurityIds);
        error = ReadRecord(log, kForwards, 0, &buffer);
        if (error && error != platform::kErrorHandleEof) {
            TraceErrorText(u"[CNtEventLog] ReadRecord sequential failed.\n");
            return error;
        }
    }
    return 0;
}

bool ReadLegacyBatches(const std::u16string& channel, uint32_t direction, const std::atomic<int32_t>& stopped,
                       const std::function<void(std::span<const uint8_t>)>& visit) {
    platform::LegacyEventLog log;
    if (int32_t error = log.Open(channel)) {
        TraceError(u"[CNtEventLog] OpenEventLog %d", error);
        return false;
    }
    std::vector<uint8_t> buffer;
    if (!Grow(buffer, kBatchBytes)) {
        TraceError(u"[CNtEventLog] GetEvtLog malloc fail");
        return false;
    }
    for (;;) {
        uint32_t read = 0, needed = 0;
        int32_t error = log.Read(platform::kEventLogSequentialRead | direction, 0, buffer, &read, &needed);
        if (error == platform::kErrorInsufficientBuffer) {
            if (!Grow(buffer, needed)) return false;
            continue;
        }
        if (error) return error == platform::kErrorHandleEof;
        if (stopped) return true;
        visit(std::span(buffer.data(), read));
    }
}

bool CNtEventLog::RescanLegacyChannel(const std::u16string& channel) {
    return ReadLegacyBatches(channel, platform::kEventLogForwardsRead, runState().stopped,
                             [&](std::span<const uint8_t> batch) {
                                 // Every record of the batch: after a clear the log-cleared
                                 // record need not come first.
                                 ForEachLegacyRecord(batch, [&](const LegacyEventRecord& record) {
                                     std::lock_guard guard(translationLock_);
                                     TranslateLegacyRecord(record, {kSecurityLogCleared});
                                     return true;
                                 });
                             });
}

void CNtEventLog::TranslateLegacyRecord(const LegacyEventRecord& record, std::initializer_list<uint32_t> securityIds) {
    const uint32_t id = record.eventId & 0xFFFF;
    bool security = std::find(securityIds.begin(), securityIds.end(), id) != securityIds.end();
    if (!security && id != kServiceStateChange) return;
    currentComputerName_ = record.computerName;
    if (security)
        TranslateSecurityEvent(id, record, record.timeGenerated);
    else
        TranslateSystemEvent(id, record, record.timeGenerated);
}

}  // namespace vantel
