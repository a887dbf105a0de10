// The .evtx reader against an independent one (evtxexport) over every real recording, on the
// damaged ones, and on damage of our own making.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <tuple>

#include <unistd.h>

#include "common/text.h"
#include "evtx_corpus.h"

namespace vantel {
namespace {

using testing::EvtxCorpus;

struct Exported {
    std::string eventId, channel;
    std::vector<std::string> values;
};

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// One form for both readers: entities undone, hex without leading zeros, fractions of a second
// without trailing zeros, no case, no surrounding blanks.
std::string Normalised(std::string text) {
    static const std::pair<const char*, const char*> kEntities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
    for (const auto& [entity, c] : kEntities)
        for (size_t at; (at = text.find(entity)) != std::string::npos;) text.replace(at, std::strlen(entity), c);
    std::erase(text, '\r');  // evtxexport writes line ends as bare line feeds
    text = Lowered(text);
    static const std::regex kHex("^0x0*([0-9a-f]+)$"), kTime("^(\\d{4}-\\d\\d-\\d\\dt[\\d:]+)(\\.\\d*?)0*z$");
    text = std::regex_replace(text, kHex, "0x$1");
    text = std::regex_replace(text, kTime, "$1$2z");
    if (text.ends_with(".z")) text.erase(text.size() - 2, 1);  // a fraction of nothing is no fraction
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    text.erase(0, std::min(text.size(), text.find_first_not_of(" \t\n")));
    return text;
}

// An element of evtxexport's XML: where its content lies.
struct Span {
    std::string name;
    size_t contentBegin = 0, contentEnd = 0, end = std::string::npos;  // end: just past the element
};

// The element opening at or after `from`, up to its own closing tag (markup inside it, which
// evtxexport prints unescaped, nests).
Span ElementAt(const std::string& xml, size_t from) {
    Span span;
    size_t open = xml.find('<', from);
    // None left here: the end of the text, or a closing tag, declaration or comment.
    if (open == std::string::npos || xml[open + 1] == '/' || xml[open + 1] == '?' || xml[open + 1] == '!') return span;
    size_t nameEnd = xml.find_first_of(" \t\n/>", open + 1);
    size_t close = xml.find('>', open);
    if (nameEnd == std::string::npos || close == std::string::npos) return span;
    span.name = xml.substr(open + 1, nameEnd - open - 1);
    span.contentBegin = span.contentEnd = close + 1;
    if (xml[close - 1] == '/') {
        span.end = close + 1;
        return span;
    }
    int depth = 1;
    for (size_t at = close + 1; (at = xml.find(span.name, at)) != std::string::npos; at += span.name.size()) {
        size_t after = at + span.name.size();
        bool opening = xml[at - 1] == '<' && (xml[after] == '>' || xml[after] == ' ');
        bool closing = at >= 2 && xml.compare(at - 2, 2, "</") == 0 && xml[after] == '>';
        depth += opening ? 1 : closing ? -1 : 0;
        if (depth == 0) {
            span.contentEnd = at - 2;
            span.end = after + 1;
            return span;
        }
    }
    return {};
}

// The normalised contents of the child elements within [begin, end); only those named so when a
// name is given.
std::vector<std::string> Contents(const std::string& xml, size_t begin, size_t end, const std::string& only = {}) {
    std::vector<std::string> values;
    for (Span child = ElementAt(xml, begin); child.end != std::string::npos && child.end <= end;
         child = ElementAt(xml, child.end))
        if (only.empty() || child.name == only)
            values.push_back(Normalised(xml.substr(child.contentBegin, child.contentEnd - child.contentBegin)));
    return values;
}

// The records evtxexport prints for a file, by record id.
std::multimap<std::string, Exported> Export(const std::filesystem::path& file) {
    std::string command = "evtxexport -f xml '" + file.string() + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
    static const std::regex kId("<EventID[^>]*>(\\d+)</EventID>"), kRecordId("<EventRecordID>(\\d+)<"),
        kChannel("<Channel>([^<]*)</Channel>");
    std::multimap<std::string, Exported> records;
    for (size_t begin = 0; (begin = out.find("<Event ", begin)) != std::string::npos;) {
        size_t end = out.find("</Event>", begin);
        if (end == std::string::npos) break;
        std::string event = out.substr(begin, end - begin);
        begin = end;
        std::smatch match;
        Exported record;
        if (std::regex_search(event, match, kId)) record.eventId = match[1];
        if (std::regex_search(event, match, kChannel)) record.channel = match[1];
        std::string recordId = std::regex_search(event, match, kRecordId) ? match[1].str() : "";
        Span data = ElementAt(event, event.find("</System>") + 9);
        if (data.name == "EventData") {
            record.values = Contents(event, data.contentBegin, data.contentEnd, "Data");  // not the legacy Binary
        } else if (data.name == "UserData") {
            Span inner = ElementAt(event, data.contentBegin);  // UserData's one element
            if (inner.end != std::string::npos) record.values = Contents(event, inner.contentBegin, inner.contentEnd);
        }
        records.emplace(recordId, std::move(record));
    }
    return records;
}

bool HaveEvtxExport() { return std::system("command -v evtxexport >/dev/null 2>&1") == 0; }

// Our values as the XML carries them, normalised as evtxexport's are: an array as one element per item.
std::vector<std::string> Printed(const std::vector<winsim::EventValue>& values) {
    std::vector<std::string> printed;
    auto print = [&](const winsim::EventValue& value) {
        std::u16string xml;
        winsim::AppendXmlText(xml, value);
        printed.push_back(Normalised(ToUtf8(xml)));
    };
    for (const winsim::EventValue& value : values) {
        if (!winsim::IsArray(value)) print(value);
        for (const winsim::EventValue& item : value.items) print(item);
    }
    return printed;
}

// Equal, where an element of ours without a value (it holds elements) may be printed as its markup.
bool SameValues(const std::vector<std::string>& ours, const std::vector<std::string>& theirs) {
    return ours.size() == theirs.size() &&
           std::equal(ours.begin(), ours.end(), theirs.begin(), [](const std::string& mine, const std::string& other) {
               return mine == other || (mine.empty() && other.starts_with('<'));
           });
}

TEST(EvtxReader, AgreesWithEvtxexportOnEveryRecording) {
    auto files = EvtxCorpus();
    SKIP_WITHOUT_EVTX_CORPUS(files);
    if (!HaveEvtxExport()) GTEST_SKIP() << "evtxexport is not installed (Debian package libevtx-utils)";
    uint64_t compared = 0;
    for (const std::filesystem::path& file : files) {
        SCOPED_TRACE(file.string());
        std::multimap<std::string, Exported> theirs = Export(file);
        std::multimap<std::string, Exported> ours;
        winsim::EvtxTotals totals = winsim::ReadEvtxFile(file, [&](winsim::EventRecord&& record) {
            Exported mine{ToUtf8(winsim::ValueText(record.system[evt::kSystemEventID])), ToUtf8(record.channel),
                          Printed(record.user)};
            ours.emplace(ToUtf8(winsim::ValueText(record.system[evt::kSystemEventRecordId])), std::move(mine));
        });
        EXPECT_GE(totals.records, theirs.size());
        EXPECT_EQ(totals.records, ours.size());
        for (const auto& [recordId, exported] : theirs) {
            auto [first, last] = ours.equal_range(recordId);
            auto same = std::find_if(first, last, [&](const auto& entry) {
                return entry.second.eventId == exported.eventId && entry.second.channel == exported.channel &&
                       SameValues(entry.second.values, exported.values);
            });
            if (same == last) {
                ADD_FAILURE() << "record " << recordId << " (event " << exported.eventId << ") differs: theirs "
                              << ::testing::PrintToString(exported.values) << ", ours "
                              << (first == last ? "none" : ::testing::PrintToString(first->second.values));
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, 20000u);
}

// The files other parsers stop on, with what a careful read recovers from each.
TEST(EvtxReader, RecoversTheIntactRecordsOfDamagedFiles) {
    auto files = EvtxCorpus();
    SKIP_WITHOUT_EVTX_CORPUS(files);
    struct Expected {
        const char* name;
        uint64_t records;
        bool damaged;
    };
    const Expected expected[] = {{"sample_with_a_bad_chunk_magic.evtx", 298, true},
                                 {"Application_no_crc32.evtx", 17, true},
                                 {"sample-with-zero-data-size-event.evtx", 449, true},
                                 {"MSExchange_Management_wec.evtx", 1, false},
                                 {"issue_201.evtx", 1, false}};
    for (const Expected& want : expected) {
        auto file = std::find_if(files.begin(), files.end(), [&](const auto& path) { return path.filename() == want.name; });
        ASSERT_NE(file, files.end()) << want.name;
        winsim::EvtxTotals totals = winsim::ReadEvtxFile(*file, [](winsim::EventRecord&&) {});
        EXPECT_EQ(totals.records, want.records) << want.name;
        EXPECT_EQ(totals.damagedChunks > 0, want.damaged) << want.name;
    }
}

std::vector<uint8_t> Bytes(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

// Truncation at any point and flipped bytes anywhere: no crash, and the chunks untouched by the
// damage still give all their records.
TEST(EvtxReader, SurvivesTruncationAndFlippedBytes) {
    auto files = EvtxCorpus();
    SKIP_WITHOUT_EVTX_CORPUS(files);
    auto file = std::find_if(files.begin(), files.end(), [](const auto& path) { return path.filename() == "system.evtx"; });
    ASSERT_NE(file, files.end());
    std::vector<uint8_t> image = Bytes(*file);
    auto read = [](std::span<const uint8_t> bytes) { return winsim::ReadEvtx(bytes, [](winsim::EventRecord&&) {}); };
    winsim::EvtxTotals intact = read(image);
    uint64_t whole = intact.records;
    ASSERT_EQ(whole, 1881u);
    EXPECT_EQ(intact.truncated + intact.badHeaders + intact.foreign, 0u);

    constexpr size_t kChunk = 65536, kFirstChunk = 4096;
    for (size_t length : {size_t{0}, size_t{7}, kFirstChunk, kFirstChunk + 600, kFirstChunk + kChunk + 12345}) {
        winsim::EvtxTotals cut = read(std::span(image).first(length));
        EXPECT_LE(cut.records, whole);
        // Cut inside the signature it is no recording; after it, one its header counts more chunks for.
        EXPECT_EQ(cut.foreign + cut.truncated, 1u) << length;
    }
    uint64_t oneChunk = read(std::span(image).first(kFirstChunk + kChunk)).records;
    EXPECT_GT(oneChunk, 0u);
    EXPECT_GT(read(std::span(image).first(kFirstChunk + 2 * kChunk)).records, oneChunk);

    std::mt19937 random(5);
    for (int round = 0; round < 40; ++round) {
        std::vector<uint8_t> damaged = image;
        size_t chunkStart = kFirstChunk + kChunk * (random() % ((image.size() - kFirstChunk) / kChunk));
        for (int flips = 0; flips < 8; ++flips) damaged[chunkStart + random() % kChunk] ^= 1 << (random() % 8);
        winsim::EvtxTotals totals = read(damaged);
        // One chunk's records at most are lost; the flips may also pass unnoticed in free space.
        EXPECT_GE(totals.records + 200, whole);
    }
}


// Unused chunks copied as holes read as the zeros they stand for, the file header's block too.
TEST(EvtxReader, ReadsSparseFilesAsTheirBytes) {
    auto files = EvtxCorpus();
    SKIP_WITHOUT_EVTX_CORPUS(files);
    auto file = std::find_if(files.begin(), files.end(), [](const auto& path) { return path.filename() == "system.evtx"; });
    ASSERT_NE(file, files.end());
    constexpr size_t kChunk = 65536, kFirstChunk = 4096;
    std::vector<uint8_t> image = Bytes(*file);
    ASSERT_GT(image.size(), kFirstChunk + 3 * kChunk);
    auto sparse = std::filesystem::temp_directory_path() / ("sparse_" + std::to_string(::getpid()) + ".evtx");
    auto counts = [](const winsim::EvtxTotals& t) {
        return std::tuple(t.records, t.skipped, t.damagedChunks, t.unreadable, t.foreign, t.truncated);
    };
    auto readBoth = [&](const std::vector<uint8_t>& bytes) {
        std::vector<std::u16string> fromFile, fromImage;
        auto ofFile = winsim::ReadEvtxFile(sparse, [&](winsim::EventRecord&& record) { fromFile.push_back(record.xml); });
        auto ofImage = winsim::ReadEvtx(bytes, [&](winsim::EventRecord&& record) { fromImage.push_back(record.xml); });
        EXPECT_EQ(fromFile, fromImage);
        EXPECT_EQ(counts(ofFile), counts(ofImage));
        return ofFile;
    };

    // The second chunk a hole, and a hole of one more chunk at the end.
    {
        const char* bytes = reinterpret_cast<const char*>(image.data());
        std::ofstream out(sparse, std::ios::binary | std::ios::trunc);
        out.write(bytes, kFirstChunk + kChunk);
        out.seekp(kFirstChunk + 2 * kChunk);
        out.write(bytes + kFirstChunk + 2 * kChunk, static_cast<std::streamsize>(image.size() - kFirstChunk - 2 * kChunk));
    }
    std::filesystem::resize_file(sparse, image.size() + kChunk);
    std::vector<uint8_t> expected = image;
    std::fill_n(expected.begin() + kFirstChunk + kChunk, kChunk, 0);
    expected.resize(image.size() + kChunk);
    EXPECT_GT(readBoth(expected).records, 0u);

    // Nothing but a hole: no recording, though a readable file.
    std::filesystem::resize_file(sparse, 0);
    std::filesystem::resize_file(sparse, kFirstChunk + kChunk);
    EXPECT_EQ(readBoth(std::vector<uint8_t>(kFirstChunk + kChunk)).foreign, 1u);
    std::filesystem::remove(sparse);
}

}  // namespace
}  // namespace vantel
