// Event queries as the event-log service reads them: an XPath filter over one channel ("*",
// "*[System[(EventID=1 or EventID=2)]]", "*[System[Level=2 and TimeCreated[timediff(@SystemTime)
// <= 86400000]]]") or a structured query list of <Select Path='...'>XPath</Select> elements.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "winsim/event_record.h"

namespace winsim {

// A test of the System values: a comparison, or all / any of its parts.
struct EventFilter {
    enum class Kind { All, Any, Compare } kind = Kind::All;
    std::vector<EventFilter> parts;
    enum class Op { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual } op = Op::Equal;
    uint32_t property = 0;  // a SystemProperty; kSystemTimeCreated compares the age in milliseconds
    uint64_t number = 0;

    bool Matches(const EventRecord& record, uint64_t now) const;
};

struct EventQuery {
    struct Select {
        std::u16string path;
        EventFilter filter;
    };
    std::vector<Select> selects;

    // True when a selection of the record's channel (names ignore case) takes it; now in file-time ticks.
    bool Selects(const EventRecord& record, uint64_t now) const;
};

// Reads a query list (text starting with "<") or an XPath filter over the channel path. 0, or
// 15001 when the query is malformed.
uint32_t ParseEventQuery(const std::u16string& path, const std::u16string& text, EventQuery* query);

}  // namespace winsim
