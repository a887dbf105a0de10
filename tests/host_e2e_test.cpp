// End to end through the binary ABI: the reference host loads the built module by path, drives
// its plugins through a scenario and reports on standard output; the module logs through the
// agent's log library.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
#else
#include <sys/wait.h>
#endif

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    quoted += text;
    quoted += '"';
    return quoted;
}

#ifdef _WIN32
// Wine shows the build tree on drive Z:, and cmd.exe strips one pair of quotes around the command.
std::string HostProgram() {
    std::string path = "Z:" VANTEL_AGENT_DIR "/bin/qorexthost.exe";
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}
FILE* OpenPipe(const std::string& command) { return _popen(Quoted(command).c_str(), "r"); }
int ExitCodeOf(FILE* pipe) { return _pclose(pipe); }
void SetEnvironment(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }
#else
std::string HostProgram() { return VANTEL_AGENT_DIR "/bin/qorexthost"; }
FILE* OpenPipe(const std::string& command) { return popen(command.c_str(), "r"); }
int ExitCodeOf(FILE* pipe) {
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
void SetEnvironment(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }
#endif

struct HostRun {
    int exitCode = -1;
    std::vector<json> lines;
    std::string output;  // standard output as printed
    std::string errors;  // standard error

    // "plugin slot result" for each call line, in order.
    std::vector<std::string> Calls() const {
        std::vector<std::string> calls;
        for (const json& line : lines)
            if (line.value("type", "") == "call")
                calls.push_back(line["plugin"].get<std::string>() + " " + line["slot"].get<std::string>() + " " +
                                std::to_string(line["result"].get<int>()));
        return calls;
    }
};

const std::vector<std::string> kAllPlugins = {"EventLog", "NtUsers", "Certificate"};

// What the host calls for Install, Initialize, Start, Stop and Destroy of every plugin: each Destroy
// waits for the plugin to be idle and answers how many plugin objects are left.
std::vector<std::string> LifeCycleCalls() {
    std::vector<std::string> calls;
    for (const char* slot : {"Install", "Initialize", "Start", "Stop"})
        for (const std::string& plugin : kAllPlugins) calls.push_back(plugin + " " + slot + " 0");
    int left = static_cast<int>(kAllPlugins.size());
    for (const std::string& plugin : kAllPlugins) {
        calls.push_back(plugin + " IsBusy 0");
        calls.push_back(plugin + " Destroy " + std::to_string(--left));
    }
    return calls;
}

json LifeCycleScenario() {
    json steps = json::array();
    for (const char* slot : {"Install", "Initialize", "Start", "Stop", "Destroy"}) steps.push_back({{"call", slot}});
    return {{"plugins", kAllPlugins}, {"steps", steps}};
}

class HostE2E : public testing::Test {
protected:
    void SetUp() override {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        folder_ = fs::temp_directory_path() /
                  ("host_e2e_" + std::string(test->name()) + "_" +
                   std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(folder_ / "log");
        SetEnvironment("QUAYMAR_LOG_DIR", (folder_ / "log").string());
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    // Standard output is expected to be JSON lines unless the options ask for text.
    HostRun Run(const std::string& options, bool jsonLines = true) const {
        HostRun run;
        fs::path errors = folder_ / "errors.txt";
        FILE* pipe = OpenPipe(Quoted(HostProgram()) + " " + options + " 2>" + Quoted(errors.string()));
        if (pipe == nullptr) return run;
        std::string& text = run.output;
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
        run.exitCode = ExitCodeOf(pipe);
        run.errors = FileText(errors);
        if (!jsonLines) return run;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            json parsed = json::parse(line, nullptr, false);
            EXPECT_TRUE(parsed.is_object()) << "not a JSON object: " << line;
            run.lines.push_back(parsed);
        }
        return run;
    }

    HostRun RunScenario(const json& scenario) const {
        fs::path file = folder_ / "scenario.json";
        std::ofstream(file) << scenario.dump();
        return Run("--scenario " + Quoted(file.string()));
    }

    static std::string FileText(const fs::path& path) {
        std::ifstream file(path, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

    std::string LogText() const { return FileText(folder_ / "log" / "Vantel.log"); }

    fs::path folder_;
};

TEST_F(HostE2E, LifeCyclesRunInOrderAndTheModuleLogsThem) {
    HostRun run = RunScenario(LifeCycleScenario());
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.Calls(), LifeCycleCalls());

    std::string log = LogText();
    for (const char* line : {"[CNtEventLog] init", "[CNtUsers] Start", "[CCertificate] Stop"})
        EXPECT_NE(log.find(line), std::string::npos) << "Vantel.log lacks \"" << line << "\":\n" << log;
}

TEST_F(HostE2E, WithoutScenarioTheHostRunsTheSameLifeCycles) {
    HostRun run = Run("");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.Calls(), LifeCycleCalls());
}

TEST_F(HostE2E, UnsignedLogLibraryLeavesThePluginsWorkingButSilent) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows test build accepts unsigned agent libraries";
#endif
    json scenario = LifeCycleScenario();
    scenario["unsigned"] = {"Quaymar.dll"};
    HostRun run = RunScenario(scenario);
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.Calls(), LifeCycleCalls());
    EXPECT_EQ(LogText(), "");
}

