// A history refresh's reading of 100,000 records, on both paths, with the message files and
// publisher metadata opened once per refresh against opened for every lookup. winsim reads a
// message file or a provider's metadata whole when it is opened, so that opening costs what the
// file or provider holds, as loading a library or a provider's resources does on Windows.
#include <benchmark/benchmark.h>

#include <atomic>
#include <vector>

#include "common/format.h"
#include "monitors/history_readers.h"
#include "winsim/accounts.h"
#include "winsim/classic_eventlog.h"
#include "winsim/eventlog.h"
#include "winsim/message_modules.h"
#include "winsim/registry.h"

namespace vantel::bench {
namespace {

constexpr uint32_t kRecords = 100000;
constexpr uint32_t kSources = 8;
constexpr uint32_t kMessagesPerSource = 400;  // what a system component's message file holds
constexpr uint32_t kCategories = 10;
constexpr uint64_t kRoomForAll = 1ull << 30;

using winsim::EventValue;

// Every record of both logs, from kSources sources with their message files and metadata.
struct Machine {
    EventLogApi api;

    Machine() {
        winsim::ResetEventLog();
        winsim::ResetClassicLogs();
        winsim::ResetMessageModules();
        winsim::SetChannelMaximumSize(u"Security", kRoomForAll);
        winsim::SetClassicLogRetention(u"Security", kRoomForAll, false);
        for (uint32_t source = 0; source < kSources; ++source) {
            std::u16string name = Format(u"Source%u", source);
            std::u16string file = Format(u"%%SystemRoot%%\\System32\\source%u.dll", source);
            winsim::PublisherMessages metadata;
            winsim::MessageTable table;
            for (uint32_t message = 0; message < kMessagesPerSource; ++message) {
                std::u16string text = Format(u"Event %u of %s: the account %%1 did %%2 on this machine.", message, name);
                metadata.events[4000 + message] = text;
                table[0x40000000u | (4000 + message)] = text + u"%n";
            }
            for (uint32_t category = 1; category <= kCategories; ++category) {
                metadata.tasks[category] = Format(u"Task %u", category);
                table[category] = Format(u"Category %u%%n", category);
            }
            winsim::SetPublisherMessages(name, std::move(metadata));
            winsim::AddMessageModule(file, std::move(table));
            winsim::RegSetString(winsim::Hive::LocalMachine, u"SYSTEM\\CurrentControlSet\\services\\eventlog\\Security\\" + name,
                                 u"EventMessageFile", file, winsim::ValueType::ExpandString);
        }
        std::vector<uint8_t> system = winsim::SidFromText(u"S-1-5-18");
        for (uint32_t i = 0; i < kRecords; ++i) {
            std::u16string source = Format(u"Source%u", i % kSources);
            uint32_t id = 4000 + i % kMessagesPerSource;
            uint16_t category = static_cast<uint16_t>(1 + i % kCategories);
            winsim::EventRecord record(u"Security", source, static_cast<uint16_t>(id));
            record.Task(category).UserSid(system).TimeCreated(132539328000000000ull + i * 10000000ull);
            record.Values({EventValue::String(u"alice"), EventValue::String(u"a logon"), EventValue::UInt32(i)});
            winsim::PublishEvent(std::move(record));
            winsim::AppendClassicRecord(u"Security", {0x40000000u | id, 1609459200 + i, {u"alice", u"a logon"}, source,
                                                      8, category, system});
        }
        api.Bind();
    }
};

Machine& TheMachine() {
    static Machine* machine = new Machine;
    return *machine;
}

MessageSources::Caching CachingOf(const benchmark::State& state) {
    return state.range(0) ? MessageSources::Caching::PerRefresh : MessageSources::Caching::None;
}

void ReadHistory(benchmark::State& state, bool modern) {
    Machine& machine = TheMachine();
    std::atomic<int32_t> running{0};
    for (auto _ : state) {
        MessageSources sources(machine.api, CachingOf(state));
        std::vector<HistoryRecord> history;
        bool read = modern ? ReadModernHistory(machine.api, u"Security", u"*", sources, running, &history)
                           : ReadLegacyHistory(u"Security", 0, false, sources, running, &history);
        if (!read || history.size() != kRecords) state.SkipWithError("the log was not read whole");
        benchmark::DoNotOptimize(history.data());
    }
    state.counters["records/s"] = benchmark::Counter(double(kRecords) * state.iterations(), benchmark::Counter::kIsRate);
}

void ModernHistory(benchmark::State& state) { ReadHistory(state, true); }
void LegacyHistory(benchmark::State& state) { ReadHistory(state, false); }

BENCHMARK(ModernHistory)->ArgName("cached")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(LegacyHistory)->ArgName("cached")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
}  // namespace vantel::bench

BENCHMARK_MAIN();
