// docs/events.md against what the module sends: the recordings and every example scenario run
// through the reference host, and each named event checked against the document's tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "command_output.h"
#include "evtx_corpus.h"

namespace vantel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A source is a modern record's event id ("4624") or any other name ("classic 528", "share
// monitor"); only the former carries event_id.
bool IsEventId(const std::string& source) {
    return !source.empty() && std::all_of(source.begin(), source.end(), [](char c) { return c >= '0' && c <= '9'; });
}

struct DocumentedEvent {
    std::vector<std::string> sources;                             // the "from" table, in order
    std::map<std::string, std::map<std::string, bool>> carriers;  // field -> source -> only sometimes
    std::vector<std::string> glance;                              // the sources the overview names
};

std::string Trimmed(const std::string& text) {
    size_t begin = text.find_first_not_of(' '), end = text.find_last_not_of(' ');
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

std::string Unquoted(std::string text) {
    text = Trimmed(text);
    if (text.size() >= 2 && text.front() == '`' && text.back() == '`') return text.substr(1, text.size() - 2);
    return text;
}

// The cells of a table row; "\|" is a pipe inside a cell.
std::vector<std::string> Cells(const std::string& row) {
    std::vector<std::string> cells(1);
    for (size_t i = 1; i < row.size(); ++i) {
        if (row[i] == '\\' && i + 1 < row.size() && row[i + 1] == '|') {
            cells.back() += '|';
            ++i;
        } else if (row[i] == '|') {
            cells.emplace_back();
        } else {
            cells.back() += row[i];
        }
    }
    cells.pop_back();  // after the closing pipe
    for (std::string& cell : cells) cell = Trimmed(cell);
    return cells;
}

// "7036 (when ...), classic 7036 (when ...)": the sources, each with whether it is conditional.
std::map<std::string, bool> CarriersIn(const std::string& cell, const std::vector<std::string>& all) {
    std::map<std::string, bool> carriers;
    if (cell == "all") {
        for (const std::string& source : all) carriers[source] = false;
        return carriers;
    }
    std::string entry;
    int depth = 0;
    for (char c : cell + ",") {
        depth += c == '(' ? 1 : c == ')' ? -1 : 0;
        if (c != ',' || depth > 0) {
            entry += c;
            continue;
        }
        size_t condition = entry.find('(');
        carriers[Trimmed(entry.substr(0, condition))] = condition != std::string::npos;
        entry.clear();
    }
    return carriers;
}

std::vector<std::string> SourcesIn(const std::string& cell) {
    std::vector<std::string> sources;
    std::istringstream list(cell);
    for (std::string source; std::getline(list, source, ',');) sources.push_back(Trimmed(source));
    return sources;
}

// Event sections are "### `Name`"; in each, the table headed "from" lists its sources and the one
// headed "field" its fields. The overview table headed "event" names every event's sources.
std::map<std::string, DocumentedEvent> ReadDocument(const fs::path& file) {
    std::map<std::string, DocumentedEvent> events;
    std::ifstream stream(file);
    std::string line, event;
    std::vector<std::string> header;
    while (std::getline(stream, line)) {
        if (line.starts_with("#")) {
            header.clear();
            std::string title = Trimmed(line.substr(line.find(' ') + 1));
            bool single = line.starts_with("### `") && title.find('`', 1) == title.size() - 1;
            event = single ? Unquoted(title) : std::string();
            if (single) events[event];
            continue;
        }
        if (!line.starts_with("|")) {
            header.clear();
            continue;
        }
        std::vector<std::string> cells = Cells(line);
        if (header.empty()) {
            header = cells;
            continue;
        }
        if (cells.empty() || cells[0].starts_with("---")) continue;
        if (header[0] == "event") {
            events[Unquoted(cells[0])].glance = SourcesIn(cells.at(1));
        } else if (header[0] == "from" && !event.empty()) {
            events[event].sources.push_back(Unquoted(cells[0]));
        } else if (header[0] == "field" && !event.empty()) {
            size_t from = std::find(header.begin(), header.end(), "from") - header.begin();
            DocumentedEvent& documented = events[event];
            documented.carriers[Unquoted(cells[0])] = CarriersIn(cells.at(from), documented.sources);
        }
    }
    return events;
}

// The named events of one run of the host, as name and fields.
std::vector<json> EventsOf(const std::string& options) {
    testing::CommandResult run = testing::RunCommand(VANTEL_AGENT_DIR "/bin/qorexthost " + options + " 2>/dev/null");
    EXPECT_EQ(run.exitCode, 0) << options;
    std::vector<json> events;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        json parsed = json::parse(line);
        if (parsed["type"] == "event") events.push_back(parsed);
    }
    return events;
}

