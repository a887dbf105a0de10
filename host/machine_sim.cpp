// Scenario steps that change the simulated machine.
#include <nlohmann/json.hpp>

#include "common/text.h"
#include "host/scenario.h"
#include "host/system.h"
#include "winsim/accounts.h"
#include "winsim/eventlog.h"

namespace qorexthost {

namespace {

using nlohmann::json;
using winsim::EventValue;

// 2021-01-01 00:00:00 UTC: records of a scenario carry fixed times, so runs repeat exactly.
constexpr uint64_t kDefaultTicks = 132539328000000000ull;

std::u16string Text(const json& value) { return vantel::FromUtf8(value.get<std::string>()); }

// ["String", "alice"], ["UInt32", 10], ["Sid", "S-1-5-18"], ["HexInt64", 255], ["Null"].
EventValue ValueOf(const json& cell) {
    if (!cell.is_array() || cell.empty()) throw ScenarioError("a value is [type, value]: " + cell.dump());
    std::string type = cell[0].get<std::string>();
    if (type == "Null") return EventValue::Null();
    const json& value = cell.at(1);
    if (type == "String") return EventValue::String(Text(value));
    if (type == "Sid") return EventValue::Sid(winsim::SidFromText(Text(value)));
    if (type == "Boolean") return EventValue::Boolean(value.get<bool>());
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
    std::vector<EventValue> values;
    for (const json& cell : event.value("values", json::array())) values.push_back(ValueOf(cell));
    record.Values(std::move(values));
    if (winsim::PublishEvent(std::move(record)) == 0)
        throw ScenarioError("no channel \"" + event["channel"].get<std::string>() + "\"");
    winsim::WaitForEventDelivery();
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
        throw ScenarioError("unknown machine step: " + text);
    } catch (const json::exception& error) {
        throw ScenarioError(std::string("machine step: ") + error.what());
    }
}

}  // namespace qorexthost
