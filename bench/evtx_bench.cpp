// The .evtx reader over the real recordings (../shared/data/evtx or $VANTEL_EVTX_DIR) against
// evtxexport over the same files, in records per second.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "winsim/evtx_reader.h"

namespace {

std::vector<std::filesystem::path> Corpus() {
    const char* folder = std::getenv("VANTEL_EVTX_DIR");
    std::filesystem::path path = folder ? folder : "../shared/data/evtx";
    return std::filesystem::is_directory(path) ? winsim::EvtxFiles({path}) : std::vector<std::filesystem::path>{};
}

void ReaderDecodesEveryRecord(benchmark::State& state) {
    auto files = Corpus();
    if (files.empty()) return state.SkipWithError("no recordings");
    uint64_t records = 0;
    for (auto _ : state)
        for (const auto& file : files) records += winsim::ReadEvtxFile(file, [](winsim::EventRecord&&) {}).records;
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}
BENCHMARK(ReaderDecodesEveryRecord)->Unit(benchmark::kMillisecond)->UseRealTime();

void EvtxexportXml(benchmark::State& state) {
    auto files = Corpus();
    if (files.empty() || std::system("command -v evtxexport >/dev/null") != 0) return state.SkipWithError("no recordings or evtxexport");
    uint64_t records = 0, perPass = 0;
    for (const auto& file : files) perPass += winsim::ReadEvtxFile(file, [](winsim::EventRecord&&) {}).records;
    for (auto _ : state) {
        for (const auto& file : files)
            (void)std::system(("evtxexport -f xml '" + file.string() + "' >/dev/null 2>&1").c_str());
        records += perPass;
    }
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}
BENCHMARK(EvtxexportXml)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
