// Scenario steps that change the simulated machine.
#include <cstdio>

#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <optional>
#include <stdexcept>
#include <thread>

#include "common/text.h"
#include "host/output.h"
#include "host/scenario.h"
#include "host/system.h"
#include "winsim/accounts.h"
#include "winsim/certificates.h"
#include "winsim/classic_eventlog.h"
#include "winsim/directory_changes.h"
#include "winsim/eventlog.h"
#include "winsim/evtx_reader.h"
#include "winsim/files.h"
#include "winsim/threads.h"
#include "winsim/message_modules.h"
#include "winsim/key_security.h"
#include "winsim/local_groups.h"
#include "winsim/registry.h"
#include "winsim/secedit.h"
#include "winsim/scheduled_tasks.h"
#include "winsim/services.h"
#include "winsim/sessions.h"
#include "winsim/shares.h"
#include "winsim/system_libraries.h"

namespace qorexthost {

namespace {

using nlohmann::json;
using winsim::EventValue;

// 2021-01-01 00:00:00 UTC: records of a scenario carry fixed times, so runs repeat exactly.
constexpr uint64_t kDefaultTicks = 132539328000000000ull;
constexpr uint32_t kDefaultSeconds = 1609459200;

std::u16string Text(const json& value) { return vantel::FromUtf8(value.get<std::string>()); }

// "3B1EFD...": hexadecimal digits in pairs, one pair a byte.
std::vector<uint8_t> HexBytes(const std::string& digits) {
    if (digits.size() % 2 != 0 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw ScenarioError("not hexadecimal digits in pairs: " + digits);
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

// "{8F1A5E2C-0B3D-4C7E-9A61-2D4F0E8B7C55}", as the registry writes them.
vantel::Guid GuidOf(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (c != '{' && c != '}' && c != '-') digits += c;
    std::vector<uint8_t> bytes = HexBytes(digits);
    if (bytes.size() != sizeof(vantel::Guid) || text.size() != 38) throw ScenarioError("no GUID: " + text);
    auto word = [&](size_t at, size_t size) {
        uint32_t value = 0;
        for (size_t i = 0; i < size; ++i) value = value << 8 | bytes[at + i];
        return value;
    };
    vantel::Guid guid{word(0, 4), static_cast<uint16_t>(word(4, 2)), static_cast<uint16_t>(word(6, 2)), {}};
    std::copy(bytes.begin() + 8, bytes.end(), guid.data4);
    return guid;
}

// ["String", "alice"], ["UInt32", 10], ["Sid", "S-1-5-18"], ["HexInt64", 255], ["Null"],
// ["Guid", "{...}"], ["Binary", "hexadecimal digits"].
EventValue ValueOf(const json& cell) {
    if (!cell.is_array() || cell.empty()) throw ScenarioError("a value is [type, value]: " + cell.dump());
    std::string type = cell[0].get<std::string>();
    if (type == "Null") return EventValue::Null();
    const json& value = cell.at(1);
    if (type == "String") return EventValue::String(Text(value));
    if (type == "Sid") return EventValue::Sid(winsim::SidFromText(Text(value)));
    if (type == "Boolean") return EventValue::Boolean(value.get<bool>());
    if (type == "Guid") return EventValue::Guid(GuidOf(value.get<std::string>()));
    if (type == "Binary") return EventValue::Binary(HexBytes(value.get<std::string>()));
    static const std::pair<const char*, uint32_t> kNumbers[] = {
        {"Byte", vantel::evt::kTypeByte},       {"UInt16", vantel::evt::kTypeUInt16},
        {"UInt32", vantel::evt::kTypeUInt32},   {"UInt64", vantel::evt::kTypeUInt64},
        {"HexInt32", vantel::evt::kTypeHexInt32}, {"HexInt64", vantel::evt::kTypeHexInt64},
        {"SizeT", vantel::evt::kTypeSizeT},     {"FileTime", vantel::evt::kTypeFileTime}};
    for (const auto& [name, tag] : kNumbers)
        if (type == name) return EventValue::Number(tag, value.get<uint64_t>());
    throw ScenarioError("no value type \"" + type + "\"");
}

void Publish(const json& event) {
    winsim::EventRecord record(Text(event.at("channel")), Text(event.at("provider")), event.at("id").get<uint16_t>());
    record.TimeCreated(event.value("time_ticks", kDefaultTicks));
    record.Computer(vantel::FromUtf8(event.value("computer", "WINSIM")));
    if (event.contains("level")) record.Level(event["level"].get<uint8_t>());
    if (event.contains("task")) record.Task(event["task"].get<uint16_t>());
    if (event.contains("user_sid")) record.UserSid(winsim::SidFromText(Text(event["user_sid"])));
    std::vector<EventValue> values;
    for (const json& cell : event.value("values", json::array())) values.push_back(ValueOf(cell));
    record.Values(std::move(values));
    if (event.contains("xml")) record.Xml(Text(event["xml"]));
    if (winsim::PublishEvent(std::move(record)) == 0)
        throw ScenarioError("no channel \"" + event["channel"].get<std::string>() + "\"");
    winsim::WaitForEventDelivery();
}

// Before a change to a watched place, waits (at most two seconds) until the module's watcher of
// it is armed and has dealt with what came before: a change it cannot see yet would be reported
// late or not at all, and runs would differ.
template <typename Armed>
bool AwaitWatcher(Armed armed) {
    constexpr auto kMostWait = std::chrono::seconds(2);
    auto until = std::chrono::steady_clock::now() + kMostWait;
    while (!armed() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return armed();
}

// The share watcher compares after it has armed anew (so that a change during the comparison
// wakes it again): it has dealt with what came before only once it waits on its event.
bool AwaitShareWatcher() {
    return AwaitWatcher([] { return winsim::RegNotificationWaiters(winsim::Hive::LocalMachine, winsim::kSharesKey) > 0; });
}

void AwaitFolderWatcher(const std::u16string& folder) {
    AwaitWatcher([&] { return winsim::WaitingDirectoryWatches(folder) > 0; });
}

// {"log": "Security", "id": 528, "time": seconds since 1970, "type": 8, "category": 0,
//  "source": ..., "computer": ..., "user_sid": "S-1-5-...", "strings": [...], "data_text": ...}
void AppendClassic(const json& step) {
    winsim::ClassicRecord record;
    record.eventId = step.at("id").get<uint32_t>();
    record.timeGenerated = step.value("time", kDefaultSeconds);
    record.eventType = step.value("type", uint16_t{8});
    record.category = step.value("category", uint16_t{0});
    if (step.contains("source")) record.source = Text(step["source"]);
    if (step.contains("computer")) record.computer = Text(step["computer"]);
    if (step.contains("user_sid")) record.userSid = winsim::SidFromText(Text(step["user_sid"]));
    for (const json& text : step.value("strings", json::array())) record.strings.push_back(Text(text));
    if (step.contains("data_text")) {
        // Binary data holding a zero-terminated UTF-16 text.
        for (char16_t c : Text(step["data_text"]) + u'\0') {
            record.data.push_back(static_cast<uint8_t>(c));
            record.data.push_back(static_cast<uint8_t>(c >> 8));
        }
    }
    // A reader seeks to the log's newest record before it asks to be told of changes: once it
    // has asked, a record written is one it reads. Its report comes before the next step's.
    std::u16string log = Text(step.at("log"));
    AwaitWatcher([&] { return winsim::ClassicLogWatcherCount(log) > 0; });
    winsim::AppendClassicRecord(log, std::move(record));
    AwaitWatcher([&] { return winsim::ClassicLogWatchersCaughtUp(log); });
}

// {"1": "text", "0x40000210": "text with %1"}: texts by message id, decimal or hexadecimal.
std::map<uint32_t, std::u16string> MessagesOf(const json& texts) {
    std::map<uint32_t, std::u16string> messages;
    for (const auto& [id, text] : texts.items()) {
        size_t used = 0;
        unsigned long number = 0;
        try {
            number = std::stoul(id, &used, 0);
        } catch (const std::logic_error&) {
        }
        if (used == 0 || used != id.size() || number > UINT32_MAX) throw ScenarioError("no message id \"" + id + "\"");
        messages[static_cast<uint32_t>(number)] = Text(text);
    }
    return messages;
}

// {"path": "%SystemRoot%\\System32\\audit.dll", "messages": {...},
//  "sources": [{"log": "Security", "source": "Security"}]}: the file, registered as the sources'
// "EventMessageFile" (expandable, as Windows stores it).
void AddMessageModule(const json& step) {
    std::u16string path = Text(step.at("path"));
    winsim::AddMessageModule(path, MessagesOf(step.at("messages")));
    for (const json& source : step.value("sources", json::array()))
        winsim::RegSetString(winsim::Hive::LocalMachine,
                             u"SYSTEM\\CurrentControlSet\\services\\eventlog\\" + Text(source.at("log")) + u"\\" +
                                 Text(source.at("source")),
                             u"EventMessageFile", path, winsim::ValueType::ExpandString);
}

// {"provider": ..., "events": {"4624": "message with %1"}, "tasks": {...}, "levels": {...}}
void AddPublisher(const json& step) {
    winsim::PublisherMessages messages{MessagesOf(step.value("events", json::object())),
                                       MessagesOf(step.value("levels", json::object())),
                                       MessagesOf(step.value("tasks", json::object()))};
    winsim::SetPublisherMessages(Text(step.at("provider")), std::move(messages));
}

// {"user": "alice" (none: the agent's own account), "issuer": ..., "subject": ...,
//  "friendly_name": ..., "sha1": "40 hexadecimal digits", "not_before_ticks": ..., "not_after_ticks": ...}
void AddRootCertificate(const json& step) {
    winsim::Certificate certificate{Text(step.at("issuer")), Text(step.at("subject")),
                                    vantel::FromUtf8(step.value("friendly_name", "")), {},
                                    step.value("not_before_ticks", kDefaultTicks),
                                    step.value("not_after_ticks", kDefaultTicks)};
    certificate.sha1 = HexBytes(step.at("sha1").get<std::string>());
    winsim::AddRootCertificate(vantel::FromUtf8(step.value("user", "")), certificate);
}

// {"MinimumPasswordLength": 8, ...}: keys of the machine's password and lockout policy.
void SetPolicy(const json& keys) {
    for (const auto& [key, value] : keys.items())
        if (!winsim::SetPasswordPolicyKey(vantel::FromUtf8(key), value.get<int32_t>()))
            throw ScenarioError("no policy key \"" + key + "\"");
}

constexpr char16_t kSamDomains[] = u"SAM\\SAM\\Domains";
// How long a step waits for the module's SAM watch to be ready or to have reacted.
constexpr uint32_t kSamWatchWaitMs = 5000;

// {"group": "Administrators", "member": "Guest"}: a change of the account database, which the
// module may be watching; the step waits for every watcher to see it and be watching again.
void AddGroupMember(const json& step) {
    winsim::RegWaitForWatchers(winsim::Hive::LocalMachine, kSamDomains, kSamWatchWaitMs);
    int32_t error = winsim::AddLocalGroupMember(Text(step.at("group")), Text(step.at("member")));
    if (error != 0) throw ScenarioError("add_group_member: error " + std::to_string(error));
    winsim::RegWaitForWatchers(winsim::Hive::LocalMachine, kSamDomains, kSamWatchWaitMs);
}

// One line with the machine's policy, its groups and the access list of the account names.
void ReadPolicy() {
    Json access = Json::object();
    for (const auto& [key, value] : winsim::GetPasswordPolicy()) access[vantel::ToUtf8(key)] = value;
    Json groups = Json::object();
    for (const auto& [group, members] : winsim::LocalGroupMembers()) {
        Json names = Json::array();
        for (const std::u16string& member : members) names.push_back(vantel::ToUtf8(member));
        groups[vantel::ToUtf8(group)] = names;
    }
    std::u16string names =
        winsim::KeyAccessText(winsim::Hive::LocalMachine, u"SAM\\SAM\\Domains\\Account\\Users\\Names");
    WriteLine({{"type", "policy"}, {"system_access", access}, {"groups", groups},
               {"account_names_acl", vantel::ToUtf8(names)}});
}

// The members a share step gives, over the share they change: "path", "remark", "max_uses",
// "security" (a descriptor in its string form) and "type".
winsim::Share SharedWith(const json& step, winsim::Share share) {
    if (step.contains("path")) share.path = Text(step["path"]);
    if (step.contains("remark")) share.remark = Text(step["remark"]);
    if (step.contains("max_uses")) share.maxUses = step["max_uses"].get<uint32_t>();
    if (step.contains("security")) share.security = Text(step["security"]);
    if (step.contains("type")) share.type = step["type"].get<uint32_t>();
    return share;
}

// {"name": ..., "new_name": ..., and any member of SharedWith}
void SetShare(const json& step) {
    std::u16string name = Text(step.at("name"));
    std::optional<winsim::Share> share = winsim::FindShare(name);
    if (!share) throw ScenarioError("no share \"" + step["name"].get<std::string>() + "\"");
    winsim::Share changed = SharedWith(step, *share);
    if (step.contains("new_name")) changed.name = Text(step["new_name"]);
    winsim::SetShare(name, changed);
}

void ChangeShares(const json& step) {
    if (step.contains("add_share")) {
        const json& share = step["add_share"];
        return winsim::AddShare(SharedWith(share, {Text(share.at("name")), Text(share.at("path"))}));
    }
    if (step.contains("remove_share")) {
        if (winsim::RemoveShare(Text(step["remove_share"].at("name")))) return;
        throw ScenarioError("no share " + step["remove_share"]["name"].dump());
    }
    SetShare(step["set_share"]);
}

// The members a task step gives, over the task they change: "program", "parameters", "creator".
winsim::ScheduledTask TaskWith(const json& step, winsim::ScheduledTask task) {
    if (step.contains("program")) task.program = Text(step["program"]);
    if (step.contains("parameters")) task.parameters = Text(step["parameters"]);
    if (step.contains("creator")) task.creator = Text(step["creator"]);
    return task;
}

void ChangeTask(const json& step) {
    std::u16string name = Text(step.at("name"));
    winsim::ScheduledTask task;
    if (winsim::ReadTask(name, &task) != 0 || !winsim::ChangeTask(name, TaskWith(step, task)))
        throw ScenarioError("no task \"" + step["name"].get<std::string>() + "\"");
}

// {"path": "C:\\...", "text": ..., "time_ticks": last-write time (optional)}; missing folders
// are made first.
void WriteFile(const json& step) {
    std::u16string path = Text(step.at("path"));
    AwaitFolderWatcher(path.substr(0, path.rfind(u'\\')));
    std::string host = winsim::HostPath(path);
    std::error_code ignored;
    if (!host.empty()) std::filesystem::create_directories(std::filesystem::path(host).parent_path(), ignored);
    std::optional<uint64_t> ticks;
    if (step.contains("time_ticks")) ticks = step["time_ticks"].get<uint64_t>();
    if (!winsim::WriteFile(path, step.value("text", ""), ticks))
        throw ScenarioError("cannot write " + step["path"].get<std::string>());
}

}  // namespace

void ApplyMachineStep(const std::string& text) {
    try {
        json step = json::parse(text);
        if (step.contains("publish")) return Publish(step["publish"]);
        if (step.contains("add_user")) {
            const json& user = step["add_user"];
            return winsim::AddUser({Text(user.at("name")), user.value("privilege", 1u), Text(user.at("sid"))});
        }
        if (step.contains("add_root_certificate")) return AddRootCertificate(step["add_root_certificate"]);
        if (step.contains("classic_append")) return AppendClassic(step["classic_append"]);
        if (step.contains("classic_clear")) return winsim::ClearClassicLog(Text(step["classic_clear"].at("log")));
        if (step.contains("message_module")) return AddMessageModule(step["message_module"]);
        if (step.contains("publisher")) return AddPublisher(step["publisher"]);
        if (step.contains("remove_library_export")) {
            // {"library": "Wevtapi.dll", "export": "EvtSubscribe"}; no export: the whole library.
            const json& removed = step["remove_library_export"];
            return winsim::RemoveLibraryExport(Text(removed.at("library")), removed.value("export", ""));
        }
        if (step.contains("set_policy")) return SetPolicy(step["set_policy"]);
        if (step.contains("add_group_member")) return AddGroupMember(step["add_group_member"]);
        if (step.contains("read_policy")) return ReadPolicy();
        if (step.contains("add_process")) {
            const json& process = step["add_process"];
            winsim::ProcessInfo info{process.at("id").get<uint32_t>(), Text(process.at("image")),
                                     process.value("session", 1u), vantel::FromUtf8(process.value("user", ""))};
            info.parentId = process.value("parent", 0u);
            info.startTime = process.value("start_time", uint64_t{0});
            return winsim::AddProcess(info);
        }
        if (step.contains("add_service")) {
            const json& service = step["add_service"];
            winsim::ServiceEntry entry{Text(service.at("name")), Text(service.at("display_name")),
                                       Text(service.at("command_line")), service.value("process_id", 0u)};
            entry.type = service.value("type", winsim::kServiceOwnProcess);
            return winsim::AddService(entry);
        }
        if (step.contains("add_share") || step.contains("remove_share") || step.contains("set_share")) {
            bool watched = AwaitShareWatcher();
            ChangeShares(step);
            // Its report comes before whatever the next step makes happen.
            if (watched) AwaitShareWatcher();
            return;
        }
        if (step.contains("add_task") || step.contains("remove_task") || step.contains("change_task"))
            AwaitFolderWatcher(winsim::TasksFolder());
        if (step.contains("add_task")) {
            const json& task = step["add_task"];
            if (winsim::AddTask(Text(task.at("name")), TaskWith(task, {}))) return;
            throw ScenarioError("cannot write the task " + task["name"].dump());
        }
        if (step.contains("remove_task")) {
            if (winsim::RemoveTask(Text(step["remove_task"].at("name")))) return;
            throw ScenarioError("no task " + step["remove_task"]["name"].dump());
        }
        if (step.contains("change_task")) return ChangeTask(step["change_task"]);
        if (step.contains("write_file")) return WriteFile(step["write_file"]);
        throw ScenarioError("unknown machine step: " + text);
    } catch (const json::exception& error) {
        throw ScenarioError(std::string("machine step: ") + error.what());
    }
}

}  // namespace qorexthost

namespace qorexthost {

namespace {

class SimulatedProcessInfo final : public vantel::IProcessInfoProvider {
public:
    uint32_t VANTEL_CALL ParentProcessId(uint32_t processId) override {
        auto process = Find(processId);
        return process ? process->parentId : 0;
    }
    int32_t VANTEL_CALL HostOperation1() override { return 0; }
    int32_t VANTEL_CALL HostOperation2() override { return 0; }
    int32_t VANTEL_CALL HostOperation3() override { return 0; }
    int32_t VANTEL_CALL ProcessStartTime(uint32_t processId, uint64_t* startTime) override {
        auto process = Find(processId);
        if (!process || process->startTime == 0 || startTime == nullptr) return 0;
        *startTime = process->startTime;
        return 1;
    }

private:
    static std::optional<winsim::ProcessInfo> Find(uint32_t processId) {
        try {
            for (const winsim::ProcessInfo& process : winsim::Processes())
                if (process.id == processId) return process;
        } catch (...) {
            // Nothing may unwind into the module.
        }
        return std::nullopt;
    }
};

}  // namespace

vantel::IProcessInfoProvider* MachineProcessInfo() {
    static SimulatedProcessInfo provider;
    return &provider;
}

void CheckRecordings(const std::vector<std::string>& paths) {
    for (const std::string& path : paths)
        if (!std::filesystem::exists(Utf8Path(path))) throw ScenarioError("no file or folder " + path);
}

namespace {

std::string Counted(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Why a file was read in part or not at all; empty when it was read whole.
std::string ReadProblems(const winsim::EvtxTotals& file) {
    if (file.unreadable) return "cannot be read; skipped";
    if (file.foreign) return "not an .evtx file (no file signature); skipped";
    std::string problems;
    auto add = [&](const std::string& problem) { problems += (problems.empty() ? "" : ", ") + problem; };
    if (file.truncated) add("truncated");
    if (file.badHeaders) add("bad file header");
    if (file.damagedChunks) add(Counted(file.damagedChunks, "damaged chunk", "damaged chunks") + " (bad signature or checksum)");
    if (file.skipped) add(Counted(file.skipped, "stretch", "stretches") + " without an intact record skipped");
    if (problems.empty()) return problems;
    return problems + "; " + Counted(file.records, "record", "records") + " read";
}

}  // namespace

ReplayTotals ReplayRecordings(const std::vector<std::string>& paths) {
    std::vector<std::filesystem::path> named;
    for (const std::string& path : paths) named.push_back(Utf8Path(path));
    size_t fileCount = 0;
    winsim::ForEachEvtxFile(named, [&](const std::filesystem::path&) { ++fileCount; });
    // A line every so many files, so that a long replay shows it is moving.
    constexpr uint64_t kFilesPerProgressLine = 50;
    auto progress = [&](const std::filesystem::path& file, const winsim::EvtxTotals& ofFile,
                        const winsim::EvtxTotals& sofar) {
        if (std::string problems = ReadProblems(ofFile); !problems.empty())
            std::fprintf(stderr, "qorexthost: %s: %s\n", Utf8Text(file).c_str(), problems.c_str());
        if (sofar.files % kFilesPerProgressLine == 0)
            std::fprintf(stderr, "qorexthost: replayed %llu of %zu files, %llu records\n",
                         static_cast<unsigned long long>(sofar.files), fileCount,
                         static_cast<unsigned long long>(sofar.records));
    };
    winsim::EvtxTotals totals = winsim::ReplayEvtx(named, progress);
    // Every callback has returned and the module's own thread has handed on what they committed.
    winsim::WaitForEventDelivery();
    winsim::WaitForOwnThreadsAsleep();
    return {totals.files, totals.records, totals.skipped};
}

}  // namespace qorexthost
