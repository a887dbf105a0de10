// The named-event worker against the reference host's own objects: what the host writes is what
// the agent's host would receive. Runs on Linux and, in the Windows build, under Wine.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/format.h"
#include "host/host_objects.h"
#include "host/output.h"
#include "monitors/named_event_log.h"

namespace vantel {
namespace {

TEST(SpecialLogThroughHostObjects, EveryRecordOnceInOrderWithItsOwnFields) {
    std::filesystem::path file = std::filesystem::temp_directory_path() / "vantel_named_events_host.jsonl";
    std::FILE* output = std::fopen(file.string().c_str(), "wb");
    ASSERT_NE(output, nullptr);
    qorexthost::WriteLinesTo(output);

    static auto* const host = new qorexthost::PluginHost("EventLog");  // hosts live as long as the process
    CSpecialLog log;
    log.Start(host, u"QorExtHost", u"EventLog");
    constexpr int kProducers = 4, kRecords = 250;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&log, p] {
            for (int i = 0; i < kRecords; ++i) {
                log.SetField(u"EventName", u"UserLogon");
                log.SetNumber(u"producer", p);
                log.SetNumber(u"sequence", i);
                log.SetField(u"LogonTime", Format(u"%d", 1600000000 + i));
                log.Commit();
            }
            log.SetField(u"logon_time", u"left uncommitted");
        });
    }
    for (std::thread& producer : producers) producer.join();
    log.SetField(u"user_name", u"no name, so no event");
    log.Commit();
    EXPECT_EQ(log.Stop(10000), 0u);
    qorexthost::WriteLinesTo(nullptr);
    std::fclose(output);

    std::map<std::string, int> next;
    int count = 0;
    std::ifstream lines(file);
    for (std::string line; std::getline(lines, line); ++count) {
        nlohmann::json event = nlohmann::json::parse(line);
        ASSERT_EQ(event["type"], "event");
        ASSERT_EQ(event["name"], "UserLogon");
        const nlohmann::json& fields = event["fields"];
        ASSERT_EQ(fields.size(), 3u) << line;
        std::string producer = fields["producer"];
        int sequence = std::stoi(fields["sequence"].get<std::string>());
        EXPECT_EQ(sequence, next[producer]++) << "lost, repeated or reordered: " << line;
        EXPECT_EQ(event["time"], 1600000000 + sequence);
    }
    EXPECT_EQ(count, kProducers * kRecords);
    lines.close();
    std::filesystem::remove(file);
}

}  // namespace
}  // namespace vantel
