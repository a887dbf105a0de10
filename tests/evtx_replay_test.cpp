// Every real recording replayed through the reference host and the live subscription path: each
// named event carries the values of a record it comes from, and the decoys give none.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "command_output.h"
#include "common/text.h"
#include "evtx_corpus.h"
#include "winsim/eventlog.h"

namespace vantel {
namespace {

constexpr uint64_t kTicksPerSecond = 10'000'000, kTicksTo1970 = 116'444'736'000'000'000ull;

// A translated id: the event it becomes and the fields that copy a value of the record.
struct Translation {
    const char16_t* channel;
    uint64_t id;
    const char* event;
    std::vector<std::pair<const char*, size_t>> fields;  // field, position of the record's value
    bool everyRecord;  // false where the translator drops some (excluded task folders, the service host)
};

const std::vector<Translation>& Translations() {
    static const std::vector<Translation> translations = {
        {u"Security", 4720, "UserAccountCreated", {{"user_name", 0}}, true},
        {u"Security", 4723, "UserPasswordChange", {{"user_name", 0}}, true},
        {u"Security", 4724, "UserPasswordReset", {{"user_name", 0}}, true},
        {u"Security", 4726, "UserAccountDeleted", {{"user_name", 0}}, true},
        {u"Security", 4738, "UserAccountChaned", {{"user_name", 1}}, true},
        {u"Security", 4732, "UserAccountAddedToGroup", {{"domain_sid", 4}}, true},
        {u"Security", 1102, "EventLogCleared", {{"user_name", 1}, {"logon_domain", 2}}, true},
        {u"Security", 4698, "ScheduledTaskRegistered", {{"task_name", 4}, {"task_xml", 5}}, false},
        {u"Security", 4699, "ScheduledTaskDeleted", {{"task_name", 4}}, false},
        {u"Security", 4702, "ScheduledTaskModified", {{"task_name", 4}, {"task_xml", 5}}, false},
        {u"Security", 5136, "DsObjectModified", {{"object_dn", 8}, {"attribute_value", 13}}, true},
        {u"Security", 5137, "DsObjectCreated", {{"object_dn", 8}}, true},
        {u"Security", 5142, "NetShareAdd", {{"share_name", 4}, {"share_path", 5}}, true},
        {u"Security", 5143, "NetShareSecurityModify", {{"share_name", 5}}, true},
        {u"Security", 4697, "ServiceInstalled", {{"service_name", 4}, {"command_line", 5}}, true},
        {u"System", 7045, "ServiceInstalled",
         {{"service_name", 0}, {"command_line", 1}, {"service_type", 2}, {"start_type", 3}}, true},
        {u"System", 104, "EventLogCleared", {{"user_name", 0}, {"channel", 2}}, true},
        {u"Microsoft-Windows-Windows Firewall With Advanced Security/Firewall", 2004, "FirewallSetRule",
         {{"firewall_rule_id", 0}}, false},
    };
    return translations;
}

using Key = std::tuple<std::string, std::string, std::string>;  // event id, event name, the copied values

// The corpus read directly and replayed through the host, once for all the tests here.
struct Replay {
    std::multiset<Key> recorded;
    std::map<std::string, int> recordedById;
    std::vector<nlohmann::json> events;
    std::string errors;   // standard error
    std::string summary;  // its last line
    std::string output;   // standard output
    int exitCode = -1;
    winsim::EvtxTotals read;
};

struct HostRun {
    std::string output, errors;
    int exitCode = -1;
};

// qorexthost --evtx over the corpus.
HostRun RunReplay() {
    std::filesystem::path errors = std::filesystem::path(::testing::TempDir()) / "qorexthost-replay-errors.txt";
    std::string command = VANTEL_AGENT_DIR "/bin/qorexthost --evtx '" + testing::EvtxCorpusFolder().string() +
                          "' 2>'" + errors.string() + "'";
    testing::CommandResult host = testing::RunCommand(command);
    HostRun run{host.output, {}, host.exitCode};
    std::ifstream stream(errors);
    run.errors.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    return run;
}

std::string Copied(const nlohmann::json& fields, const Translation& translation) {
    std::string text;
    for (const auto& [field, position] : translation.fields) text += fields.value(field, std::string("?")) + "\x1f";
    return text;
}

const Replay& TheReplay() {
    static const Replay replay = [] {
        Replay result;
        for (const auto& file : testing::EvtxCorpus()) {
            result.read += winsim::ReadEvtxFile(file, [&](winsim::EventRecord&& record) {
                uint64_t id = record.system[evt::kSystemEventID].number;
                std::string idText = std::to_string(id);
                if (record.channel == u"Security" && (id == 4624 || id == 4625 || id == 4647 || id == 4648)) {
                    size_t user = id == 4647 ? 1 : 5;
                    if (record.user.size() <= user) return;
                    uint64_t seconds = (record.system[evt::kSystemTimeCreated].number - kTicksTo1970) / kTicksPerSecond;
                    result.recorded.emplace(idText, "logon",
                                            ToUtf8(winsim::ValueText(record.user[user])) + "\x1f" +
                                                ToUtf8(record.system[evt::kSystemComputer].text) + "\x1f" +
                                                std::to_string(seconds));
                    ++result.recordedById[idText];
                    return;
                }
                for (const Translation& translation : Translations()) {
                    if (translation.id != id || record.channel != translation.channel) continue;
                    std::string text;
                    for (const auto& [field, position] : translation.fields)
                        text += (position < record.user.size() ? ToUtf8(winsim::ValueText(record.user[position]))
                                                               : std::string()) +
                                "\x1f";
                    result.recorded.emplace(idText, translation.event, text);
                    ++result.recordedById[idText];
                }
            });
        }
        HostRun run = RunReplay();
        result.output = run.output;
        result.exitCode = run.exitCode;
        result.errors = run.errors;
        std::istringstream errors(run.errors);
        for (std::string line; std::getline(errors, line);) result.summary = line;
        std::istringstream lines(result.output);
        for (std::string line; std::getline(lines, line);) {
            auto json = nlohmann::json::parse(line);
            if (json["type"] == "event") result.events.push_back(json);
        }
        return result;
    }();
    return replay;
}

TEST(EvtxReplay, LogonEventsCarryTheirRecordsValues) {
    SKIP_WITHOUT_EVTX_CORPUS(testing::EvtxCorpus());
    const Replay& replay = TheReplay();
    ASSERT_EQ(replay.exitCode, 0) << replay.summary;
    std::map<std::string, int> named;
    for (const auto& event : replay.events) {
        std::string name = event["name"];
        if (name != "UserLogon" && name != "UserLogonFailed" && name != "UserLogoff") continue;
        const auto& fields = event["fields"];
        std::string id = fields["event_id"];
        Key key{id, "logon",
                fields["user_name"].get<std::string>() + "\x1f" + fields["computer_name"].get<std::string>() + "\x1f" +
                    fields["logon_time"].get<std::string>()};
        EXPECT_TRUE(replay.recorded.contains(key)) << "no record for " << event.dump();
        ++named[id];
    }
    // Every failed logon and logoff recorded becomes its event.
    EXPECT_EQ(named["4625"], replay.recordedById.at("4625"));
    EXPECT_EQ(named["4647"], replay.recordedById.at("4647"));
    EXPECT_GT(named["4624"], 200);
    EXPECT_NE(replay.summary.find(std::to_string(replay.read.records) + " records read"), std::string::npos)
        << replay.summary;
}

// The recordings damaged on purpose are named, each with what kept it from being read whole.
TEST(EvtxReplay, NamesEachFileReadOnlyInPartWithTheReason) {
    SKIP_WITHOUT_EVTX_CORPUS(testing::EvtxCorpus());
    const Replay& replay = TheReplay();
    for (const char* named : {"/sample_with_a_bad_chunk_magic.evtx: 5 damaged chunks", "/Application_no_crc32.evtx: bad file header",
                              "/sample-with-zero-data-size-event.evtx: 1 damaged chunk"})
        EXPECT_NE(replay.errors.find(named), std::string::npos) << named;
    EXPECT_EQ(replay.errors.find("/system.evtx:"), std::string::npos) << "an intact recording named";
}

uint64_t Fnv1a(const std::string& bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char byte : bytes) hash = (hash ^ byte) * 0x100000001b3ull;
    return hash;
}

// Same files, same lines in the same order: nothing depends on timing or on the machine's clock,
// nor on how the replay keeps its records. The digest pins the output of the corpus as it stands;
// a deliberate change of what the module sends renews it.
TEST(EvtxReplay, PrintsTheSameOnEveryRun) {
    SKIP_WITHOUT_EVTX_CORPUS(testing::EvtxCorpus());
    const Replay& replay = TheReplay();
    ASSERT_EQ(replay.exitCode, 0) << replay.summary;
    HostRun again = RunReplay();
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_TRUE(again.output == replay.output) << "the second run printed something else";
    if (testing::EvtxCorpusFolder() == std::filesystem::path(VANTEL_SOURCE_DIR) / ".." / "shared" / "data" / "evtx") {
        EXPECT_EQ(replay.output.size(), 509302u);
        EXPECT_EQ(Fnv1a(replay.output), 0xdd6c887e63ef3799ull) << "the replay printed something else than before";
    }
}

// However much is replayed, a channel keeps no more than its maximum: three passes over the
// corpus leave what one leaves, the newest records.
TEST(EvtxReplay, AChannelKeepsNoMoreThanItsMaximum) {
    SKIP_WITHOUT_EVTX_CORPUS(testing::EvtxCorpus());
    size_t published = 0;
    for (const auto& file : testing::EvtxCorpus())
        winsim::ReadEvtxFile(file, [&](winsim::EventRecord&& record) { published += record.channel == u"Security"; });
    winsim::ResetEventLog();
    winsim::SetChannelMaximumSize(u"Security", 1 << 20);
    winsim::ReplayEvtx(testing::EvtxCorpus());
    size_t once = winsim::ChannelRecordCount(u"Security");
    winsim::ReplayEvtx(testing::EvtxCorpus());
    winsim::ReplayEvtx(testing::EvtxCorpus());
    EXPECT_GT(once, 0u);
    EXPECT_LT(once, published);
    EXPECT_EQ(winsim::ChannelRecordCount(u"Security"), once);
    winsim::ResetEventLog();
}

TEST(EvtxReplay, AccountTaskShareDirectoryServiceAndFirewallEventsCarryTheirRecordsValues) {
    SKIP_WITHOUT_EVTX_CORPUS(testing::EvtxCorpus());
    const Replay& replay = TheReplay();
    std::map<std::string, int> named;
    for (const auto& event : replay.events) {
        std::string id = event["fields"].value("event_id", std::string());
        for (const Translation& translation : Translations()) {
            if (std::to_string(translation.id) != id) continue;
            EXPECT_EQ(event["name"], translation.event) << event.dump();
            Key key{id, translation.event, Copied(event["fields"], translation)};
            EXPECT_TRUE(replay.recorded.contains(key)) << "no record, or a decoy, for " << event.dump();
            ++named[id];
        }
    }
    for (const Translation& translation : Translations()) {
        std::string id = std::to_string(translation.id);
        auto recorded = replay.recordedById.find(id);
        int records = recorded == replay.recordedById.end() ? 0 : recorded->second;
        if (translation.everyRecord) EXPECT_EQ(named[id], records) << "id " << id;
        else EXPECT_LE(named[id], records) << "id " << id;
    }
    EXPECT_GT(named["7045"], 300);
    EXPECT_GT(named["5136"], 40);
}

}  // namespace
}  // namespace vantel
