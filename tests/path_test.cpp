#include "common/path.h"

#include <gtest/gtest.h>

namespace vantel {
namespace {

TEST(Path, AppendFoldsParentSegments) {
    EXPECT_EQ(PathAppend(u"C:\\Agent\\bin\\Vantel.dll", u"..\\Quaymar.dll"), u"C:\\Agent\\bin\\Quaymar.dll");
    EXPECT_EQ(PathAppend(u"C:\\Agent\\bin\\Vantel.dll", u"..\\.."), u"C:\\Agent");
    EXPECT_EQ(PathAppend(u"C:\\Agent\\", u".\\x.dll"), u"C:\\Agent\\x.dll");
}

TEST(Path, ParentSegmentsNeverClimbAboveTheRoot) {
    EXPECT_EQ(PathAppend(u"C:\\a", u"..\\..\\..\\b"), u"C:\\b");
    EXPECT_EQ(PathAppend(u"\\\\server\\share\\a", u"..\\..\\x"), u"\\\\server\\share\\x");
}

TEST(Path, Parent) {
    EXPECT_EQ(PathParent(u"Z:\\opt\\agent\\bin\\qorexthost"), u"Z:\\opt\\agent\\bin");
    EXPECT_EQ(PathParent(u"name"), u"");
}

}  // namespace
}  // namespace vantel
