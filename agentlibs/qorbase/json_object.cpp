#include "agentlibs/qorbase/json_object.h"

#include <cmath>
#include <limits>
#include <utility>

#include "common/text.h"

namespace qorbase {

using vantel::IJsonValue;

namespace {

using Limits = std::numeric_limits<int64_t>;

// Serialising walks values recursively; no payload we read comes near this.
constexpr size_t kMaxNesting = 256;

// Counts brackets outside strings; exact for valid JSON, and invalid JSON is rejected by the parser.
bool NestingWithin(std::string_view text, size_t limit) {
    size_t depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return false;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

void SetError(int32_t* error, bool failed) {
    if (error) *error = failed ? 1 : 0;
}

int64_t Saturated(double number) {
    if (std::isnan(number)) return 0;
    if (number >= 9223372036854775808.0) return Limits::max();
    if (number <= -9223372036854775808.0) return Limits::min();
    return static_cast<int64_t>(number);
}

// The way _wtoi reads text: blanks, a sign, then the decimal digits as far as they go.
int64_t LeadingInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    const uint64_t cap = negative ? uint64_t{1} << 63 : static_cast<uint64_t>(Limits::max());
    uint64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        auto digit = static_cast<uint64_t>(text[i] - '0');
        magnitude = magnitude > (cap - digit) / 10 ? cap : magnitude * 10 + digit;
    }
    return static_cast<int64_t>(negative ? 0 - magnitude : magnitude);
}

}  // namespace

int32_t JsonValue::IsString() noexcept { return value_.is_string() ? 1 : 0; }

int32_t JsonValue::IsArray() noexcept { return value_.is_array() ? 1 : 0; }

uint32_t JsonValue::ArraySize() noexcept { return value_.is_array() ? static_cast<uint32_t>(value_.size()) : 0; }

IJsonValue* JsonValue::ArrayItem(uint32_t index, int32_t* error) noexcept {
    IJsonValue* item = nullptr;
    if (value_.is_array() && index < value_.size())
        item = Guarded<IJsonValue*>(nullptr, [&] { return owner_.Wrap(value_[index]); });
    SetError(error, item == nullptr);
    return item;
}

const vantel::WChar* JsonValue::StringValue(int32_t* error) noexcept {
    const vantel::WChar* text = nullptr;
    if (value_.is_string()) {
        text = Guarded<const vantel::WChar*>(nullptr, [&] {
            if (!string_) string_ = vantel::FromUtf8(value_.get_ref<const std::string&>());
            return vantel::ToWide(*string_);
        });
    }
    SetError(error, text == nullptr);
    return text;
}

int64_t JsonValue::IntegerValue(int32_t* error) noexcept {
    bool readable = true;
    int64_t number = 0;
    if (value_.is_number_unsigned())
        number = static_cast<int64_t>(std::min<uint64_t>(value_.get<uint64_t>(), Limits::max()));
    else if (value_.is_number_integer())
        number = value_.get<int64_t>();
    else if (value_.is_number_float())
        number = Saturated(value_.get<double>());
    else if (value_.is_string())
        number = LeadingInteger(value_.get_ref<const std::string&>());
    else if (value_.is_boolean())
        number = value_.get<bool>() ? 1 : 0;
    else
        readable = false;
    SetError(error, !readable);
    return number;
}

const vantel::WChar* JsonValue::JsonText() noexcept {
    return Guarded<const vantel::WChar*>(nullptr, [&] {
        if (!text_) text_ = vantel::FromUtf8(value_.dump(-1, ' ', false, Json::error_handler_t::replace));
        return vantel::ToWide(*text_);
    });
}

int32_t JsonObject::Parse(const vantel::WChar* text) noexcept {
    Clear();
    if (text == nullptr) return kJsonNoText;
    try {
        std::string utf8 = vantel::ToUtf8(vantel::FromWide(text));
        if (!NestingWithin(utf8, kMaxNesting)) return kJsonTooDeep;
        Json parsed = Json::parse(utf8, nullptr, false);
        if (parsed.is_discarded()) return kJsonMalformed;
        root_ = std::move(parsed);
        parsed_ = true;
        return 0;
    } catch (...) {
        Clear();
        return kJsonOutOfMemory;
    }
}

IJsonValue* JsonObject::Root() noexcept {
    if (!parsed_) return nullptr;
    return Guarded<IJsonValue*>(nullptr, [&] { return Wrap(root_); });
}

IJsonValue* JsonObject::Member(const vantel::WChar* name, int32_t* error) noexcept {
    IJsonValue* member = nullptr;
    if (name != nullptr && root_.is_object()) {
        member = Guarded<IJsonValue*>(nullptr, [&]() -> IJsonValue* {
            auto found = std::as_const(root_).find(vantel::ToUtf8(vantel::FromWide(name)));
            return found == root_.cend() ? nullptr : Wrap(*found);
        });
    }
    SetError(error, member == nullptr);
    return member;
}

JsonValue* JsonObject::Wrap(const Json& value) { return values_.Get(&value, this); }

void JsonObject::Clear() {
    // Values of the previous text go first: they point into it.
    values_.Clear();
    root_ = nullptr;
    parsed_ = false;
}

}  // namespace qorbase
