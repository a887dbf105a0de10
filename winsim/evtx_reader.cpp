#include "winsim/evtx_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <stdexcept>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "winsim/accounts.h"
#include "winsim/eventlog.h"

namespace winsim {

using namespace vantel::evt;

namespace {

constexpr size_t kFileHeaderSize = 4096;
constexpr size_t kFileHeaderUsed = 128;  // the rest of the header block is padding
constexpr size_t kChunkSize = 65536;
constexpr size_t kChunkHeaderSize = 512;
constexpr size_t kRecordHeaderSize = 24;
constexpr uint8_t kFileMagic[8] = {'E', 'l', 'f', 'F', 'i', 'l', 'e', 0};
constexpr uint8_t kChunkMagic[8] = {'E', 'l', 'f', 'C', 'h', 'n', 'k', 0};
constexpr uint32_t kRecordMagic = 0x00002a2a;
// Templates nest through BinXml values; real records go two or three levels deep.
constexpr int kMostDepth = 32;
constexpr uint32_t kTypeBinXml = 0x21;
// Instances of shared templates can double a record's size at each level; a record that expands
// past this is damage, not an event.
constexpr size_t kMostTokens = 1 << 20;

// Anything in a record that cannot be decoded: the record is skipped.
struct Damaged : std::runtime_error {
    Damaged() : std::runtime_error("damaged") {}
};

uint64_t LittleEndian(const uint8_t* data, size_t size) {
    uint64_t value = 0;
    for (size_t i = std::min<size_t>(size, 8); i-- > 0;) value = value << 8 | data[i];
    return value;
}

// CRC-32 (the zip polynomial), sixteen bytes a step through sixteen tables.
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    constexpr size_t kStep = 16;
    static const auto tables = [] {
        std::array<std::array<uint32_t, 256>, kStep> entries{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (size_t t = 1; t < kStep; ++t)
                entries[t][i] = entries[0][entries[t - 1][i] & 0xFF] ^ (entries[t - 1][i] >> 8);
        return entries;
    }();
    crc = ~crc;
    for (; size >= kStep; data += kStep, size -= kStep) {
        uint32_t first = crc ^ static_cast<uint32_t>(LittleEndian(data, 4));
        uint32_t next = 0;
        for (size_t k = 0; k < kStep; ++k) next ^= tables[kStep - 1 - k][k < 4 ? (first >> (8 * k)) & 0xFF : data[k]];
        crc = next;
    }
    for (; size > 0; ++data, --size) crc = tables[0][(crc ^ *data) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

// The files' UTF-16 is little-endian, as is every machine the simulation runs on.
static_assert(std::endian::native == std::endian::little);
std::u16string Utf16Text(const uint8_t* data, size_t chars) {
    std::u16string text(chars, u'\0');
    std::memcpy(text.data(), data, chars * 2);
    return text;
}

// Bounds-checked reads within [pos, end) of a chunk; offsets are the chunk's.
struct Cursor {
    std::span<const uint8_t> chunk;
    size_t pos;
    size_t end;

    const uint8_t* Take(size_t size) {
        if (pos > end || size > end - pos) throw Damaged();
        const uint8_t* at = chunk.data() + pos;
        pos += size;
        return at;
    }
    uint64_t Number(size_t size) { return LittleEndian(Take(size), size); }
    uint8_t Byte() { return static_cast<uint8_t>(Number(1)); }
    uint16_t Word() { return static_cast<uint16_t>(Number(2)); }
    uint32_t Dword() { return static_cast<uint32_t>(Number(4)); }
    uint8_t Peek() const {
        if (pos >= end || pos >= chunk.size()) throw Damaged();
        return chunk[pos];
    }
    std::u16string Utf16(size_t chars) { return Utf16Text(Take(chars * 2), chars); }
};

// Binary XML as parsed: a template body or a record's fragment. Substitutions stay unresolved.
struct Element;
struct Instance;
struct Piece {
    enum class Kind : uint8_t { Element, Text, Substitution, Instance } kind;
    bool optional = false;
    uint16_t index = 0;
    EventValue text;  // a String, Null when there is none
    const Element* element = nullptr;
    Instance* instance = nullptr;
};
using Pieces = std::vector<Piece>;

// Names are views into the chunk decoder's marked names (MarkedName), which outlive every record of the chunk.
struct Element {
    using Attribute = std::pair<std::u16string_view, Pieces>;
    std::u16string_view name;
    // The first attributeCount; those after them are kept from an earlier use for their capacity.
    std::vector<Attribute> attributes;
    size_t attributeCount = 0;
    Pieces content;

    std::span<const Attribute> Attributes() const { return {attributes.data(), attributeCount}; }
    Pieces& AddAttribute(std::u16string_view attribute) {
        if (attributeCount == attributes.size()) attributes.emplace_back();
        auto& [name, value] = attributes[attributeCount++];
        name = attribute;
        value.clear();
        return value;
    }
};

struct Value {
    EventValue value;
    Pieces xml;  // a BinXml value
    bool empty = false;  // stored with no bytes or as Null
    uint32_t tokens = 0;  // how many tokens of the record being decoded show it
};

struct Instance {
    const Pieces* body = nullptr;
    // The first valueCount; those after them are kept from an earlier use for their capacity.
    std::vector<Value> values;
    size_t valueCount = 0;
    // Parsed from the record rather than from a template: its values are the record's own, which
    // it may take instead of copying them.
    bool ofRecord = false;
};

// Resolved XML, flat and in document order: substitutions replaced by their values, which stay
// in the parsed pieces. An element is its Open token, its attributes, its content and its Close.
struct Token {
    enum class Kind : uint8_t { Open, Attribute, Value, Close } kind;
    std::u16string_view name;           // Open and Attribute
    const EventValue* value = nullptr;  // Attribute and Value
    Value* own = nullptr;               // the value when it is the record's own
    size_t close = 0;                   // Open: where its Close is
};
using Tokens = std::vector<Token>;

// A token's value into the record: taken when no other token shows it (the XML is written by
// then), else copied. Straight into its place: a value is too large to pass around.
void TakeValue(const Token& token, EventValue& into) {
    if (token.own != nullptr && token.own->tokens == 1) into = std::move(token.own->value);
    else into = *token.value;
}

void ArrayValue(uint32_t type, const uint8_t* data, size_t size, EventValue& into);

// Sets every member of `into`, reusing the capacity its text and bytes have.
void TypedValue(uint32_t type, const uint8_t* data, size_t size, EventValue& into) {
    into.type = type;
    into.number = 0;
    into.text.clear();
    into.bytes.clear();
    into.items.clear();
    switch (type) {
        case kTypeNull: return;
        case kTypeString: {
            size_t chars = size / 2;
            while (chars > 0 && data[2 * chars - 2] == 0 && data[2 * chars - 1] == 0) --chars;
            into.text.resize(chars);
            std::memcpy(into.text.data(), data, chars * 2);
            return;
        }
        case kTypeAnsiString:
            while (size > 0 && data[size - 1] == 0) --size;
            into.bytes.assign(data, data + size);
            return;
        case kTypeBoolean: into.number = LittleEndian(data, size) != 0; return;
        case kTypeGuid:
        case kTypeSysTime:
            if (size != 16) throw Damaged();
            [[fallthrough]];
        case kTypeBinary:
        case kTypeSid: into.bytes.assign(data, data + size); return;
        case kTypeSByte:
        case kTypeInt16:
        case kTypeInt32:
        case kTypeInt64: {
            uint64_t raw = LittleEndian(data, size);
            if (size > 0 && size < 8 && (raw >> (8 * size - 1)) & 1) raw |= ~uint64_t{0} << (8 * size);
            into.number = raw;
            return;
        }
        case kTypeByte:
        case kTypeUInt16:
        case kTypeUInt32:
        case kTypeUInt64:
        case kTypeSingle:
        case kTypeDouble:
        case kTypeSizeT:
        case kTypeFileTime:
        case kTypeHexInt32:
        case kTypeHexInt64:
            if (size == 0 || size > 8) throw Damaged();
            into.number = LittleEndian(data, size);
            return;
        default:
            if (type & kTypeArrayMask) return ArrayValue(type & ~kTypeArrayMask, data, size, into);
            into.type = kTypeBinary;
            into.bytes.assign(data, data + size);
    }
}

// Strings end at their NUL, SIDs carry their length; the rest are fixed-size (SizeT as stored:
// 4 or 8 bytes). An array that does not divide into its elements stays raw bytes.
void ArrayValue(uint32_t type, const uint8_t* data, size_t size, EventValue& into) {
    std::vector<EventValue>& items = into.items;
    auto asBinary = [&] {
        items.clear();
        into.type = kTypeBinary;
        into.bytes.assign(data, data + size);
    };
    auto item = [&](size_t at, size_t length) { TypedValue(type, data + at, length, items.emplace_back()); };
    if (type == kTypeString) {
        size_t begin = 0;
        for (size_t end = 0; end + 1 < size; end += 2) {
            if (data[end] != 0 || data[end + 1] != 0) continue;
            item(begin, end - begin);
            begin = end + 2;
        }
        if (begin + 1 < size) item(begin, size - begin);  // unterminated last
    } else if (type == kTypeAnsiString) {
        size_t begin = 0;
        for (size_t end = 0; end < size; ++end) {
            if (data[end] != 0) continue;
            item(begin, end - begin);
            begin = end + 1;
        }
        if (begin < size) item(begin, size - begin);
    } else if (type == kTypeSid) {
        for (size_t at = 0; at + 8 <= size;) {
            size_t length = 8 + 4 * size_t{data[at + 1]};
            if (at + length > size) return asBinary();
            item(at, length);
            at += length;
        }
    } else {
        size_t element = type == kTypeSizeT ? (size % 8 == 0 ? 8 : 4) : FixedSize(type);
        if (element == 0 || size % element != 0) return asBinary();
        for (size_t at = 0; at < size; at += element) item(at, element);
    }
}

// A name stored with the markup the XML writes around it, "<N</N> N='", so that a tag is one
// append. Tokens and elements keep the bare name, a view into it, and find the markup beside it.
struct MarkedName {
    static std::u16string Of(std::u16string_view name) {
        std::u16string marked;
        marked.reserve(3 * name.size() + 7);
        marked.append(u"<").append(name).append(u"</").append(name).append(u"> ").append(name).append(u"='");
        return marked;
    }
    static std::u16string_view Bare(const std::u16string& marked) { return {marked.data() + 1, (marked.size() - 7) / 3}; }
    // "<N", "</N>" and " N='" of a bare name.
    static std::u16string_view Open(std::u16string_view bare) { return {bare.data() - 1, bare.size() + 1}; }
    static std::u16string_view Close(std::u16string_view bare) { return {bare.data() + bare.size(), bare.size() + 3}; }
    static std::u16string_view Attribute(std::u16string_view bare) { return {bare.data() + 2 * bare.size() + 3, bare.size() + 3}; }
};

// Parsed elements and instances, handed out again once what they belong to is done: their
// vectors keep their capacity, so that a record's parse allocates little.
template <typename T>
class Reused {
public:
    // Cleared by the caller.
    T& Take() {
        if (used_ == items_.size()) items_.emplace_back();
        return items_[used_++];
    }
    size_t Used() const { return used_; }
    void GiveBackFrom(size_t mark) { used_ = mark; }

private:
    std::deque<T> items_;  // never moves what it holds
    size_t used_ = 0;
};

// Decodes the records of a chunk at a time, keeping the chunk's templates and names by offset.
class ChunkDecoder {
public:
    void Start(std::span<const uint8_t> chunk) {
        fragment_.clear();
        tokens_.clear();
        chunk_ = chunk;
        names_.clear();
        templates_.clear();
        for (Parsed& parsed : parsed_) parsed.GiveBackFrom(0);
    }

    // Decodes a record into Resolved(): returns where its event element opens. The tokens are
    // valid until the next record is decoded.
    size_t Decode(size_t begin, size_t end) {
        Cursor cursor{chunk_, begin, end};
        inTemplates_ = 0;  // a damaged template may have left it raised
        fragment_.clear();
        parsed_[kOfRecord].GiveBackFrom(0);
        Parse(cursor, 0, fragment_);
        tokens_.clear();
        Resolve(fragment_, nullptr, 0, nullptr);
        auto root = std::find_if(tokens_.begin(), tokens_.end(), [](const Token& token) { return token.kind == Token::Kind::Open; });
        if (root == tokens_.end()) throw Damaged();
        return static_cast<size_t>(root - tokens_.begin());
    }
    const Tokens& Resolved() const { return tokens_; }

private:
    // The bare name, a view into its markup (MarkedName).
    std::u16string_view Name(Cursor& cursor) {
        uint32_t offset = cursor.Dword();
        auto known = names_.find(offset);
        if (offset == cursor.pos) {
            // Inline: next-name offset, hash, length, text and a terminating NUL.
            cursor.Take(6);
            uint16_t length = cursor.Word();
            if (known != names_.end()) {
                cursor.Take((length + 1) * size_t{2});
                return MarkedName::Bare(known->second);
            }
            std::u16string text = cursor.Utf16(length);
            cursor.Take(2);
            return MarkedName::Bare(names_.emplace(offset, MarkedName::Of(text)).first->second);
        }
        if (known != names_.end()) return MarkedName::Bare(known->second);
        Cursor at{chunk_, offset, chunk_.size()};
        at.Take(6);
        return MarkedName::Bare(names_.emplace(offset, MarkedName::Of(at.Utf16(at.Word()))).first->second);
    }

    // Whether an element's header has the 16-bit dependency id: records forwarded from other
    // machines leave it out, which shows in where the name offset points.
    bool HasDependencyId(const Cursor& cursor) const {
        auto dword = [&](size_t at) { return at + 4 <= cursor.end ? LittleEndian(chunk_.data() + at, 4) : ~0ull; };
        uint64_t withId = dword(cursor.pos + 6), withoutId = dword(cursor.pos + 4);
        if (withId == cursor.pos + 10) return true;
        if (withoutId == cursor.pos + 8) return false;
        return withId < cursor.pos || withoutId >= cursor.pos;
    }

    // Appends to pieces, which may be a reused vector.
    void Parse(Cursor& cursor, int depth, Pieces& pieces) {
        if (depth > kMostDepth) throw Damaged();
        while (cursor.pos < cursor.end) {
            uint8_t token = cursor.Byte();
            switch (token & 0xBF) {
                case 0x00: return;
                case 0x04: return;
                case 0x0F: cursor.Take(3); break;
                case 0x01: pieces.push_back({Piece::Kind::Element, false, 0, {}, &ParseElement(cursor, token, depth), {}}); break;
                case 0x0C: pieces.push_back({Piece::Kind::Instance, false, 0, {}, {}, &ParseInstance(cursor, depth)}); break;
                default: pieces.push_back(ParseValuePiece(cursor, token)); break;
            }
        }
    }

    // Text, a character or entity reference, or a substitution.
    Piece ParseValuePiece(Cursor& cursor, uint8_t token) {
        switch (token & 0xBF) {
            case 0x05:
                if (cursor.Byte() != kTypeString) throw Damaged();
                return {Piece::Kind::Text, false, 0, EventValue::String(cursor.Utf16(cursor.Word())), {}, {}};
            case 0x07: return {Piece::Kind::Text, false, 0, EventValue::String(cursor.Utf16(cursor.Word())), {}, {}};
            case 0x08: return {Piece::Kind::Text, false, 0, EventValue::String(std::u16string(1, char16_t(cursor.Word()))), {}, {}};
            case 0x09: {
                std::u16string_view name = Name(cursor);
                static const std::pair<std::u16string_view, char16_t> kEntities[] = {
                    {u"amp", u'&'}, {u"lt", u'<'}, {u"gt", u'>'}, {u"quot", u'"'}, {u"apos", u'\''}};
                for (const auto& [entity, c] : kEntities)
                    if (name == entity) return {Piece::Kind::Text, false, 0, EventValue::String(std::u16string(1, c)), {}, {}};
                return {Piece::Kind::Text, false, 0, EventValue::String(std::u16string(u"&").append(name).append(u";")), {}, {}};
            }
            case 0x0A: Name(cursor); return {Piece::Kind::Text, false, 0, {}, {}, {}};
            case 0x0B: cursor.Utf16(cursor.Word()); return {Piece::Kind::Text, false, 0, {}, {}, {}};
            case 0x0D:
            case 0x0E: {
                uint16_t index = cursor.Word();
                cursor.Byte();  // the type; the value carries its own
                return {Piece::Kind::Substitution, token == 0x0E, index, {}, {}, {}};
            }
            default: throw Damaged();
        }
    }

    const Element& ParseElement(Cursor& cursor, uint8_t token, int depth) {
        if (HasDependencyId(cursor)) cursor.Word();
        cursor.Dword();  // data size
        Element* element = &Current().elements.Take();
        element->attributeCount = 0;
        element->content.clear();
        element->name = Name(cursor);
        if (token & 0x40) {
            cursor.Dword();  // attribute list size
            for (uint8_t next = cursor.Peek(); (next & 0xBF) == 0x06; next = cursor.Peek()) {
                cursor.Byte();
                Pieces& value = element->AddAttribute(Name(cursor));
                while (cursor.pos < cursor.end) {
                    uint8_t kind = cursor.Peek() & 0xBF;
                    if (kind != 0x05 && kind != 0x08 && kind != 0x09 && kind != 0x0D && kind != 0x0E) break;
                    value.push_back(ParseValuePiece(cursor, cursor.Byte()));
                }
                if (!(next & 0x40)) break;
            }
        }
        uint8_t close = cursor.Byte();
        if (close == 0x02) Parse(cursor, depth + 1, element->content);
        else if (close != 0x03) throw Damaged();
        return *element;
    }

    Instance& ParseInstance(Cursor& cursor, int depth) {
        cursor.Byte();
        cursor.Dword();  // template id
        uint32_t definition = cursor.Dword();
        Instance* instance = &Current().instances.Take();
        instance->valueCount = 0;
        instance->ofRecord = inTemplates_ == 0;
        instance->body = Template(definition, depth);
        if (definition == cursor.pos) {
            cursor.Take(20);
            cursor.Take(cursor.Dword());
        }
        uint32_t count = cursor.Dword();
        if (count > (cursor.end - cursor.pos) / 4) throw Damaged();
        // Each value's size and type, then the values.
        Cursor descriptors{chunk_, cursor.pos, cursor.pos + 4 * size_t{count}};
        cursor.pos = descriptors.end;
        if (instance->values.size() < count) instance->values.resize(count);
        for (uint32_t i = 0; i < count; ++i) {
            uint16_t size = descriptors.Word();
            uint8_t type = descriptors.Byte();
            descriptors.Byte();
            Value& value = instance->values[instance->valueCount++];
            value.xml.clear();
            value.tokens = 0;
            value.empty = size == 0 || type == kTypeNull;
            if (type == kTypeBinXml) {
                size_t end = cursor.pos + size;
                if (size > cursor.end - cursor.pos) throw Damaged();
                Cursor inner{chunk_, cursor.pos, end};
                value.value = EventValue::Null();
                Parse(inner, depth + 1, value.xml);
                cursor.pos = end;
            } else {
                TypedValue(type, cursor.Take(size), size, value.value);
            }
        }
        return *instance;
    }

    const Pieces* Template(uint32_t offset, int depth) {
        if (auto known = templates_.find(offset); known != templates_.end()) return &known->second;
        Cursor header{chunk_, offset, chunk_.size()};
        header.Take(20);
        uint32_t size = header.Dword();
        if (size > header.end - header.pos) throw Damaged();
        Cursor body{chunk_, header.pos, header.pos + size};
        Parsed& ofChunk = parsed_[kOfChunk];
        size_t elements = ofChunk.elements.Used(), instances = ofChunk.instances.Used();
        ++inTemplates_;
        Pieces pieces;
        try {
            Parse(body, depth + 1, pieces);
        } catch (const Damaged&) {
            // A template that cannot be parsed is tried again by each record that uses it:
            // what it took is given back, so that a damaged chunk costs no more than a sound one.
            ofChunk.elements.GiveBackFrom(elements);
            ofChunk.instances.GiveBackFrom(instances);
            throw;
        }
        --inTemplates_;
        return &templates_.emplace(offset, std::move(pieces)).first->second;
    }

    // Written in place: a token built aside and copied in costs a stall per token.
    void AddToken(Token::Kind kind, std::u16string_view name, const EventValue* value, Value* own) {
        Token& token = tokens_.emplace_back();
        token.kind = kind;
        token.name = name;
        token.value = value;
        token.own = own;
    }

    // Appends the pieces' tokens: values as the content of the element being resolved, or as the
    // values of an attribute when one is named. Returns whether an optional substitution among
    // the pieces had no value.
    bool Resolve(const Pieces& pieces, Instance* instance, int depth, const std::u16string_view* attribute) {
        if (depth > kMostDepth) throw Damaged();
        bool emptyOptional = false;
        if (tokens_.size() > kMostTokens) throw Damaged();
        auto add = [&](const EventValue* value, Value* own) {
            if (own) ++own->tokens;
            if (attribute) AddToken(Token::Kind::Attribute, *attribute, value, own);
            else AddToken(Token::Kind::Value, {}, value, own);
        };
        for (const Piece& piece : pieces) {
            switch (piece.kind) {
                case Piece::Kind::Text:
                    if (!piece.text.text.empty()) add(&piece.text, nullptr);
                    break;
                case Piece::Kind::Element: {
                    if (attribute) break;  // no place for an element in an attribute's value
                    const Element& element = *piece.element;
                    size_t open = tokens_.size();
                    AddToken(Token::Kind::Open, element.name, nullptr, nullptr);
                    for (const auto& [name, value] : element.Attributes()) Resolve(value, instance, depth + 1, &name);
                    size_t content = tokens_.size();
                    // An element around an optional substitution without a value is not rendered.
                    if (Resolve(element.content, instance, depth + 1, nullptr) && tokens_.size() == content) {
                        tokens_.resize(open);
                        break;
                    }
                    tokens_[open].close = tokens_.size();
                    AddToken(Token::Kind::Close, {}, nullptr, nullptr);
                    break;
                }
                case Piece::Kind::Substitution: {
                    if (instance == nullptr || piece.index >= instance->valueCount) break;
                    Value& value = instance->values[piece.index];
                    emptyOptional |= piece.optional && value.empty;
                    if (!value.xml.empty()) Resolve(value.xml, nullptr, depth + 1, attribute);
                    else if (value.value.type != kTypeNull) add(&value.value, instance->ofRecord ? &value : nullptr);
                    break;
                }
                case Piece::Kind::Instance:
                    Resolve(*piece.instance->body, piece.instance, depth + 1, attribute);
                    break;
            }
        }
        return emptyOptional;
    }

    std::span<const uint8_t> chunk_;
    Pieces fragment_;  // the record being decoded
    Tokens tokens_;    // and its resolved XML
    std::unordered_map<uint32_t, std::u16string> names_;  // marked (MarkedName); a node's value never moves
    std::unordered_map<uint32_t, Pieces> templates_;  // a node's value never moves
    int inTemplates_ = 0;  // how deep the parse is in template bodies

    // What a parse takes: a record's is given back at the next record, templates' at the next chunk.
    struct Parsed {
        Reused<Element> elements;
        Reused<Instance> instances;
        void GiveBackFrom(size_t mark) {
            elements.GiveBackFrom(mark);
            instances.GiveBackFrom(mark);
        }
    };
    static constexpr size_t kOfRecord = 0, kOfChunk = 1;
    std::array<Parsed, 2> parsed_;
    Parsed& Current() { return parsed_[inTemplates_ > 0 ? kOfChunk : kOfRecord]; }
};

// An element of a record's tokens, or none.
class ElementOf {
public:
    ElementOf() = default;
    ElementOf(const Tokens& tokens, size_t open) : tokens_(&tokens), open_(open) {}

    explicit operator bool() const { return tokens_ != nullptr; }
    std::u16string_view Name() const { return (*tokens_)[open_].name; }

    // Calls visit for each child element, in order.
    template <typename Visit>
    void EachChild(Visit&& visit) const {
        if (!tokens_) return;
        for (size_t at = open_ + 1; at < End(); ++at) {
            if ((*tokens_)[at].kind != Token::Kind::Open) continue;
            visit(ElementOf(*tokens_, at));
            at = (*tokens_)[at].close;
        }
    }

    ElementOf Child(std::u16string_view name) const {
        ElementOf found;
        EachChild([&](ElementOf child) {
            if (!found && child.Name() == name) found = child;
        });
        return found;
    }

    // The first value of an attribute into a Null value of the record (TakeValue); left Null
    // when there is none.
    void Attribute(std::u16string_view name, EventValue& into) const {
        for (size_t at = open_ + 1; tokens_ && at < End() && (*tokens_)[at].kind == Token::Kind::Attribute; ++at)
            if ((*tokens_)[at].name == name) return TakeValue((*tokens_)[at], into);
    }

    // The content as one cell into a Null value of the record (TakeValue): its single typed
    // value, else its text; left Null when it has none.
    void Cell(EventValue& into) const {
        const Token* first = nullptr;
        size_t count = 0;
        std::u16string text;
        for (size_t at = open_ + 1; tokens_ && at < End(); ++at) {
            const Token& token = (*tokens_)[at];
            if (token.kind == Token::Kind::Open) at = token.close;
            if (token.kind != Token::Kind::Value) continue;
            if (count == 1) AppendValueText(text, *first->value);  // a second value: the cell becomes text
            if (count >= 1) AppendValueText(text, *token.value);
            if (count++ == 0) first = &token;
        }
        if (count == 1) TakeValue(*first, into);
        else if (count > 1) into = EventValue::String(std::move(text));
    }

private:
    size_t End() const { return (*tokens_)[open_].close; }

    const Tokens* tokens_ = nullptr;
    size_t open_ = 0;
};

uint64_t ParseDigits(std::u16string_view text, size_t* used, unsigned base = 10) {
    uint64_t number = 0;
    size_t i = 0;
    for (; i < text.size(); ++i) {
        char16_t c = text[i];
        unsigned digit = c >= u'0' && c <= u'9'   ? c - u'0'
                         : c >= u'a' && c <= u'f' ? c - u'a' + 10
                         : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                  : 99;
        if (digit >= base) break;
        number = number * base + digit;
    }
    if (used) *used = i;
    return number;
}

// "2016-06-29T15:24:34.3460000Z" in ticks.
uint64_t TicksOfText(std::u16string_view text) {
    int64_t parts[6] = {};
    size_t used = 0;
    for (int64_t& part : parts) {
        part = static_cast<int64_t>(ParseDigits(text, &used));
        text.remove_prefix(std::min(text.size(), used + 1));
    }
    uint64_t fraction = 0;
    size_t digits = 0;
    fraction = ParseDigits(text, &digits);
    for (; digits < 7; ++digits) fraction *= 10;
    for (; digits > 7; --digits) fraction /= 10;
    int64_t y = parts[0] - (parts[1] <= 2), m = parts[1];
    int64_t era = (y >= 0 ? y : y - 399) / 400, yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + parts[2] - 1;
    int64_t days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468 + 134774;
    return static_cast<uint64_t>((days * 86400 + parts[3] * 3600 + parts[4] * 60 + parts[5]) * 10'000'000) + fraction;
}

// A System value in the type the platform renders it with, whatever form the record stored.
EventValue SystemValue(EventValue stored, uint32_t type) {
    if (stored.type == kTypeNull || stored.type == type) return stored;
    bool isText = stored.type == kTypeString;
    switch (type) {
        case kTypeString: return EventValue::String(ValueText(stored));
        case kTypeSid: return isText ? EventValue::Sid(SidFromText(stored.text)) : EventValue::Null();
        case kTypeGuid: {
            if (!isText) return EventValue::Null();
            std::u16string hex;
            for (char16_t c : stored.text)
                if (c != u'{' && c != u'}' && c != u'-') hex += c;
            if (hex.size() != 32) return EventValue::Null();
            vantel::Guid guid{};
            guid.data1 = static_cast<uint32_t>(ParseDigits(hex.substr(0, 8), nullptr, 16));
            guid.data2 = static_cast<uint16_t>(ParseDigits(hex.substr(8, 4), nullptr, 16));
            guid.data3 = static_cast<uint16_t>(ParseDigits(hex.substr(12, 4), nullptr, 16));
            for (size_t i = 0; i < 8; ++i)
                guid.data4[i] = static_cast<uint8_t>(ParseDigits(hex.substr(16 + 2 * i, 2), nullptr, 16));
            return EventValue::Guid(guid);
        }
        case kTypeFileTime: return EventValue::FileTime(isText ? TicksOfText(stored.text) : stored.number);
        default: {
            if (!isText) return EventValue::Number(type, stored.number);
            std::u16string_view text = stored.text;
            bool hex = text.starts_with(u"0x") || text.starts_with(u"0X");
            return EventValue::Number(type, ParseDigits(text.substr(hex ? 2 : 0), nullptr, hex ? 16 : 10));
        }
    }
}

// The XML of the element opening at `open`, in document order.
void WriteXml(const Tokens& tokens, size_t open, std::u16string& xml) {
    const Token& element = tokens[open];
    size_t tag = xml.size();
    xml += MarkedName::Open(element.name);
    size_t at = open + 1;
    for (; tokens[at].kind == Token::Kind::Attribute; ++at) {
        // An attribute's values follow each other under its name.
        if (tokens[at - 1].kind != Token::Kind::Attribute || tokens[at - 1].name.data() != tokens[at].name.data()) {
            xml += MarkedName::Attribute(tokens[at].name);
        }
        AppendXmlText(xml, *tokens[at].value);
        if (tokens[at + 1].kind != Token::Kind::Attribute || tokens[at + 1].name.data() != tokens[at].name.data())
            xml += u'\'';
    }
    if (at == element.close) {
        xml += u"/>";
        return;
    }
    if (at + 1 == element.close && tokens[at].kind == Token::Kind::Value && IsArray(*tokens[at].value)) {
        // One element per item, each with the attributes.
        std::u16string attributes = xml.substr(tag + 1 + element.name.size());
        xml.resize(tag);
        return AppendXmlElement(xml, element.name, attributes, *tokens[at].value);
    }
    xml += u'>';
    for (; at < element.close; ++at) {
        if (tokens[at].kind == Token::Kind::Value) AppendXmlText(xml, *tokens[at].value);
        if (tokens[at].kind != Token::Kind::Open) continue;
        WriteXml(tokens, at, xml);
        at = tokens[at].close;
    }
    xml += MarkedName::Close(element.name);
}

// Where the platform finds each System value: in the content of an element of System or in one
// of its attributes, and the type it renders the value with.
struct SystemField {
    std::u16string_view attribute;  // empty: the element's content
    SystemProperty property = kSystemPropertyCount;  // kSystemPropertyCount: no field
    uint32_t type = kTypeNull;
};
struct SystemElement {
    std::u16string_view name;
    std::array<SystemField, 2> fields;
};
// In the order records write them, which is where the search for the next one starts.
constexpr SystemElement kSystemElements[] = {
    {u"Provider", {{{u"Name", kSystemProviderName, kTypeString}, {u"Guid", kSystemProviderGuid, kTypeGuid}}}},
    {u"EventID", {{{{}, kSystemEventID, kTypeUInt16}, {u"Qualifiers", kSystemQualifiers, kTypeUInt16}}}},
    {u"Version", {{{{}, kSystemVersion, kTypeByte}}}},
    {u"Level", {{{{}, kSystemLevel, kTypeByte}}}},
    {u"Task", {{{{}, kSystemTask, kTypeUInt16}}}},
    {u"Opcode", {{{{}, kSystemOpcode, kTypeByte}}}},
    {u"Keywords", {{{{}, kSystemKeywords, kTypeHexInt64}}}},
    {u"TimeCreated", {{{u"SystemTime", kSystemTimeCreated, kTypeFileTime}}}},
    {u"EventRecordID", {{{{}, kSystemEventRecordId, kTypeUInt64}}}},
    {u"Correlation",
     {{{u"ActivityID", kSystemActivityID, kTypeGuid}, {u"RelatedActivityID", kSystemRelatedActivityID, kTypeGuid}}}},
    {u"Execution", {{{u"ProcessID", kSystemProcessID, kTypeUInt32}, {u"ThreadID", kSystemThreadID, kTypeUInt32}}}},
    {u"Channel", {{{{}, kSystemChannel, kTypeString}}}},
    {u"Computer", {{{{}, kSystemComputer, kTypeString}}}},
    {u"Security", {{{u"UserID", kSystemUserID, kTypeSid}}}},
};

// The system values from the first element of each name in System, into a record whose values
// are Null.
void ReadSystem(ElementOf system, EventRecord& record) {
    constexpr size_t kCount = std::size(kSystemElements);
    bool seen[kCount] = {};
    size_t next = 0;
    system.EachChild([&](ElementOf child) {
        for (size_t tried = 0; tried < kCount; ++tried) {
            size_t i = (next + tried) % kCount;
            if (seen[i] || kSystemElements[i].name != child.Name()) continue;
            seen[i] = true;
            next = i + 1;
            for (const SystemField& field : kSystemElements[i].fields) {
                if (field.property == kSystemPropertyCount) continue;
                EventValue& value = record.system[field.property];
                if (field.attribute.empty()) child.Cell(value);
                else child.Attribute(field.attribute, value);
                if (value.type != kTypeNull && value.type != field.type) value = SystemValue(std::move(value), field.type);
            }
            return;
        }
    });
}

// xml: a buffer reused from record to record, so that each record's XML is copied out at its
// exact size without growing.
EventRecord RecordOf(const Tokens& tokens, size_t root, uint64_t headerId, uint64_t headerTicks, std::u16string& xml) {
    EventRecord record;
    xml.clear();
    WriteXml(tokens, root, xml);  // before the values are taken
    record.xml = xml;
    ElementOf event(tokens, root);
    ReadSystem(event.Child(u"System"), record);
    record.channel = record.system[kSystemChannel].text;
    // The record's header knows its id and time when the XML does not.
    if (record.system[kSystemEventRecordId].type == kTypeNull) record.RecordId(headerId);
    if (record.system[kSystemTimeCreated].type == kTypeNull) record.TimeCreated(headerTicks);

    ElementOf cells;  // the element whose children are the user values, each child one
    bool onlyData = false;
    if (ElementOf data = event.Child(u"EventData")) {
        cells = data;
        onlyData = true;
    } else if (ElementOf userData = event.Child(u"UserData")) {
        userData.EachChild([&](ElementOf child) {  // its one element
            if (!cells) cells = child;
        });
    }
    auto eachCell = [&](auto&& visit) {
        cells.EachChild([&](ElementOf child) {
            if (!onlyData || child.Name() == u"Data") visit(child);
        });
    };
    size_t count = 0;
    eachCell([&](ElementOf) { ++count; });
    record.user.reserve(count);
    eachCell([&](ElementOf child) { child.Cell(record.user.emplace_back()); });
    return record;
}

bool HasMagic(std::span<const uint8_t> data, const uint8_t (&magic)[8]) {
    return data.size() >= 8 && std::memcmp(data.data(), magic, 8) == 0;
}

// Files keep unused chunks as zeros, by the megabyte: compared at memcmp's pace, each byte with
// the next.
bool AllZero(std::span<const uint8_t> bytes) {
    return bytes.empty() || (bytes[0] == 0 && std::memcmp(bytes.data(), bytes.data() + 1, bytes.size() - 1) == 0);
}

// The records of one chunk; a stretch that is no record is skipped up to the next record's magic.
// decoder and xml are reused from chunk to chunk.
EvtxTotals ReadChunk(std::span<const uint8_t> chunk, const EvtxRecordSink& sink, ChunkDecoder& decoder, std::u16string& xml) {
    EvtxTotals totals;
    size_t limit = chunk.size();
    if (HasMagic(chunk, kChunkMagic) && chunk.size() >= kChunkHeaderSize) {
        uint32_t freeSpace = static_cast<uint32_t>(LittleEndian(&chunk[48], 4));
        uint32_t headerCrc = Crc32(chunk.data(), 120);
        headerCrc = Crc32(chunk.data() + 128, kChunkHeaderSize - 128, headerCrc);
        bool sane = freeSpace >= kChunkHeaderSize && freeSpace <= chunk.size();
        if (sane) limit = freeSpace;
        bool dataOk = sane && Crc32(chunk.data() + kChunkHeaderSize, freeSpace - kChunkHeaderSize) ==
                                  LittleEndian(&chunk[52], 4);
        if (headerCrc != LittleEndian(&chunk[124], 4) || !dataOk) totals.damagedChunks = 1;
    } else if (AllZero(chunk)) {
        return totals;  // never written
    } else {
        totals.damagedChunks = 1;
    }
    decoder.Start(chunk);
    size_t pos = kChunkHeaderSize;
    bool inGap = false;
    while (pos + kRecordHeaderSize <= limit) {
        const uint8_t* at = chunk.data() + pos;
        uint64_t size = LittleEndian(at + 4, 4);
        bool framed = LittleEndian(at, 4) == kRecordMagic && size >= kRecordHeaderSize + 4 && pos + size <= limit &&
                      LittleEndian(at + size - 4, 4) == size;
        if (!framed) {
            if (!inGap) ++totals.skipped;
            inGap = true;
            pos += 8;  // records start on 8-byte boundaries
            continue;
        }
        inGap = false;
        try {
            size_t root = decoder.Decode(pos + kRecordHeaderSize, pos + size - 4);
            sink(RecordOf(decoder.Resolved(), root, LittleEndian(at + 8, 8), LittleEndian(at + 16, 8), xml));
            ++totals.records;
        } catch (const Damaged&) {
            ++totals.skipped;
        }
        pos += size;
    }
    // Trailing zeros after the last record of a chunk without a usable header are no damage.
    if (inGap && AllZero(chunk.subspan(std::min(pos, limit))))
        --totals.skipped;
    return totals;
}

}  // namespace

EvtxTotals& EvtxTotals::operator+=(const EvtxTotals& other) {
    files += other.files;
    records += other.records;
    skipped += other.skipped;
    damagedChunks += other.damagedChunks;
    unreadable += other.unreadable;
    foreign += other.foreign;
    badHeaders += other.badHeaders;
    truncated += other.truncated;
    return *this;
}

namespace {

// A recording of `size` bytes: its first bytes (up to the whole file header) and its chunks, each
// asked for by offset and length; a chunk comes back shorter when the file ends early, and empty
// when it is known to be zeros.
using ChunkSource = std::function<std::span<const uint8_t>(size_t offset, size_t length)>;

EvtxTotals ReadRecording(std::span<const uint8_t> head, size_t size, const ChunkSource& chunkAt,
                         const EvtxRecordSink& sink) {
    EvtxTotals totals;
    totals.files = 1;
    if (!HasMagic(head, kFileMagic)) {
        ++totals.skipped;
        totals.foreign = 1;
        return totals;
    }
    if (size < kFileHeaderSize) {
        totals.truncated = 1;
        if (size < kFileHeaderUsed) return totals;
    }
    // Size, version 3 and block size as every writer lays them out, and the checksum of the first
    // 120 bytes.
    bool headerOk = LittleEndian(&head[32], 4) == kFileHeaderUsed && LittleEndian(&head[38], 2) == 3 &&
                    LittleEndian(&head[40], 2) == kFileHeaderSize && Crc32(head.data(), 120) == LittleEndian(&head[124], 4);
    if (!headerOk) totals.badHeaders = 1;
    // A header may count fewer chunks than the file holds (it lags behind the writer), never more.
    size_t chunksCounted = static_cast<size_t>(LittleEndian(&head[42], 2));
    size_t chunkBytes = size > kFileHeaderSize ? size - kFileHeaderSize : 0;
    if (chunkBytes % kChunkSize != 0 || (headerOk && chunkBytes / kChunkSize < chunksCounted)) totals.truncated = 1;
    // Every chunk the file holds, whatever the header counts: a header can lag behind its chunks.
    ChunkDecoder decoder;
    std::u16string xml;
    for (size_t offset = kFileHeaderSize; offset < size; offset += kChunkSize)
        totals += ReadChunk(chunkAt(offset, std::min(kChunkSize, size - offset)), sink, decoder, xml);
    return totals;
}

}  // namespace

EvtxTotals ReadEvtx(std::span<const uint8_t> image, const EvtxRecordSink& sink) {
    return ReadRecording(image.first(std::min(image.size(), kFileHeaderSize)), image.size(),
                         [&](size_t offset, size_t length) { return image.subspan(offset, length); }, sink);
}

// An open file, closed when it goes.
struct FileDescriptor {
    int fd;
    explicit FileDescriptor(const std::filesystem::path& file) : fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
};

// Where the file's next written bytes at or after `offset` are; the file's size when only a hole
// follows, `offset` itself when the file system cannot tell.
size_t DataFrom(int fd, size_t offset, size_t size) {
    off_t data = ::lseek(fd, static_cast<off_t>(offset), SEEK_DATA);
    if (data >= 0) return static_cast<size_t>(data);
    return errno == ENXIO ? size : offset;
}

// Chunk by chunk through one buffer, which stays in the processor's caches while it is decoded.
// Copied recordings are often sparse, their unused chunks holes: a chunk wholly in a hole is
// known to be zeros and not read.
EvtxTotals ReadEvtxFile(const std::filesystem::path& file, const EvtxRecordSink& sink) {
    FileDescriptor descriptor(file);
    struct stat status{};
    bool opened = descriptor.fd >= 0 && ::fstat(descriptor.fd, &status) == 0 && S_ISREG(status.st_mode);
    size_t size = opened ? static_cast<size_t>(status.st_size) : 0;
    std::vector<uint8_t> buffer(kChunkSize);
    auto readAt = [&](size_t offset, size_t length) {
        size_t done = 0;
        while (done < length) {
            ssize_t got = ::pread(descriptor.fd, buffer.data() + done, length - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<size_t>(got);
        }
        return std::span<const uint8_t>(buffer).first(done);
    };
    size_t dataAt = 0;  // no written bytes before it, from the chunk last asked for
    auto chunkAt = [&](size_t offset, size_t length) {
        if (dataAt < offset + length) dataAt = DataFrom(descriptor.fd, offset, size);
        return dataAt >= offset + length ? std::span<const uint8_t>() : readAt(offset, length);
    };
    size_t headLength = std::min(size, kFileHeaderSize);
    if (!opened || readAt(0, headLength).size() != headLength) {
        EvtxTotals totals{1, 0, 1, 0};
        totals.unreadable = 1;
        return totals;
    }
    std::array<uint8_t, kFileHeaderSize> head;
    std::memcpy(head.data(), buffer.data(), headLength);
    return ReadRecording(std::span(head).first(headLength), size, chunkAt, sink);
}

void ForEachEvtxFile(const std::vector<std::filesystem::path>& paths,
                     const std::function<void(const std::filesystem::path& file)>& visit) {
    for (const std::filesystem::path& path : paths) {
        if (!std::filesystem::is_directory(path)) {
            visit(path);
            continue;
        }
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
            if (entry.is_regular_file() && entry.path().extension() == ".evtx") found.push_back(entry.path());
        std::sort(found.begin(), found.end());
        for (const std::filesystem::path& file : found) visit(file);
    }
}

std::vector<std::filesystem::path> EvtxFiles(const std::vector<std::filesystem::path>& paths) {
    std::vector<std::filesystem::path> files;
    ForEachEvtxFile(paths, [&](const std::filesystem::path& file) { files.push_back(file); });
    return files;
}

EvtxTotals ReplayEvtx(const std::vector<std::filesystem::path>& paths, const EvtxProgress& progress) {
    // The reader runs ahead of delivery by at most twice this many records, so that what waits
    // for a callback stays bounded whatever the recordings hold.
    constexpr uint64_t kAhead = 256;
    uint64_t published = 0;
    EvtxTotals totals;
    ForEachEvtxFile(paths, [&](const std::filesystem::path& file) {
        EvtxTotals ofFile = ReadEvtxFile(file, [&](EventRecord&& record) {
            if (!record.channel.empty()) AddEventChannel(record.channel);
            PublishEvent(std::move(record));
            if (++published % kAhead == 0) WaitForEventDelivery(kAhead);
        });
        totals += ofFile;
        if (progress) progress(file, ofFile, totals);
    });
    return totals;
}

}  // namespace winsim