TEST_F(HostE2E, StepsAddressOnePluginOrAllOfTheRunInItsOrder) {
    json scenario = {
        {"plugins", {"Certificate", "EventLog"}},
        {"steps",
         {
             {{"message", {{"plugin", "Certificate"}, {"command", "FreshList"}, {"value", ""}}}},
             {{"call", "Install"}},
             {{"call", "SetProperty"}, {"plugin", "EventLog"}, {"id", 5}},
             {{"wait_idle", "EventLog"}},
             {{"call", "Destroy"}, {"plugin", "Certificate"}},
             {{"call", "Install"}, {"plugin", "Certificate"}},
             {{"call", "Destroy"}},
         }},
    };
    HostRun run = RunScenario(scenario);
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_FALSE(run.lines.empty());
    // Before Initialize no handler is registered: the message is refused without reaching the module.
    EXPECT_EQ(run.lines.front(),
              json::parse(R"({"type":"message","plugin":"Certificate","command":"FreshList","accepted":0})"));
    // A destroyed plugin is asked for again by the next step that names it.
    std::vector<std::string> expected = {
        "Certificate Install 0", "EventLog Install 0",   "EventLog SetProperty 0", "EventLog IsBusy 0",
        "Certificate IsBusy 0",  "Certificate Destroy 1", "Certificate Install 0",  "Certificate IsBusy 0",
        "Certificate Destroy 1", "EventLog IsBusy 0",     "EventLog Destroy 0"};
    EXPECT_EQ(run.Calls(), expected);
}

TEST_F(HostE2E, TheHostLetsMessagesInFlightEndBeforeItExits) {
    // No Stop, no Destroy, no wait: the run ends with the commands queued or running.
    json steps = {{{"call", "Initialize"}}, {{"call", "Start"}}};
    constexpr int kMessages = 90;
    for (int i = 0; i < kMessages; ++i)
        steps.push_back({{"message", {{"plugin", i % 2 ? "NtUsers" : "Certificate"}, {"command", "FreshList"}, {"value", ""}}}});
#ifdef _WIN32
    constexpr int kRuns = 3;  // each run lists Wine's real stores 90 times
#else
    constexpr int kRuns = 20;
#endif
    for (int run = 0; run < kRuns; ++run) {
        HostRun host = RunScenario({{"plugins", {"NtUsers", "Certificate"}}, {"steps", steps}});
        ASSERT_EQ(host.exitCode, 0) << "run " << run;
        int replies = 0;
        for (const json& line : host.lines) replies += line.value("type", "") == "reply";
        ASSERT_EQ(replies, kMessages) << "run " << run;
    }
}

