#include "agentlibs/qorbase/xml_nesting.h"

#include <rapidxml/rapidxml.hpp>
#include <cstring>

namespace qorbase {

namespace {

using Tables = rapidxml::internal::lookup_tables<0>;

bool In(const unsigned char* table, char c) { return table[static_cast<unsigned char>(c)] != 0; }

const char* Skip(const unsigned char* table, const char* text) {
    while (In(table, *text)) ++text;
    return text;
}

// Past the first `end` at or after text; null when the text ends first.
const char* PastText(const char* text, const char* end) {
    const char* found = std::strstr(text, end);
    return found ? found + std::strlen(end) : nullptr;
}

const char* PastChar(const char* text, char end) {
    const char* found = std::strchr(text, end);
    return found ? found + 1 : nullptr;
}

// Past the end of a doctype: its first '>' outside [ ] brackets.
const char* PastDoctype(const char* text) {
    int brackets = 0;
    for (; *text; ++text) {
        if (*text == '[') ++brackets;
        else if (*text == ']' && brackets > 0) --brackets;
        else if (*text == '>' && brackets == 0) return text + 1;
    }
    return nullptr;
}

bool StartsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// Past the markup that follows "<!", null when the text ends first.
const char* PastDeclaration(const char* text) {
    if (StartsWith(text, "!--")) return PastText(text + 3, "-->");
    if (StartsWith(text, "![CDATA[")) return PastText(text + 8, "]]>");
    if (StartsWith(text, "!DOCTYPE") && In(Tables::lookup_whitespace, text[8])) return PastDoctype(text + 9);
    return PastChar(text + 1, '>');
}

// Reads an element's start tag after its '<': past its '>' (contents follow, *closed false) or
// its "/>" (*closed true); null where rapidxml would stop with an error.
const char* PastStartTag(const char* text, bool* closed) {
    const char* name = text;
    text = Skip(Tables::lookup_node_name, text);
    if (text == name) return nullptr;
    text = Skip(Tables::lookup_whitespace, text);
    while (In(Tables::lookup_attribute_name, *text)) {
        text = Skip(Tables::lookup_whitespace, Skip(Tables::lookup_attribute_name, text));
        if (*text != '=') return nullptr;
        text = Skip(Tables::lookup_whitespace, text + 1);
        char quote = *text;
        if (quote != '\'' && quote != '"') return nullptr;
        text = std::strchr(text + 1, quote);
        if (text == nullptr) return nullptr;
        text = Skip(Tables::lookup_whitespace, text + 1);
    }
    *closed = text[0] == '/' && text[1] == '>';
    if (*closed) return text + 2;
    return *text == '>' ? text + 1 : nullptr;
}

}  // namespace

bool XmlNestingWithin(const char* text, size_t limit) {
    size_t depth = 0;
    while (text != nullptr && *text != '\0') {
        if (*text++ != '<') continue;
        if (*text == '/') {
            // An end tag; its name and '>' are plain characters to this scan.
            if (depth > 0) --depth;
        } else if (*text == '?') {
            text = PastText(text + 1, "?>");
        } else if (*text == '!') {
            text = PastDeclaration(text);
        } else {
            if (++depth > limit) return false;
            bool closed = false;
            text = PastStartTag(text, &closed);
            if (closed) --depth;
        }
    }
    return true;
}

}  // namespace qorbase
