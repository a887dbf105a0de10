// The .evtx reader, and the whole replay through qorexthost, against evtxexport -f xml over the
// same real recordings (../shared/data/evtx or $VANTEL_EVTX_DIR), output to /dev/null. Each
// reports records per second and how many times evtxexport's rate that is.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "winsim/evtx_reader.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::filesystem::path CorpusFolder() {
    const char* folder = std::getenv("VANTEL_EVTX_DIR");
    return folder ? folder : "../shared/data/evtx";
}

struct Corpus {
    std::vector<std::filesystem::path> files;
    uint64_t records = 0;  // what the reader recovers in one pass
};

// Read once up front, which also brings the files into the page cache for both sides.
const Corpus& TheCorpus() {
    static const Corpus corpus = [] {
        Corpus read;
        if (std::filesystem::is_directory(CorpusFolder())) read.files = winsim::EvtxFiles({CorpusFolder()});
        for (const auto& file : read.files) read.records += winsim::ReadEvtxFile(file, [](winsim::EventRecord&&) {}).records;
        return read;
    }();
    return corpus;
}

// Runs a program with its output to /dev/null; false when it cannot be started.
bool Run(std::vector<std::string> arguments) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    int failed = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return failed == 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) != 127;
}

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// evtxexport over every file (it takes one file a process), timed once for both comparisons.
double EvtxexportSeconds() {
    static const double seconds = [] {
        auto start = Clock::now();
        for (const auto& file : TheCorpus().files)
            if (!Run({"evtxexport", "-f", "xml", file.string()})) return 0.0;
        return SecondsSince(start);
    }();
    return seconds;
}

void Report(benchmark::State& state, double seconds, uint64_t passes) {
    double records = static_cast<double>(TheCorpus().records * passes);
    state.counters["records/s"] = records / seconds;
    state.counters["evtxexport records/s"] = static_cast<double>(TheCorpus().records) / EvtxexportSeconds();
    state.counters["times evtxexport"] = EvtxexportSeconds() * static_cast<double>(passes) / seconds;
}

bool Ready(benchmark::State& state) {
    if (TheCorpus().files.empty()) state.SkipWithError("no recordings in ../shared/data/evtx or $VANTEL_EVTX_DIR");
    else if (EvtxexportSeconds() == 0.0) state.SkipWithError("evtxexport is not installed (libevtx-utils)");
    else return true;
    return false;
}

// Every record decoded to typed values and its XML.
void ReaderAgainstEvtxexport(benchmark::State& state) {
    if (!Ready(state)) return;
    double seconds = 0;
    uint64_t passes = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        for (const auto& file : TheCorpus().files) winsim::ReadEvtxFile(file, [](winsim::EventRecord&&) {});
        double pass = SecondsSince(start);
        state.SetIterationTime(pass);
        seconds += pass;
        ++passes;
    }
    Report(state, seconds, passes);
}
BENCHMARK(ReaderAgainstEvtxexport)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(3);

// qorexthost --evtx over the folder: read, published, subscribed, translated, delivered, printed.
void ReplayAgainstEvtxexport(benchmark::State& state) {
    if (!Ready(state)) return;
    double seconds = 0;
    uint64_t passes = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        if (!Run({VANTEL_QOREXTHOST, "--evtx", CorpusFolder().string()})) return state.SkipWithError("qorexthost did not run");
        double pass = SecondsSince(start);
        state.SetIterationTime(pass);
        seconds += pass;
        ++passes;
    }
    Report(state, seconds, passes);
}
BENCHMARK(ReplayAgainstEvtxexport)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
