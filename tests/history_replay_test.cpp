// The real recordings replayed in a scenario, then the server's history request for "Security":
// the reply holds exactly the channel's records, newest first, each with its id, time,
// provider, level word and, with no publisher metadata on the machine, its values joined.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/format.h"
#include "common/text.h"
#include "evtx_corpus.h"
#include "monitors/history_record.h"
#include "winsim/retention.h"

namespace vantel {
namespace {

using nlohmann::json;

constexpr uint64_t kTicksPerSecond = 10'000'000, kTicksTo1970 = 116'444'736'000'000'000ull;

// What the reply says of a record, in the reply's words.
std::string Described(const winsim::EventRecord& record) {
    const auto& system = record.system;
    std::u16string joined;
    for (const winsim::EventValue& value : record.user) {
        if (value.type == evt::kTypeUInt32) joined += Format(u"%d", static_cast<int32_t>(value.number));
        else if (value.type == evt::kTypeString) joined += value.text.substr(0, value.text.find(u'\0'));
        joined += u"\r\n";
    }
    int32_t seconds = static_cast<int32_t>((system[evt::kSystemTimeCreated].number - kTicksTo1970) / kTicksPerSecond);
    return json::array({std::to_string(system[evt::kSystemEventID].number), std::to_string(seconds),
                        ToUtf8(system[evt::kSystemProviderName].text),
                        ToUtf8(LevelName(LevelTable::Modern, static_cast<uint32_t>(system[evt::kSystemLevel].number))),
                        ToUtf8(joined), ToUtf8(system[evt::kSystemChannel].text)})
        .dump();
}

std::string Described(const json& fields) {
    return json::array({fields["EventID"], fields["TimeGenerated"], fields["SourceName"], fields["EventType"],
                        fields["Description"], fields["Channel"]})
        .dump();
}

TEST(HistoryOfRecordings, TheReplyIsTheChannelNewestFirst) {
    std::vector<std::filesystem::path> files = testing::EvtxCorpus();
    SKIP_WITHOUT_EVTX_CORPUS(files);
    // The channel keeps what its maximum size holds, as the machine does.
    winsim::RetainedRecords<std::string> channel;
    for (const auto& file : files)
        winsim::ReadEvtxFile(file, [&](winsim::EventRecord&& record) {
            if (EqualsIgnoreCase(record.channel, u"Security")) channel.Append(Described(record), winsim::StoredSize(record));
        });
    std::vector<std::string> expected(channel.records().rbegin(), channel.records().rend());

    std::filesystem::path scenario = std::filesystem::path(::testing::TempDir()) / "history-of-recordings.json";
    std::ofstream(scenario) << json{
        {"plugins", {"EventLog"}},
        {"steps",
         {{{"call", "Initialize"}},
          {{"call", "Start"}},
          {{"wait_idle", "EventLog"}},
          {{"replay", {testing::EvtxCorpusFolder().string()}}},
          {{"message", {{"plugin", "EventLog"}, {"command", "FreshList"}, {"payload", R"({"FreshList":"Security"})"}}}},
          {{"wait_idle", "EventLog"}},
          {{"call", "Stop"}},
          {{"call", "Destroy"}}}}};
    std::string command = VANTEL_AGENT_DIR "/bin/qorexthost --scenario '" + scenario.string() + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    ASSERT_EQ(pclose(pipe), 0);

    std::vector<std::string> replied;
    std::vector<int> kinds;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        json parsed = json::parse(line);
        if (parsed["type"] != "reply") continue;
        kinds.push_back(parsed["kind"]);
        for (const json& node : parsed["nodes"]) {
            EXPECT_EQ(node["tag"], "Security");
            replied.push_back(Described(node["fields"]));
        }
    }
    ASSERT_GT(expected.size(), 1000u);
    ASSERT_EQ(replied.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(replied[i], expected[i]) << "item " << i;
    EXPECT_EQ(kinds.size(), (expected.size() - 1) / 4999 + 1) << "batches of 5,000, then 4,999";
    EXPECT_EQ(kinds.front(), 1);
}

}  // namespace
}  // namespace vantel