std::string Joined(const std::set<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

TEST(EventsDocument, ListsExactlyTheEventsAndFieldsTheModuleSends) {
    std::map<std::string, DocumentedEvent> documented = ReadDocument(VANTEL_SOURCE_DIR "/docs/events.md");
    ASSERT_GT(documented.size(), 30u);
    for (const auto& [name, event] : documented) {
        EXPECT_FALSE(event.sources.empty()) << name << " has no section, or its section no \"from\" table";
        EXPECT_FALSE(event.carriers.empty()) << name << " lists no field";
        EXPECT_EQ(event.glance, event.sources) << "the overview and the section of " << name << " name other sources";
        for (const auto& [field, carriers] : event.carriers)
            for (const auto& [source, sometimes] : carriers)
                EXPECT_NE(std::find(event.sources.begin(), event.sources.end(), source), event.sources.end())
                    << name << "." << field << " names a source its event does not list: " << source;
    }

    std::vector<std::string> runs;
    if (!testing::EvtxCorpus().empty()) runs.push_back("--evtx '" + testing::EvtxCorpusFolder().string() + "'");
    for (const auto& entry : fs::directory_iterator(VANTEL_SOURCE_DIR "/examples"))
        if (entry.path().extension() == ".json") runs.push_back("--scenario '" + entry.path().string() + "'");

    std::set<std::string> produced;  // "name from source", and "name from source: field"
    for (const std::string& run : runs) {
        std::vector<json> events = EventsOf(run);
        EXPECT_FALSE(events.empty()) << run;
        for (const json& line : events) {
            std::string name = line["name"];
            auto event = documented.find(name);
            if (event == documented.end()) {
                ADD_FAILURE() << "not in the document: " << line.dump();
                continue;
            }
            std::set<std::string> fields;
            for (const auto& [field, value] : line["fields"].items()) fields.insert(field);
            // An event matches a source when it carries every field the source always gives and no
            // field the source never gives.
            std::set<std::string> matched;
            for (const std::string& source : event->second.sources) {
                if (IsEventId(source) != fields.contains("event_id")) continue;
                if (IsEventId(source) && line["fields"]["event_id"] != source) continue;
                const auto& carriers = event->second.carriers;
                bool fits = std::all_of(fields.begin(), fields.end(), [&](const std::string& field) {
                    auto carried = carriers.find(field);
                    return carried != carriers.end() && carried->second.contains(source);
                });
                for (const auto& [field, sources] : carriers) {
                    auto carrier = sources.find(source);
                    if (carrier != sources.end() && !carrier->second && !fields.contains(field)) fits = false;
                }
                if (fits) matched.insert(source);
            }
            if (matched.empty()) {
                ADD_FAILURE() << "fits none of the sources the document gives " << name << ": " << line.dump();
                continue;
            }
            for (const std::string& source : matched) {
                produced.insert(name + " from " + source);
                for (const std::string& field : fields) produced.insert(name + " from " + source + ": " + field);
            }
        }
    }

    // Every field listed for a source the runs produce must have been carried from it.
    std::set<std::string> unproduced;
    for (const auto& [name, event] : documented) {
        for (const std::string& source : event.sources) {
            if (!produced.contains(name + " from " + source)) {
                unproduced.insert(name + " from " + source);
                continue;
            }
            for (const auto& [field, carriers] : event.carriers) {
                if (carriers.contains(source)) {
                    EXPECT_TRUE(produced.contains(name + " from " + source + ": " + field))
                        << "the document lists " << field << " for " << name << " from " << source
                        << ", but no such event carried it";
                }
            }
        }
    }
    // What no run can produce yet is said, not hidden.
    if (!unproduced.empty()) std::cout << "documented, but produced by no run: " << Joined(unproduced) << "\n";
}

}  // namespace
}  // namespace vantel
