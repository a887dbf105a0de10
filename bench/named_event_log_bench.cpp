// Commit-to-delivery throughput of the named-event worker with several producers, against the
// bare mutex-and-event handoff of the same records to the same host.
#include <benchmark/benchmark.h>

#include <thread>
#include <vector>

#include "bench/counting_host.h"

namespace vantel::bench {
namespace {

constexpr int kRecordsPerProducer = 2000;

template <typename Sink>
void RunProducers(benchmark::State& state, Sink& sink, CountingHost& host) {
    int producers = static_cast<int>(state.range(0));
    double cpu = ProcessCpuSeconds();
    for (auto _ : state) {
        host.Expect(int64_t{producers} * kRecordsPerProducer);
        std::vector<std::thread> threads;
        for (int p = 0; p < producers; ++p)
            threads.emplace_back([&sink, p] {
                std::u16string user = Format(u"user%d", p);
                for (int i = 0; i < kRecordsPerProducer; ++i) WriteLogon(sink, user, 1700000000u + i);
            });
        for (std::thread& thread : threads) thread.join();
        host.WaitForAll();
    }
    state.SetItemsProcessed(state.iterations() * producers * kRecordsPerProducer);
    ReportPerCpuSecond(state, state.iterations() * producers * kRecordsPerProducer, cpu);
}

void SpecialLogDelivery(benchmark::State& state) {
    CountingHost host;
    CSpecialLog log;
    log.Start(&host, u"QorExtHost", u"EventLog");
    RunProducers(state, log, host);
    log.Stop(platform::kInfinite);
}

void MutexEventBaseline(benchmark::State& state) {
    CountingHost host;
    MutexEventHandoff handoff(host);
    RunProducers(state, handoff, host);
}

BENCHMARK(SpecialLogDelivery)->Arg(1)->Arg(4)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(MutexEventBaseline)->Arg(1)->Arg(4)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vantel::bench

BENCHMARK_MAIN();
