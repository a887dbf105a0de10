#include "common/format.h"

#include <cstring>

namespace vantel {

uint64_t FormatArg::bits() const {
    switch (kind_) {
        case Kind::Signed: return static_cast<uint64_t>(signed_);
        case Kind::Unsigned: return unsigned_;
        case Kind::Text: return reinterpret_cast<uintptr_t>(text_);
        case Kind::Pointer: return reinterpret_cast<uintptr_t>(pointer_);
    }
    return 0;
}

namespace {

struct Conversion {
    bool left = false, plus = false, space = false, alternate = false, zero = false;
    int width = 0;
    int precision = -1;
    int bits = 32;  // integer width chosen by the length modifier
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

void Pad(std::u16string& out, size_t count, char16_t fill) { out.append(count, fill); }

// Lays out sign/prefix, zero padding and digits within the field width as C does.
void EmitNumber(std::u16string& out, const Conversion& conversion, std::u16string prefix, std::u16string digits) {
    if (conversion.precision >= 0 && static_cast<size_t>(conversion.precision) > digits.size())
        digits.insert(0, conversion.precision - digits.size(), u'0');
    size_t body = prefix.size() + digits.size();
    size_t width = conversion.width > 0 ? static_cast<size_t>(conversion.width) : 0;
    if (conversion.left) {
        out += prefix;
        out += digits;
        if (width > body) Pad(out, width - body, u' ');
    } else if (conversion.zero && conversion.precision < 0) {
        out += prefix;
        if (width > body) Pad(out, width - body, u'0');
        out += digits;
    } else {
        if (width > body) Pad(out, width - body, u' ');
        out += prefix;
        out += digits;
    }
}

std::u16string Digits(uint64_t value, unsigned base, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string text;
    do {
        text.insert(text.begin(), static_cast<char16_t>(set[value % base]));
        value /= base;
    } while (value != 0);
    return text;
}

uint64_t TruncateUnsigned(uint64_t value, int bits) {
    return bits >= 64 ? value : value & ((uint64_t{1} << bits) - 1);
}

int64_t TruncateSigned(uint64_t value, int bits) {
    if (bits >= 64) return static_cast<int64_t>(value);
    uint64_t masked = TruncateUnsigned(value, bits);
    uint64_t sign = uint64_t{1} << (bits - 1);
    return static_cast<int64_t>((masked ^ sign) - sign);
}

void EmitText(std::u16string& out, const Conversion& conversion, const char16_t* text) {
    if (text == nullptr) text = u"(null)";
    size_t length = std::char_traits<char16_t>::length(text);
    if (conversion.precision >= 0 && static_cast<size_t>(conversion.precision) < length) length = conversion.precision;
    size_t width = conversion.width > 0 ? static_cast<size_t>(conversion.width) : 0;
    if (!conversion.left && width > length) Pad(out, width - length, u' ');
    out.append(text, length);
    if (conversion.left && width > length) Pad(out, width - length, u' ');
}

}  // namespace

std::u16string FormatList(const char16_t* format, std::initializer_list<FormatArg> args) {
    std::u16string out;
    if (format == nullptr) return out;
    auto next = args.begin();
    auto take = [&]() -> const FormatArg* { return next == args.end() ? nullptr : &*next++; };
    auto takeInt = [&]() -> int64_t {
        const FormatArg* arg = take();
        return arg ? TruncateSigned(arg->bits(), 32) : 0;
    };

    for (const char16_t* p = format; *p != 0; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        const char16_t* start = p++;
        Conversion conversion;
        for (;; ++p) {
            if (*p == u'-') conversion.left = true;
            else if (*p == u'+') conversion.plus = true;
            else if (*p == u' ') conversion.space = true;
            else if (*p == u'#') conversion.alternate = true;
            else if (*p == u'0') conversion.zero = true;
            else break;
        }
        if (*p == u'*') {
            int64_t width = takeInt();
            if (width < 0) {
                conversion.left = true;
                width = -width;
            }
            conversion.width = static_cast<int>(width);
            ++p;
        } else {
            while (IsDigit(*p)) conversion.width = conversion.width * 10 + (*p++ - u'0');
        }
        if (*p == u'.') {
            ++p;
            conversion.precision = 0;
            if (*p == u'*') {
                int64_t precision = takeInt();
                conversion.precision = precision < 0 ? -1 : static_cast<int>(precision);
                ++p;
            } else {
                while (IsDigit(*p)) conversion.precision = conversion.precision * 10 + (*p++ - u'0');
            }
        }
        if (p[0] == u'h' && p[1] == u'h') conversion.bits = 8, p += 2;
        else if (p[0] == u'h') conversion.bits = 16, ++p;
        else if (p[0] == u'l' && p[1] == u'l') conversion.bits = 64, p += 2;
        else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') conversion.bits = 64, p += 3;
        else if (p[0] == u'I' && p[1] == u'3' && p[2] == u'2') conversion.bits = 32, p += 3;
        else if (p[0] == u'I' || p[0] == u'z' || p[0] == u't') conversion.bits = sizeof(void*) * 8, ++p;
        else if (p[0] == u'j' || p[0] == u'L') conversion.bits = 64, ++p;
        else if (p[0] == u'l' || p[0] == u'w') ++p;

        switch (*p) {
            case u'd':
            case u'i': {
                const FormatArg* arg = take();
                int64_t value = TruncateSigned(arg ? arg->bits() : 0, conversion.bits);
                uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
                std::u16string prefix = value < 0 ? u"-" : conversion.plus ? u"+" : conversion.space ? u" " : u"";
                std::u16string digits = (conversion.precision == 0 && magnitude == 0) ? u"" : Digits(magnitude, 10, false);
                EmitNumber(out, conversion, prefix, digits);
                break;
            }
            case u'u':
            case u'x':
            case u'X':
            case u'o': {
                const FormatArg* arg = take();
                uint64_t value = TruncateUnsigned(arg ? arg->bits() : 0, conversion.bits);
                unsigned base = *p == u'u' ? 10 : *p == u'o' ? 8 : 16;
                std::u16string digits =
                    (conversion.precision == 0 && value == 0) ? u"" : Digits(value, base, *p == u'X');
                std::u16string prefix;
                if (conversion.alternate && value != 0 && base == 16) prefix = *p == u'X' ? u"0X" : u"0x";
                if (conversion.alternate && base == 8 && (digits.empty() || digits[0] != u'0')) digits.insert(0, u"0");
                EmitNumber(out, conversion, prefix, digits);
                break;
            }
            case u'c': {
                const FormatArg* arg = take();
                char16_t c[2] = {static_cast<char16_t>(arg ? arg->bits() : 0), 0};
                Conversion textConversion = conversion;
                textConversion.precision = -1;
                if (c[0] == 0) {
                    // A NUL character still occupies its place, as in C.
                    size_t width = conversion.width > 1 ? conversion.width - 1 : 0;
                    if (!conversion.left) Pad(out, width, u' ');
                    out += char16_t(0);
                    if (conversion.left) Pad(out, width, u' ');
                } else {
                    EmitText(out, textConversion, c);
                }
                break;
            }
            case u's': {
                const FormatArg* arg = take();
                EmitText(out, conversion, arg ? arg->text() : nullptr);
                break;
            }
            case u'p': {
                // Windows writes pointers as fixed-width upper-case hexadecimal.
                const FormatArg* arg = take();
                Conversion pointerConversion = conversion;
                pointerConversion.precision = sizeof(void*) * 2;
                EmitNumber(out, pointerConversion, u"", Digits(arg ? arg->bits() : 0, 16, true));
                break;
            }
            case u'%': out += u'%'; break;
            case 0:
                // A lone "%" at the end is kept as written.
                out.append(start, p);
                return out;
            default:
                // Unknown conversions are copied through rather than guessed at.
                out.append(start, p + 1);
                break;
        }
    }
    return out;
}

}  // namespace vantel