TEST_F(HostE2E, BadUsageAndMissingModuleEndTheRunBeforeAnyCall) {
    struct Case {
        const char* what;
        int exitCode;
        HostRun run;
    };
    const Case cases[] = {
        {"unknown option", 2, Run("--verbose")},
        {"option without value", 2, Run("--scenario")},
        {"unreadable scenario", 2, Run("--scenario " + Quoted((folder_ / "missing.json").string()))},
        {"scenario not an object", 2, RunScenario("steps")},
        {"unknown plugin", 2, RunScenario({{"plugins", {"Printer"}}})},
        {"unknown slot", 2, RunScenario({{"steps", {{{"call", "Reboot"}}}}})},
        {"plugin outside the run", 2,
         RunScenario({{"plugins", {"EventLog"}}, {"steps", {{{"call", "Install"}, {"plugin", "NtUsers"}}}}})},
        {"unknown unsigned file", 2, RunScenario({{"unsigned", {"Other.dll"}}})},
        {"module missing", 3, Run("--module " + Quoted((folder_ / "Missing.dll").string()))},
        {"module not a library", 3, Run("--module " + Quoted((folder_ / "log").string()))},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.run.exitCode, c.exitCode) << c.what;
        EXPECT_TRUE(c.run.lines.empty()) << c.what;
    }
}

TEST_F(HostE2E, HelpTellsOptionsLinesAndExitCodesAndCallsNothing) {
    HostRun run = Run("--help", false);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.errors, "");
    for (const char* part : {"--scenario FILE", "--module PATH", "\"type\":\"call\"", "\"type\":\"event\"",
                             "\"type\":\"message\"", "\"type\":\"reply\"", "\"type\":\"report\"", "Example:",
                             "Exit codes:", "  3  the module"})
        EXPECT_NE(run.output.find(part), std::string::npos) << part;
#ifndef _WIN32
    EXPECT_NE(run.output.find("--evtx FILE|DIR ..."), std::string::npos);
    EXPECT_NE(run.output.find("\"type\":\"policy\""), std::string::npos);
#endif
}

