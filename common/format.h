// printf-compatible formatting into UTF-16 text, with Windows' integer widths: no length
// modifier and "l" are 32 bits, "ll" and "I64" are 64 bits, "%s" takes UTF-16 text.
#pragma once
#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "vantel/abi.h"

namespace vantel {

class FormatArg {
public:
    enum class Kind { Signed, Unsigned, Text, Pointer };

    template <std::integral T>
    FormatArg(T value) {  // NOLINT(google-explicit-constructor): arguments convert like printf's
        if constexpr (std::is_signed_v<T>) {
            kind_ = Kind::Signed;
            signed_ = value;
        } else {
            kind_ = Kind::Unsigned;
            unsigned_ = value;
        }
    }
    FormatArg(const char16_t* text) : kind_(Kind::Text), text_(text) {}
    FormatArg(const std::u16string& text) : kind_(Kind::Text), text_(text.c_str()) {}
#ifdef _WIN32
    FormatArg(const WChar* text) : kind_(Kind::Text), text_(reinterpret_cast<const char16_t*>(text)) {}
#endif
    FormatArg(const void* pointer) : kind_(Kind::Pointer), pointer_(pointer) {}

    Kind kind() const { return kind_; }
    // The argument's bits as an integer, whatever its kind.
    uint64_t bits() const;
    const char16_t* text() const { return kind_ == Kind::Text ? text_ : nullptr; }

private:
    Kind kind_;
    union {
        int64_t signed_;
        uint64_t unsigned_;
        const char16_t* text_;
        const void* pointer_;
    };
};

std::u16string FormatList(const char16_t* format, std::initializer_list<FormatArg> args);

template <typename... Args>
std::u16string Format(const char16_t* format, const Args&... args) {
    return FormatList(format, {FormatArg(args)...});
}

}  // namespace vantel
