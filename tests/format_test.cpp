#include "common/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "common/text.h"

namespace vantel {
namespace {

template <typename... Args>
std::string CLibrary(const char* format, Args... args) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

template <typename... Args>
std::string Ours(const char* format, const Args&... args) {
    return ToUtf8(Format(FromUtf8(format).c_str(), args...));
}

TEST(Format, IntegerSpecifiersMatchTheCLibrary) {
    const int values[] = {0, 1, -1, 42, -42, 255, 65535, INT_MAX, INT_MIN, 1000};
    const char* formats[] = {"%d", "%i", "%u", "%x", "%X", "%o", "%0x", "%08x", "%04x", "%02d", "%04d", "%5d",
                             "%-5d|", "%+d", "% d", "%.3d", "%.0d", "%#x", "%#o", "%8.3x"};
    for (const char* format : formats)
        for (int value : values) EXPECT_EQ(Ours(format, value), CLibrary(format, value)) << format << " " << value;
}

TEST(Format, LongIsThirtyTwoBitsAsOnWindows) {
    const int32_t values[] = {0, -1, 123456, INT32_MIN, INT32_MAX};
    for (int32_t value : values) {
        EXPECT_EQ(Ours("%ld", value), CLibrary("%ld", static_cast<long>(value)));
        EXPECT_EQ(Ours("%lu", static_cast<uint32_t>(value)),
                  CLibrary("%lu", static_cast<unsigned long>(static_cast<uint32_t>(value))));
    }
    // A 64-bit argument under "%lu" keeps only its low 32 bits, as a 32-bit long would.
    EXPECT_EQ(Ours("%lu", uint64_t{0x100000005}), "5");
}

TEST(Format, SixtyFourBitSpecifiers) {
    const int64_t values[] = {0, -1, INT64_MIN, INT64_MAX, 1700000000123LL};
    for (int64_t value : values) {
        EXPECT_EQ(Ours("%lld", value), CLibrary("%lld", static_cast<long long>(value)));
        EXPECT_EQ(Ours("%llu", static_cast<uint64_t>(value)),
                  CLibrary("%llu", static_cast<unsigned long long>(value)));
        EXPECT_EQ(Ours("%I64d", value), CLibrary("%lld", static_cast<long long>(value)));
    }
}

TEST(Format, NarrowerArgumentsAndWidthConversions) {
    // An unsigned 32-bit value printed with %d reads as the signed int it is on the wire.
    EXPECT_EQ(Ours("%d", 0xFFFFFFFFu), "-1");
    EXPECT_EQ(Ours("%hd", 70000), CLibrary("%hd", 70000));
    EXPECT_EQ(Ours("%hhu", 300), CLibrary("%hhu", 300));
    EXPECT_EQ(Ours("%*d|%-*d|", 5, 42, 4, 7), CLibrary("%*d|%-*d|", 5, 42, 4, 7));
    EXPECT_EQ(Ours("%.*d", 4, 7), CLibrary("%.*d", 4, 7));
}

TEST(Format, TextAndCharacters) {
    EXPECT_EQ(Ours("[CNtEventLog] OnFileUpdated %s", u"C:\\x\\ü.txt"), "[CNtEventLog] OnFileUpdated C:\\x\\ü.txt");
    EXPECT_EQ(Ours("%8s|%-8s|%.2s", u"abc", u"abc", u"abc"), CLibrary("%8s|%-8s|%.2s", "abc", "abc", "abc"));
    EXPECT_EQ(Ours("%s", std::u16string(u"owned")), "owned");
    EXPECT_EQ(Ours("%s", static_cast<const char16_t*>(nullptr)), "(null)");
    EXPECT_EQ(Ours("%c%c", 'o', u'k'), "ok");
    EXPECT_EQ(Ours("100%% done"), CLibrary("100%% done"));
}

TEST(Format, PointersAreFixedWidthUpperCaseHex) {
    std::string expected(sizeof(void*) * 2 - 4, '0');
    EXPECT_EQ(Ours("%p", reinterpret_cast<const void*>(0xBEEF)), expected + "BEEF");
}

TEST(Format, MissingArgumentsAndOddFormatsAreHarmless) {
    EXPECT_EQ(Ours("%d and %s"), "0 and (null)");
    EXPECT_EQ(Ours("trailing %"), "trailing %");
    EXPECT_EQ(Ours("%q stays"), "%q stays");
    EXPECT_EQ(Format(nullptr), u"");
}

}  // namespace
}  // namespace vantel
