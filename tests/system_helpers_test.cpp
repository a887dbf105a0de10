// System helpers that need no staging: run against winsim on Linux and the real calls under Wine.
#include "common/system_helpers.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace vantel {
namespace {

constexpr uint64_t kEpochTicks = 0x019DB1DED53E8000;
constexpr uint64_t kTicksPerSecond = 10000000;

TEST(SystemHelpers, FileTimesTruncateTowardZeroAroundTheEpoch) {
    EXPECT_EQ(FileTimeToUnixSeconds(kEpochTicks), 0);
    EXPECT_EQ(FileTimeToUnixSeconds(kEpochTicks - 1), 0) << "one tick before 1970 is still second 0";
    EXPECT_EQ(FileTimeToUnixSeconds(kEpochTicks - kTicksPerSecond), -1);
    EXPECT_EQ(FileTimeToUnixSeconds(kEpochTicks + 2 * kTicksPerSecond - 1), 1);
    EXPECT_EQ(FileTimeToUnixSeconds(0), -11644473600) << "1601-01-01";
}

TEST(SystemHelpers, CalendarTimesConvertThroughTicks) {
    EXPECT_EQ(SystemTimeToUnixSeconds({2021, 3, 4, 4, 5, 6, 7, 890}), 1614834367);
    EXPECT_EQ(SystemTimeToUnixSeconds({1970, 1, 4, 1, 0, 0, 0, 0}), 0);
    EXPECT_EQ(SystemTimeToUnixSeconds({1969, 12, 3, 31, 23, 59, 59, 500}), 0) << "truncated toward zero";
    EXPECT_EQ(SystemTimeToUnixSeconds({1601, 1, 1, 1, 0, 0, 0, 0}), -11644473600);
    EXPECT_EQ(SystemTimeToUnixSeconds({2020, 2, 6, 29, 23, 59, 59, 999}), 1583020799) << "a leap day";
}

TEST(SystemHelpers, InvalidCalendarTimesGiveZero) {
    EXPECT_EQ(SystemTimeToUnixSeconds({2021, 2, 0, 29, 0, 0, 0, 0}), 0) << "no leap day in 2021";
    EXPECT_EQ(SystemTimeToUnixSeconds({2021, 13, 0, 1, 0, 0, 0, 0}), 0);
    EXPECT_EQ(SystemTimeToUnixSeconds({2021, 1, 0, 1, 24, 0, 0, 0}), 0);
    EXPECT_EQ(SystemTimeToUnixSeconds({1600, 12, 0, 31, 0, 0, 0, 0}), 0) << "before the ticks begin";
}

TEST(SystemHelpers, AgentRootIsTheParentOfTheModulesFolder) {
    // The tests run from the "tests" folder beside the agent folder, on Z: under Wine and winsim.
    std::u16string agent = u"Z:" + FromUtf8(VANTEL_AGENT_DIR);
    for (char16_t& c : agent)
        if (c == u'/') c = u'\\';
    EXPECT_EQ(GetQorEDRPath(), agent.substr(0, agent.rfind(u'\\')));
}

TEST(SystemHelpers, SidsConvertToTheirStandardTextOnlyWhenValid) {
    std::u16string text;
    ASSERT_EQ(SidToText({1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0}, &text), 1);
    EXPECT_EQ(text, u"S-1-5-32-544");
    ASSERT_EQ(SidToText({1, 0, 0, 0, 0, 0, 0, 1}, &text), 1);
    EXPECT_EQ(text, u"S-1-1");

    text = u"unchanged";
    EXPECT_EQ(SidToText({}, &text), 0);
    EXPECT_EQ(SidToText({1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0}, &text), 0) << "a sub-authority is missing";
    EXPECT_EQ(SidToText({2, 1, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0}, &text), 0) << "unknown revision";
    platform::Sid tooMany(8 + 4 * 16);
    tooMany[0] = 1;
    tooMany[1] = 16;
    EXPECT_EQ(SidToText(tooMany, &text), 0) << "more sub-authorities than a SID may have";
    EXPECT_EQ(text, u"unchanged");
}

TEST(SystemHelpers, UnknownAccountNamesAreNotKnown) {
    EXPECT_EQ(IsKnownAccountName(u"no-such-account-4711"), 0);
    EXPECT_EQ(IsAdminAccount(u"", u"no-such-account-4711"), 0);
}

}  // namespace
}  // namespace vantel
