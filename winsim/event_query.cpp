#include "winsim/event_query.h"

#include <cstdint>
#include <map>
#include <string_view>

#include "common/text.h"

namespace winsim {

using namespace vantel::evt;

namespace {

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

bool IsNameChar(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' ||
           c == u'-' || c == u'.' || c == u':' || c == u'@';
}

// Reads tokens off a text; every Take skips the blanks in front of what it takes.
class Reader {
public:
    explicit Reader(std::u16string_view text) : text_(text) {}

    bool AtEnd() {
        SkipSpace();
        return pos_ == text_.size();
    }
    bool Take(std::u16string_view literal) {
        SkipSpace();
        if (text_.substr(pos_, literal.size()) != literal) return false;
        pos_ += literal.size();
        return true;
    }
    // A keyword is a whole name: "or" is not the start of "order".
    bool TakeWord(std::u16string_view word) {
        size_t start = pos_;
        if (Take(word) && (pos_ == text_.size() || !IsNameChar(text_[pos_]))) return true;
        pos_ = start;
        return false;
    }
    std::u16string_view Name() {
        SkipSpace();
        size_t start = pos_;
        while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
        return text_.substr(start, pos_ - start);
    }
    bool Number(uint64_t* value) {
        SkipSpace();
        size_t start = pos_;
        *value = 0;
        for (; pos_ < text_.size() && text_[pos_] >= u'0' && text_[pos_] <= u'9'; ++pos_) {
            unsigned digit = text_[pos_] - u'0';
            if (*value > (UINT64_MAX - digit) / 10) return false;
            *value = *value * 10 + digit;
        }
        return pos_ > start;
    }
    // The raw text up to the delimiter, which must come; the delimiter stays.
    bool Until(char16_t delimiter, std::u16string_view* text) {
        size_t end = text_.find(delimiter, pos_);
        if (end == std::u16string_view::npos) return false;
        *text = text_.substr(pos_, end - pos_);
        pos_ = end;
        return true;
    }
    bool TakeOneOf(std::u16string_view chars, char16_t* taken) {
        SkipSpace();
        if (pos_ == text_.size() || chars.find(text_[pos_]) == std::u16string_view::npos) return false;
        *taken = text_[pos_++];
        return true;
    }

private:
    void SkipSpace() {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    }

    std::u16string_view text_;
    size_t pos_ = 0;
};

// The XPath subset: "*" alone or "*[System[condition]]", conditions joined by "and" and "or".
class XPathParser {
public:
    explicit XPathParser(std::u16string_view text) : reader_(text) {}

    bool Parse(EventFilter* filter) {
        if (!reader_.Take(u"*")) return false;
        if (reader_.AtEnd()) {
            *filter = {};
            return true;
        }
        return reader_.Take(u"[") && reader_.TakeWord(u"System") && reader_.Take(u"[") && Or(filter) &&
               reader_.Take(u"]") && reader_.Take(u"]") && reader_.AtEnd();
    }

private:
    bool Or(EventFilter* filter) { return Join(EventFilter::Kind::Any, u"or", &XPathParser::And, filter); }
    bool And(EventFilter* filter) { return Join(EventFilter::Kind::All, u"and", &XPathParser::Primary, filter); }

    bool Join(EventFilter::Kind kind, std::u16string_view word, bool (XPathParser::*part)(EventFilter*),
              EventFilter* filter) {
        EventFilter first;
        if (!(this->*part)(&first)) return false;
        if (!reader_.TakeWord(word)) {
            *filter = std::move(first);
            return true;
        }
        *filter = {};
        filter->kind = kind;
        filter->parts.push_back(std::move(first));
        do {
            if (!(this->*part)(&filter->parts.emplace_back())) return false;
        } while (reader_.TakeWord(word));
        return true;
    }

    bool Primary(EventFilter* filter) {
        if (reader_.Take(u"(")) return Or(filter) && reader_.Take(u")");
        static const auto* const kProperties = new std::map<std::u16string_view, SystemProperty>{
            {u"EventID", kSystemEventID},       {u"Level", kSystemLevel},     {u"Task", kSystemTask},
            {u"Opcode", kSystemOpcode},         {u"Version", kSystemVersion},
            {u"EventRecordID", kSystemEventRecordId}};
        std::u16string_view name = reader_.Name();
        *filter = {};
        filter->kind = EventFilter::Kind::Compare;
        if (name == u"TimeCreated") {
            filter->property = kSystemTimeCreated;
            return reader_.Take(u"[") && reader_.TakeWord(u"timediff") && reader_.Take(u"(") &&
                   reader_.Take(u"@SystemTime") && reader_.Take(u")") && Comparison(filter) && reader_.Take(u"]");
        }
        auto found = kProperties->find(name);
        if (found == kProperties->end()) return false;
        filter->property = found->second;
        return Comparison(filter);
    }

