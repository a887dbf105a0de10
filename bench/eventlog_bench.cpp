// Records per second through the live path to the named event the host receives: records
// published into the open subscription (delivery, rendering, translation with its account
// lookups, the worker's handoff); the same from 20,000 record handles held open, which visits
// cold memory; and the bare mutex-and-event handoff of the same named events.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/counting_host.h"
#include "eventlog/nt_event_log.h"
#include "plugin/factory.h"
#include "plugin/singleton.h"
#include "winsim/accounts.h"
#include "winsim/eventlog.h"
#include "winsim/evtx_reader.h"
#include "winsim/threads.h"

namespace vantel::bench {
namespace {

constexpr int kRecords = 20000;

using winsim::EventValue;

winsim::EventRecord Logon(int i) {
    std::u16string user = i % 2 ? u"alice" : u"bob";
    winsim::EventRecord record(u"Security", u"Microsoft-Windows-Security-Auditing", 4624);
    record.TimeCreated(132539328000000000ull + i * 10000000ull).Computer(u"WINSIM");
    record.Values({EventValue::Sid(winsim::SidFromText(u"S-1-5-18")), EventValue::String(u"WINSIM$"),
                   EventValue::String(u"WORKGROUP"), EventValue::HexInt64(0x3e7),
                   EventValue::Sid(winsim::SidFromText(u"S-1-5-21-1-2-3-1001")), EventValue::String(user),
                   EventValue::String(u"WINSIM"), EventValue::HexInt64(0x1234), EventValue::UInt32(2),
                   EventValue::String(u"User32"), EventValue::String(u"Negotiate"), EventValue::String(u"WINSIM"),
                   EventValue::Null(), EventValue::String(u"-"), EventValue::String(u"-"), EventValue::UInt32(0),
                   EventValue::HexInt64(0x2a0), EventValue::String(u"C:\\Windows\\System32\\svchost.exe"),
                   EventValue::String(u"127.0.0.1"), EventValue::String(u"0")});
    return record;
}

// The plugin, initialised over a counting host, and handles of the published records.
struct LivePath {
    CountingHost host;
    CNtEventLog* plugin;
    evt::Handle query;
    std::vector<evt::Handle> events;