#ifdef _WIN32
// The Wine prefix's own root store through the Windows build: a throwaway certificate is added
// to the user's store first, so that the removal takes nothing the prefix needs.
class WineRootStore {
public:
    // Each use opens the store afresh: Wine writes a store's changes out when it is closed.
    WineRootStore() {
        std::ifstream file("Z:" VANTEL_SOURCE_DIR "/tests/data/throwaway_root.cer", std::ios::binary);
        std::string der((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        HCERTSTORE store = Open();
        if (store == nullptr) return;
        PCCERT_CONTEXT added = nullptr;
        if (!der.empty() &&
            CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                             static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
            BYTE hash[20];
            DWORD size = sizeof hash;
            if (CertGetCertificateContextProperty(added, CERT_HASH_PROP_ID, hash, &size))
                for (DWORD i = 0; i < size; ++i) {
                    char digits[3];
                    std::snprintf(digits, sizeof digits, "%02X", hash[i]);
                    fingerprint_ += digits;
                }
            CertFreeCertificateContext(added);
        }
        CertCloseStore(store, 0);
    }
    ~WineRootStore() { Find(true); }
    const std::string& fingerprint() const { return fingerprint_; }
    bool Contains() const { return Find(false); }

private:
    static HCERTSTORE Open() {
        return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    }
    bool Find(bool remove) const {
        if (fingerprint_.size() != 40) return false;
        BYTE hash[20];
        for (size_t i = 0; i < sizeof hash; ++i)
            hash[i] = static_cast<BYTE>(std::stoi(fingerprint_.substr(i * 2, 2), nullptr, 16));
        CRYPT_HASH_BLOB blob{sizeof hash, hash};
        HCERTSTORE store = Open();
        if (store == nullptr) return false;
        PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
        if (found != nullptr) {
            if (remove)
                CertDeleteCertificateFromStore(found);
            else
                CertFreeCertificateContext(found);
        }
        CertCloseStore(store, 0);
        return found != nullptr;
    }

    std::string fingerprint_;
};

TEST_F(HostE2E, WineRootStoreIsListedAndOneCertificateRemoved) {
    WineRootStore wine;
    ASSERT_EQ(wine.fingerprint().size(), 40u) << "the throwaway certificate could not be added";
    ASSERT_TRUE(wine.Contains());
    std::string remove = R"({"fingerprint":")" + wine.fingerprint() + R"(","reason":"test"})";
    json scenario = {
        {"plugins", {"Certificate"}},
        {"steps",
         {
             {{"call", "Initialize"}},
             {{"call", "Start"}},
             {{"message", {{"plugin", "Certificate"}, {"command", "FreshList"}, {"value", ""}}}},
             {{"wait_idle", "Certificate"}},
             {{"message", {{"plugin", "Certificate"}, {"command", "Remove"}, {"value", remove}}}},
             {{"wait_idle", "Certificate"}},
             {{"call", "Stop"}},
             {{"call", "Destroy"}},
         }},
    };
    HostRun run = RunScenario(scenario);
    ASSERT_EQ(run.exitCode, 0);
    std::vector<json> replies;
    for (const json& line : run.lines)
        if (line.value("type", "") == "reply") replies.push_back(line);
    ASSERT_EQ(replies.size(), 2u);
    auto fingerprints = [](const json& reply) {
        std::vector<std::string> all;
        for (const json& node : reply["nodes"]) {
            EXPECT_EQ(node["tag"], "Item");
            all.push_back(node["fields"].value("FingerPrint", ""));
        }
        return all;
    };
    std::vector<std::string> listed = fingerprints(replies[0]);
    EXPECT_EQ(replies[0]["command"], "FreshList");
    EXPECT_GT(listed.size(), 100u) << "Wine's real root store";
    for (const std::string& fingerprint : listed)
        EXPECT_EQ(fingerprint.find_first_not_of("0123456789ABCDEF"), std::string::npos) << fingerprint;
    for (const std::string& fingerprint : listed) EXPECT_EQ(fingerprint.size(), 40u);
    EXPECT_NE(std::find(listed.begin(), listed.end(), wine.fingerprint()), listed.end());

    std::vector<std::string> after = fingerprints(replies[1]);
    EXPECT_EQ(replies[1]["command"], "Remove");
    EXPECT_EQ(after.size(), listed.size() - 1);
    EXPECT_EQ(std::find(after.begin(), after.end(), wine.fingerprint()), after.end());
    EXPECT_FALSE(wine.Contains()) << "gone from the store itself";
}
#endif

}  // namespace

#ifndef _WIN32
// The built-in scenario: records published in the simulated channels leave the host as named
// events, each with the id of its record and the fields of its translation; the password policy
// is set, watched over and put back.
TEST_F(HostE2E, DemoRecordsBecomeNamedEvents) {
    HostRun run = Run("--scenario " + Quoted(VANTEL_SOURCE_DIR "/examples/demo.json"));
    ASSERT_EQ(run.exitCode, 0);
    std::vector<json> events;
    for (const json& line : run.lines)
        if (line.value("type", "") == "event") events.push_back(line);
    ASSERT_EQ(events.size(), 10u);
    EXPECT_EQ(events[0]["name"], "UserLogon");
    EXPECT_EQ(events[0]["plugin"], "EventLog");
    EXPECT_EQ(events[0]["fields"],
              json({{"computer_name", "WINSIM"}, {"event_id", "4624"}, {"ip", "127.0.0.1"}, {"logon_domain", "WINSIM"},
                    {"logon_time", "1609459200"}, {"logon_type", "2"}, {"port", "0"},
                    {"process_name", "C:\\Windows\\System32\\svchost.exe"}, {"user_is_admin", "1"},
                    {"user_name", "alice"}, {"user_sid_readable", "1"}}));
    EXPECT_EQ(events[1]["name"], "UserLogonFailed");
    EXPECT_EQ(events[1]["fields"]["action_count"], "1");
    EXPECT_EQ(events[2]["fields"]["action_count"], "2");
    EXPECT_EQ(events[3]["name"], "UserLogoff");
    EXPECT_EQ(events[3]["fields"]["event_id"], "4647");
    EXPECT_EQ(events[4]["name"], "ServiceInstalled");
    EXPECT_EQ(events[5]["name"], "FirewallSetRule") << "read from the record's XML through the companion library";
    EXPECT_EQ(events[5]["fields"]["local_ports"], "4444");
    EXPECT_EQ(events[6]["name"], "ScheduledTaskRegistered");
    EXPECT_EQ(events[6]["fields"]["task_exec_arguments"], "-persist");

    // The pushed policy applied by secedit, Guest taken out of Administrators again by the SAM
    // watch, and at uninstall the policy of install time back with the account names unlocked.
    std::vector<json> policies;
    for (const json& line : run.lines)
        if (line.value("type", "") == "policy") policies.push_back(line);
    ASSERT_EQ(policies.size(), 3u);
    EXPECT_EQ(policies[0]["system_access"]["MinimumPasswordLength"], 12);
    EXPECT_EQ(policies[0]["system_access"]["LockoutBadCount"], 5);
    EXPECT_NE(policies[0]["account_names_acl"].get<std::string>().find("(D;CI;0x10004;;;S-1-1-0)"), std::string::npos);
    EXPECT_EQ(policies[1]["groups"]["Administrators"], json({"Administrator"}));
    EXPECT_EQ(policies[1]["groups"]["Guests"], json({"Guest"}));
    EXPECT_EQ(policies[2]["system_access"]["MinimumPasswordLength"], 6);
    EXPECT_EQ(policies[2]["system_access"]["MaximumPasswordAge"], 60);
    EXPECT_EQ(policies[2]["account_names_acl"].get<std::string>().find("S-1-1-0"), std::string::npos);
    // Restarted without the modern event log: the share and task monitors and the attack monitor.
    EXPECT_EQ(events[7]["name"], "NetShareAdd");
    EXPECT_EQ(events[7]["fields"],
              json({{"Remark", "quarterly reports"}, {"ShareMaxCount", "4294967295"}, {"share_name", "Finance"},
                    {"share_path", "C:\\Finance"}, {"user_name", ""}}));
    EXPECT_EQ(events[8]["name"], "ScheduledTaskRegistered");
    EXPECT_EQ(events[8]["fields"]["task_name"], "Updater");
    EXPECT_EQ(events[8]["fields"]["task_xml"], "");
    EXPECT_EQ(events[9]["name"], "RemoteLogonFailed");
    EXPECT_EQ(events[9]["fields"],
              json({{"action_count", "0"}, {"attack_ip", "198.51.100.23"}, {"attack_type", "RDP"},
                    {"computer_name", "WINSIM"}, {"logon_time", "1609462800"}}));
}

// The classic readers start on worker threads after Start returns, each from its log's newest
// record: records written right after Start are reported all the same, the steps waiting for the
// readers rather than for a fixed time.
TEST_F(HostE2E, ClassicRecordsWrittenRightAfterStartAreReported) {
    auto append = [](const char* log, int id, json strings) {
        return json{{"machine", {{"classic_append", {{"log", log}, {"id", id}, {"time", 1609459200}, {"type", 8},
                                                      {"source", log}, {"computer", "WINSIM"},
                                                      {"strings", std::move(strings)}}}}}};
    };
    json scenario = {
        {"plugins", {"EventLog"}},
        {"steps",
         {{{"machine", {{"remove_library_export", {{"library", "Wevtapi.dll"}}}}}},
          {{"machine",
            {{"add_user", {{"name", "alice"}, {"privilege", 2}, {"sid", "S-1-5-21-1004336348-1177238915-682003330-1001"}}}}}},
          {{"machine", {{"add_process", {{"id", 2400}, {"image", "C:\\u.exe"}, {"session", 0}}}}}},
          {{"machine",
            {{"add_service",
              {{"name", "Updater"}, {"display_name", "Updater Service"}, {"command_line", "C:\\u.exe"}, {"process_id", 2400}}}}}},
          {{"call", "SetProperty"}, {"id", 3}},
          {{"call", "Initialize"}},
          {{"call", "Start"}},
          append("Security", 528, {"alice", "WINSIM", "(0x0,0x1234)", "2", "User32", "Negotiate", "WINSIM"}),
          append("System", 7036, {"Updater Service", "正在运行"}),
          append("Security", 538, {"alice", "WINSIM", "(0x0,0x1234)", "2"}),
          {{"call", "Stop"}},
          {{"call", "Destroy"}}}}};
    HostRun run = RunScenario(scenario);
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    std::multiset<std::string> names;
    for (const json& line : run.lines)
        if (line.value("type", "") == "event") names.insert(line["name"].get<std::string>());
    EXPECT_EQ(names, (std::multiset<std::string>{"UserLogon", "ServiceStarted", "UserLogoff"})) << run.output;
}

namespace {

// The closing summary, the last line on standard error.
std::string Summary(const HostRun& run) {
    std::string errors = run.errors;
    while (!errors.empty() && errors.back() == '\n') errors.pop_back();
    return errors.substr(errors.rfind('\n') + 1);
}

}  // namespace

// Paths after one --evtx, as a shell glob hands them over, folders searched for .evtx files, and
// each file that is no recording or a damaged one named with the reason.
TEST_F(HostE2E, EvtxTakesEveryPathUpToTheNextOptionAndNamesWhatItCannotRead) {
    fs::path recordings = folder_ / "recordings";
    fs::create_directories(recordings / "sub");
    std::ofstream(recordings / "text.evtx") << "root:x:0:0:root:/root:/bin/bash\n";
    std::ofstream(recordings / "empty.evtx");
    std::ofstream(recordings / "notes.txt") << "not looked at in a folder";
    std::string cut("ElfFile", 8);  // a signature, a header of zeros and part of a chunk
    cut.resize(5000, '\0');
    std::ofstream(recordings / "sub" / "cut.evtx", std::ios::binary) << cut;
    auto path = [&](const char* name) { return Quoted((recordings / name).string()); };

    HostRun two = Run("--evtx " + path("text.evtx") + " " + path("empty.evtx") + " --module " +
                      Quoted(VANTEL_AGENT_DIR "/bin/Vantel.dll"));
    EXPECT_EQ(two.exitCode, 0) << two.errors;
    EXPECT_EQ(two.Calls(), (std::vector<std::string>{"EventLog Initialize 0", "EventLog Start 0", "EventLog IsBusy 0",
                                                     "EventLog Stop 0", "EventLog IsBusy 0", "EventLog Destroy 0"}));
    EXPECT_TRUE(Summary(two).starts_with("qorexthost: 2 files, 0 records read, 2 skipped, 0 named events")) << two.errors;
    EXPECT_NE(two.errors.find("text.evtx: not an .evtx file"), std::string::npos) << two.errors;
    EXPECT_NE(two.errors.find("empty.evtx: not an .evtx file"), std::string::npos) << two.errors;

    HostRun folder = Run("--evtx " + Quoted(recordings.string()));
    EXPECT_EQ(folder.exitCode, 0) << folder.errors;
    EXPECT_TRUE(Summary(folder).starts_with("qorexthost: 3 files,")) << folder.errors;
    EXPECT_NE(folder.errors.find("cut.evtx: truncated, bad file header"), std::string::npos) << folder.errors;

    HostRun repeated = Run("--evtx " + path("text.evtx") + " --evtx " + path("empty.evtx"));
    EXPECT_TRUE(Summary(repeated).starts_with("qorexthost: 2 files,")) << repeated.errors;
}

TEST_F(HostE2E, MissingRecordingsFailTheRunBeforeAnyPluginIsCalled) {
    std::string missing = (folder_ / "missing.evtx").string();
    const HostRun runs[] = {
        Run("--evtx " + Quoted(folder_.string()) + " " + Quoted(missing)),
        RunScenario({{"steps", {{{"call", "Initialize"}}, {{"replay", {missing}}}}}}),
        Run("--evtx"),
        Run("--evtx --scenario " + Quoted(missing)),
    };
    for (const HostRun& run : runs) {
        EXPECT_EQ(run.exitCode, 2) << run.errors;
        EXPECT_EQ(run.output, "") << run.errors;
    }
    EXPECT_NE(runs[0].errors.find("no file or folder " + missing), std::string::npos) << runs[0].errors;
    EXPECT_NE(runs[1].errors.find("no file or folder " + missing), std::string::npos) << runs[1].errors;
}
#endif
