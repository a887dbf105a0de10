// winsim's channel file: a ring of the channel's maximum size that must give back the newest
// records whole, wherever they lie in it.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "winsim/channel_file.h"

namespace vantel {
namespace {

using winsim::ChannelFile;
using winsim::EventRecord;
using winsim::EventValue;

// Records of sizes that differ, so that they end at every place in the file.
EventRecord Numbered(uint64_t id, size_t padding = 0) {
    EventRecord record(u"Security", u"Provider", 4624);
    record.RecordId(id).Values({EventValue::String(std::u16string(id % 13 * 40 + padding, u'a' + id % 26)),
                                EventValue::Array(evt::kTypeUInt32, {EventValue::UInt32(id), EventValue::UInt32(~id)})});
    record.Xml(u"<Event>" + std::u16string(id % 5 * 30, u'x') + u"</Event>");
    return record;
}

// The ids a reader finds, each checked to read back as it was logged.
std::vector<uint64_t> Read(winsim::ChannelReader reader) {
    std::vector<uint64_t> ids;
    uint64_t sequence = 0;
    while (std::shared_ptr<const EventRecord> record = reader.Next(&sequence)) {
        uint64_t id = record->system[evt::kSystemEventRecordId].number;
        EventRecord logged = Numbered(id, record->user.at(0).text.size() - id % 13 * 40);
        EXPECT_EQ(sequence, id * 10);
        EXPECT_EQ(record->xml, logged.xml);
        EXPECT_EQ(record->user.at(0).text, logged.user[0].text);
        EXPECT_EQ(record->user.at(1).items.at(1).number, ~id & 0xFFFFFFFFu);
        ids.push_back(id);
    }
    return ids;
}

// The ids kept, oldest first.
std::vector<uint64_t> Kept(const std::shared_ptr<ChannelFile>& file) { return Read({file, false}); }

// The newest records whose stored sizes fit the maximum, oldest first.
std::vector<uint64_t> Newest(uint64_t last, uint64_t maximum) {
    std::vector<uint64_t> ids;
    uint64_t bytes = 0;
    for (uint64_t id = last; id >= 1; --id) {
        bytes += winsim::StoredSize(Numbered(id));
        if (bytes > maximum && !ids.empty()) break;
        ids.insert(ids.begin(), id);
    }
    return ids;
}

TEST(ChannelFile, KeepsTheNewestRecordsWholeAsItWrapsGrowsAndShrinks) {
    constexpr uint64_t kMaximum = 8 * 1024;
    auto file = std::make_shared<ChannelFile>(kMaximum);
    uint64_t id = 1;
    for (; id <= 150; ++id) {
        file->Append(id * 10, Numbered(id));
        if (id % 7 == 0) {
            ASSERT_EQ(Kept(file), Newest(id, kMaximum)) << "after record " << id;
        }
    }
    --id;
    std::vector<uint64_t> newestFirst = Newest(id, kMaximum);
    std::reverse(newestFirst.begin(), newestFirst.end());
    EXPECT_EQ(Read({file, true}), newestFirst);

    file->SetMaximum(3 * kMaximum);  // the records kept move to their places in the larger file
    EXPECT_EQ(Kept(file), Newest(id, kMaximum));
    for (uint64_t more = 0; more < 100; ++more, ++id) file->Append((id + 1) * 10, Numbered(id + 1));
    EXPECT_EQ(Kept(file), Newest(id, 3 * kMaximum));

    file->SetMaximum(kMaximum / 2);
    EXPECT_EQ(Kept(file), Newest(id, kMaximum / 2));
}

// A query's reading notes where the records lie and reads them later: what has been written over
// by then is passed over, what is still whole reads back as it was.
TEST(ChannelFile, AReaderPassesOverWhatWasWrittenOverSinceItWasMade) {
    constexpr uint64_t kMaximum = 8 * 1024;
    auto file = std::make_shared<ChannelFile>(kMaximum);
    uint64_t id = 1;
    for (; id <= 40; ++id) file->Append(id * 10, Numbered(id));
    std::vector<uint64_t> before = Kept(file);
    winsim::ChannelReader oldestFirst(file, false), newestFirst(file, true);
    for (int more = 0; more < 4; ++more, ++id) file->Append(id * 10, Numbered(id));
    std::vector<uint64_t> after = Kept(file);
    std::vector<uint64_t> whole;  // of the records kept before, those the file still holds
    std::set_intersection(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(whole));
    ASSERT_LT(whole.size(), before.size());
    ASSERT_FALSE(whole.empty());
    // A record dropped but not yet written over may still be read: at least the whole ones are.
    std::vector<uint64_t> read = Read(std::move(oldestFirst));
    EXPECT_TRUE(std::includes(read.begin(), read.end(), whole.begin(), whole.end()));
    EXPECT_TRUE(std::includes(before.begin(), before.end(), read.begin(), read.end()));
    std::vector<uint64_t> backwards = Read(std::move(newestFirst));
    std::reverse(backwards.begin(), backwards.end());
    EXPECT_EQ(backwards, read);
}

TEST(ChannelFile, ARecordLargerThanTheMaximumStaysAloneUntilTheNext) {
    auto file = std::make_shared<ChannelFile>(4096);
    for (uint64_t id = 1; id <= 20; ++id) file->Append(id * 10, Numbered(id));
    file->Append(210, Numbered(21, 5000));
    EXPECT_EQ(Kept(file), std::vector<uint64_t>{21});
    file->Append(220, Numbered(22));
    file->Append(230, Numbered(23));
    EXPECT_EQ(Kept(file), (std::vector<uint64_t>{22, 23}));
}

}  // namespace
}  // namespace vantel