    LivePath() {
        winsim::ResetEventLog();
        winsim::SetChannelMaximumSize(u"Security", 1ull << 30);  // room for every record
        winsim::AddUser({u"alice", 2, u"S-1-5-21-1-2-3-1001"});
        winsim::AddUser({u"bob", 1, u"S-1-5-21-1-2-3-1002"});
        for (int i = 0; i < kRecords; ++i) winsim::PublishEvent(Logon(i));
        plugin = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
        plugin->Initialize(&host);
        plugin->Start();
        while (plugin->IsBusy()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const EventLogApi& api = plugin->api();
        query = api.query(nullptr, ToWide(u"Security"), ToWide(u"*"), evt::kQueryChannelPath | evt::kQueryForwardDirection);
        evt::Handle batch[512];
        uint32_t returned = 0;
        while (api.next(query, 512, batch, 0, 0, &returned) && returned > 0) events.insert(events.end(), batch, batch + returned);
    }
    ~LivePath() {
        for (evt::Handle event : events) plugin->api().close(event);
        plugin->api().close(query);
        plugin->Stop();
        plugin->Destroy();
        LL_singleton<CSpecialLog>::Instance().Stop(platform::kInfinite);
    }
};

// The first 4624 and 4625 of Security and 7036 of System in the recordings beside the project.
std::vector<winsim::EventRecord> RecordedShapes() {
    const char* folder = std::getenv("VANTEL_EVTX_DIR");
    std::filesystem::path corpus = folder ? folder : "../shared/data/evtx";
    if (!std::filesystem::is_directory(corpus)) return {};
    std::vector<std::pair<std::u16string, uint64_t>> wanted = {{u"Security", 4624}, {u"Security", 4625}, {u"System", 7036}};
    std::vector<winsim::EventRecord> shapes;
    for (const auto& file : winsim::EvtxFiles({corpus})) {
        winsim::ReadEvtxFile(file, [&](winsim::EventRecord&& record) {
            auto shape = std::find(wanted.begin(), wanted.end(),
                                   std::pair{record.channel, record.system[evt::kSystemEventID].number});
            if (shape == wanted.end()) return;
            wanted.erase(shape);
            shapes.push_back(std::move(record));
        });
        if (wanted.empty()) return shapes;
    }
    return {};
}

// Records published one after another into the plugin's open subscription, from a small
// rotating set of real shapes, as a live machine hands them over.
void HandleEventRecordToHost(benchmark::State& state) {
    std::vector<winsim::EventRecord> shapes = RecordedShapes();
    if (shapes.empty()) return state.SkipWithError("no 4624, 4625 and 7036 records in ../shared/data/evtx or $VANTEL_EVTX_DIR");
    winsim::ResetEventLog();
    winsim::AddUser({u"alice", 2, u"S-1-5-21-1-2-3-1001"});
    CountingHost host;
    auto* plugin = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
    plugin->Initialize(&host);
    plugin->Start();
    while (plugin->IsBusy()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    double cpuSeconds = 0;
    std::vector<winsim::EventRecord> fresh;
    for (auto _ : state) {
        // Copying the records is the writer's work, not the subscriber's.
        state.PauseTiming();
        fresh.clear();
        for (int i = 0; i < kRecords; ++i) fresh.push_back(shapes[i % shapes.size()]);
        double cpu = ProcessCpuSeconds();
        state.ResumeTiming();
        for (winsim::EventRecord& record : fresh) winsim::PublishEvent(std::move(record));
        // Every callback returned and the worker handed on what they committed.
        winsim::WaitForEventDelivery();
        winsim::WaitForOwnThreadsAsleep();
        cpuSeconds += ProcessCpuSeconds() - cpu;
    }
    state.counters["per CPU s"] = static_cast<double>(state.iterations() * kRecords) / cpuSeconds;
    state.counters["named events/record"] = benchmark::Counter(
        static_cast<double>(host.submitted()) / static_cast<double>(state.iterations() * kRecords));
    plugin->Stop();
    plugin->Destroy();
    LL_singleton<CSpecialLog>::Instance().Stop(platform::kInfinite);
    state.SetItemsProcessed(state.iterations() * kRecords);
}

// 20,000 records published up front and handed to HandleEventRecord by their handles, which
// are held open together: every record is cold in the caches by the time it is handled.
void HandleEventRecordToHostColdCache(benchmark::State& state) {
    LivePath path;
    if (path.events.size() != kRecords) state.SkipWithError("the records could not be queried");
    double cpu = ProcessCpuSeconds();
    for (auto _ : state) {
        path.host.Expect(kRecords);
        for (evt::Handle event : path.events) {
            std::lock_guard guard(path.plugin->translationLock());
            path.plugin->HandleEventRecord(event);
        }
        path.host.WaitForAll();
    }
    ReportPerCpuSecond(state, state.iterations() * kRecords, cpu);
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void BareHandoffOfTheSameEvents(benchmark::State& state) {
    CountingHost host;
    MutexEventHandoff handoff(host);
    double cpu = ProcessCpuSeconds();
    for (auto _ : state) {
        host.Expect(kRecords);
        for (int i = 0; i < kRecords; ++i) WriteLogon(handoff, i % 2 ? u"alice" : u"bob", 1609459200u + i);
        host.WaitForAll();
    }
    ReportPerCpuSecond(state, state.iterations() * kRecords, cpu);
    state.SetItemsProcessed(state.iterations() * kRecords);
}

BENCHMARK(HandleEventRecordToHost)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(HandleEventRecordToHostColdCache)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BareHandoffOfTheSameEvents)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vantel::bench

BENCHMARK_MAIN();
