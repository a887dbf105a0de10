// Classic event-log records as the system hands them over: any bytes must parse or be refused,
// never read outside the buffer, and what parses must lay out again the same way. The same
// bytes taken as a whole batch become history entries, their texts formatted from a message
// file with as many inserts as the record carries.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "eventlog/event_values.h"
#include "monitors/history_readers.h"
#include "winsim/message_modules.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The message file of the records whose source is "Security", by the default path.
    winsim::AddMessageModule(u"C:\\windows\\system32\\Security.dll",
                             {{528, u"%1 %2!s! %3 %99 %%4 %n%0"}, {0x40000210, u"%5"}, {1, u"category %1"}});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the given size, so that reading one byte beyond it is caught.
    std::vector<uint8_t> bytes(data, data + size);
    vantel::EventLogApi noModernApi;
    vantel::MessageSources sources(noModernApi, vantel::MessageSources::Caching::PerRefresh);
    std::vector<vantel::HistoryRecord> history;
    size_t walked = 0;
    vantel::ForEachLegacyRecord(bytes, [&](const vantel::LegacyEventRecord&) { return ++walked, true; });
    if (vantel::CollectLegacyRecords(bytes, u"Security", 0, false, sources, &history) != walked) __builtin_trap();

    auto record = vantel::LegacyEventRecord::Parse(bytes.data(), bytes.size());
    if (!record) return 0;
    for (size_t i = 0; i < 6; ++i) (void)record->String(i);
    std::vector<uint8_t> again = record->Serialize();
    auto reparsed = vantel::LegacyEventRecord::Parse(again.data(), again.size());
    if (!reparsed || reparsed->strings != record->strings || reparsed->eventId != record->eventId) __builtin_trap();
    return 0;
}
