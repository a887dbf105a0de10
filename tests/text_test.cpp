#include "common/text.h"

#include <gtest/gtest.h>

namespace vantel {
namespace {

TEST(Text, Utf8RoundTripsEveryPlane) {
    std::u16string text = u"a\u00e9\u4e2d\U0001F600z";
    EXPECT_EQ(ToUtf8(text), "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z");
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
}

TEST(Text, BrokenInputBecomesReplacementCharacters) {
    EXPECT_EQ(FromUtf8("a\xFFz"), u"a\uFFFDz");
    EXPECT_EQ(FromUtf8("\xE4\xB8"), u"\uFFFD\uFFFD");  // truncated sequence
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Text, CaseInsensitiveNames) {
    EXPECT_TRUE(EqualsIgnoreCase(u"certificate", u"Certificate"));
    EXPECT_FALSE(EqualsIgnoreCase(u"Certificat", u"Certificate"));
    EXPECT_TRUE(StartsWithIgnoreCase(u"\\device\\harddiskvolume1\\x", u"\\Device\\HarddiskVolume"));
    EXPECT_FALSE(StartsWithIgnoreCase(u"\\Dev", u"\\Device"));
}

}  // namespace
}  // namespace vantel
