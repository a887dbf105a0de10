// One entry of the event history that answers the server's request, and the words for levels.
#pragma once
#include <cstdint>
#include <string>

namespace vantel {

// Field names as the reply spells them.
struct HistoryRecord {
    std::u16string EventCategory;  // empty when the record has none or it cannot be looked up
    uint64_t TimeGenerated = 0;    // seconds since 1970, UTC
    std::u16string SourceName;     // the classic record's source, the modern record's provider
    uint32_t EventID = 0;          // the low 16 bits of the record's identifier
    std::u16string EventType;      // a word of LevelName
    std::u16string UserName;       // "domain\name"; empty without a user or when it cannot be resolved
    std::u16string Description;    // the formatted message or a fallback
    std::u16string Channel;

    bool operator==(const HistoryRecord&) const = default;
};

// The modern records' levels (1 "Critical" to 4 "Informational") or the classic records' event
// types (1 "Error", 2 "Warning", 4 "Informational", 8 "Audit Success", 16 "Audit Failure");
// any other value is "Audit Success".
enum class LevelTable { Modern, Legacy };
const char16_t* LevelName(LevelTable table, uint32_t value);

}  // namespace vantel
