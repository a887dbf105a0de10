// What the benchmarks deliver to: a host that only counts the named events it is handed, and
// the bare mutex-and-event handoff of the same records that the module's worker is measured
// against.
#pragma once
#include <benchmark/benchmark.h>
#include <time.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "common/format.h"
#include "common/text.h"
#include "monitors/named_event_log.h"
#include "platform/threads.h"

namespace vantel::bench {

class CountingHost : public IPluginHost, public IEventRecord {
public:
    HResult VANTEL_CALL QueryInterface(const Guid&, void**) override { return kNoInterface; }
    uint32_t VANTEL_CALL AddRef() override { return 1; }
    uint32_t VANTEL_CALL Release() override { return 1; }
    int32_t VANTEL_CALL RegisterMessageHandler(IServerPushedMessageHandler*) override { return 0; }
    IReportDocument* VANTEL_CALL GetReportDocument(int32_t) override { return nullptr; }
    int32_t VANTEL_CALL SubmitReport(IReportDocument*) override { return 0; }
    int32_t VANTEL_CALL ReplyToMessage(IReportDocument*, IServerPushedMessage*) override { return 0; }
    IEventRecord* VANTEL_CALL CreateEventRecord(const WChar*) override { return this; }
    int32_t VANTEL_CALL SubmitEventRecord(IEventRecord*) override {
        if (++submitted_ == target_) {
            std::lock_guard guard(lock_);
            done_.notify_all();
        }
        return 0;
    }
    void VANTEL_CALL SetRecordField(const WChar* name, const WChar* value) override {
        benchmark::DoNotOptimize(name);
        benchmark::DoNotOptimize(value);
    }
    void VANTEL_CALL SetRecordTime(int64_t) override {}

    int64_t submitted() const { return submitted_; }
    void Expect(int64_t count) {
        submitted_ = 0;
        target_ = count;
    }
    void WaitForAll() {
        std::unique_lock guard(lock_);
        done_.wait(guard, [&] { return submitted_ >= target_; });
    }

private:
    std::atomic<int64_t> submitted_{0};
    std::atomic<int64_t> target_{0};
    std::mutex lock_;
    std::condition_variable done_;
};

// Records built under one shared lock and handed to a consumer thread with an auto-reset event,
// delivered to the host the same way the module's worker delivers them.
class MutexEventHandoff {
public:
    // A map per record, as the module's first worker kept them: the yardstick stays put whatever
    // the module's own record becomes.
    using Record = std::map<std::u16string, std::u16string>;

    explicit MutexEventHandoff(CountingHost& host) : host_(host), consumer_([this] { Consume(); }) {}
    ~MutexEventHandoff() {
        stop_ = true;
        wake_.Set();
        consumer_.join();
    }
    void SetField(const std::u16string& name, const std::u16string& text) {
        std::lock_guard guard(lock_);
        current_[std::this_thread::get_id()][name] = text;
    }
    void SetNumber(const std::u16string& name, uint64_t value) { SetField(name, Format(u"%llu", value)); }
    void Commit() {
        {
            std::lock_guard guard(lock_);
            auto& record = current_[std::this_thread::get_id()];
            queue_.push_back(std::move(record));
            record.clear();
        }
        wake_.Set();
    }

private:
    void Consume() {
        while (!stop_) {
            wake_.Wait(platform::kInfinite);
            std::vector<Record> taken;
            {
                std::lock_guard guard(lock_);
                taken.swap(queue_);
            }
            for (const auto& record : taken) {
                IEventRecord* event = host_.CreateEventRecord(ToWide(record.at(u"EventName")));
                for (const auto& [name, value] : record)
                    if (name != u"EventName") event->SetRecordField(ToWide(name), ToWide(value));
                host_.SubmitEventRecord(event);
            }
        }
    }

    CountingHost& host_;
    std::mutex lock_;
    std::map<std::thread::id, Record> current_;
    std::vector<Record> queue_;
    platform::Event wake_{false, false};
    std::atomic<bool> stop_{false};
    std::thread consumer_;
};

// CPU time of every thread of the process so far. Events per CPU second tell what a core does
// however busy the machine is with other work, which real time does not.
inline double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Reports items per CPU second of the whole process, from a reading taken before the loop.
inline void ReportPerCpuSecond(benchmark::State& state, int64_t items, double cpuSecondsBefore) {
    state.counters["per CPU s"] = static_cast<double>(items) / (ProcessCpuSeconds() - cpuSecondsBefore);
}

// The fields of one logon event, as the translator writes them.
template <typename Sink>
void WriteLogon(Sink& sink, const std::u16string& user, uint64_t time) {
    sink.SetNumber(u"event_id", 4624);
    sink.SetField(u"EventName", u"UserLogon");
    sink.SetField(u"computer_name", u"WINSIM");
    sink.SetNumber(u"logon_time", time);
    sink.SetField(u"logon_domain", u"WINSIM");
    sink.SetNumber(u"user_is_admin", 1);
    sink.SetField(u"user_name", user);
    sink.SetField(u"user_sid_readable", u"1");
    sink.SetNumber(u"logon_type", 2);
    sink.SetField(u"process_name", u"C:\\Windows\\System32\\svchost.exe");
    sink.SetField(u"ip", u"127.0.0.1");
    sink.SetField(u"port", u"0");
    sink.Commit();
}

}  // namespace vantel::bench