    bool Comparison(EventFilter* filter) {
        using Op = EventFilter::Op;
        // Two-character operators first: "<=" is not "<" followed by "=".
        static const std::pair<std::u16string_view, Op> kOps[] = {
            {u"!=", Op::NotEqual}, {u"<=", Op::LessEqual}, {u">=", Op::GreaterEqual},
            {u"=", Op::Equal},     {u"<", Op::Less},       {u">", Op::Greater}};
        for (const auto& [text, op] : kOps) {
            if (reader_.Take(text)) {
                filter->op = op;
                return reader_.Number(&filter->number);
            }
        }
        return false;
    }

    Reader reader_;
};

// Replaces the five predefined XML entities; false on any other reference.
bool DecodeXmlText(std::u16string_view raw, std::u16string* text) {
    static const std::pair<std::u16string_view, char16_t> kEntities[] = {
        {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&amp;", u'&'}, {u"&quot;", u'"'}, {u"&apos;", u'\''}};
    text->clear();
    while (!raw.empty()) {
        if (raw[0] != u'&') {
            *text += raw[0];
            raw.remove_prefix(1);
            continue;
        }
        bool known = false;
        for (const auto& [entity, c] : kEntities) {
            if (raw.starts_with(entity)) {
                *text += c;
                raw.remove_prefix(entity.size());
                known = true;
                break;
            }
        }
        if (!known) return false;
    }
    return true;
}

// The attributes of an element up to its ">", quoted with ' or ".
bool ReadAttributes(Reader& reader, std::map<std::u16string, std::u16string>* attributes) {
    attributes->clear();
    while (!reader.Take(u">")) {
        std::u16string name(reader.Name());
        char16_t quote = 0;
        std::u16string_view raw;
        if (name.empty() || !reader.Take(u"=") || !reader.TakeOneOf(u"'\"", &quote) || !reader.Until(quote, &raw) ||
            !reader.Take(std::u16string_view(&quote, 1)) || !DecodeXmlText(raw, &(*attributes)[name]))
            return false;
    }
    return true;
}

bool ParseXPath(std::u16string_view text, EventFilter* filter) { return XPathParser(text).Parse(filter); }

// <QueryList><Query [Path='...']><Select [Path='...']>XPath</Select>...</Query>...</QueryList>
bool ParseQueryList(std::u16string_view text, EventQuery* query) {
    Reader reader(text);
    std::map<std::u16string, std::u16string> attributes;
    if (!reader.Take(u"<QueryList") || !ReadAttributes(reader, &attributes)) return false;
    do {
        if (!reader.Take(u"<Query") || !ReadAttributes(reader, &attributes)) return false;
        std::u16string queryPath = attributes[u"Path"];
        while (reader.Take(u"<Select")) {
            EventQuery::Select select;
            std::u16string_view raw;
            std::u16string xpath;
            if (!ReadAttributes(reader, &attributes) || !reader.Until(u'<', &raw) || !reader.Take(u"</Select>") ||
                !DecodeXmlText(raw, &xpath) || !ParseXPath(xpath, &select.filter))
                return false;
            auto path = attributes.find(u"Path");
            select.path = path != attributes.end() ? path->second : queryPath;
            if (select.path.empty()) return false;
            query->selects.push_back(std::move(select));
        }
        if (!reader.Take(u"</Query>")) return false;
    } while (!reader.Take(u"</QueryList>"));
    return reader.AtEnd();
}

}  // namespace

bool EventFilter::Matches(const EventRecord& record, uint64_t now) const {
    switch (kind) {
        case Kind::All:
            for (const EventFilter& part : parts)
                if (!part.Matches(record, now)) return false;
            return true;
        case Kind::Any:
            for (const EventFilter& part : parts)
                if (part.Matches(record, now)) return true;
            return false;
        case Kind::Compare: break;
    }
    const EventValue& value = record.system.at(property);
    if (value.type == kTypeNull) return false;
    uint64_t actual = value.number;
    if (property == kSystemTimeCreated) actual = now > value.number ? (now - value.number) / 10'000 : 0;
    switch (op) {
        case Op::Equal: return actual == number;
        case Op::NotEqual: return actual != number;
        case Op::Less: return actual < number;
        case Op::LessEqual: return actual <= number;
        case Op::Greater: return actual > number;
        case Op::GreaterEqual: return actual >= number;
    }
    return false;
}

bool EventQuery::Selects(const EventRecord& record, uint64_t now) const {
    for (const Select& select : selects)
        if (vantel::EqualsIgnoreCase(select.path, record.channel) && select.filter.Matches(record, now)) return true;
    return false;
}

uint32_t ParseEventQuery(const std::u16string& path, const std::u16string& text, EventQuery* query) {
    query->selects.clear();
    size_t first = text.find_first_not_of(u" \t\r\n");
    if (first != std::u16string::npos && text[first] == u'<')
        return ParseQueryList(text, query) ? 0 : kErrorInvalidQuery;
    EventFilter filter;  // no text: every record
    if (first != std::u16string::npos && !ParseXPath(text, &filter)) return kErrorInvalidQuery;
    query->selects.push_back({path, std::move(filter)});
    return 0;
}

}  // namespace winsim
