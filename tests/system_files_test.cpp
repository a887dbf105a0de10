// Version values of files and account lookups on winsim.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "common/system_helpers.h"
#include "winsim/accounts.h"
#include "winsim/files.h"
#include "winsim/system.h"
#include "winsim/version_info.h"

namespace vantel {
namespace {

namespace fs = std::filesystem;

class FileVersions : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = fs::temp_directory_path() / ("vantel-versions-" + std::to_string(::getpid()));
        fs::create_directories(root_ / "Windows" / "system32");
        winsim::MapDrive(u'C', root_.string());
        Place("Windows/system32/tool.exe",
              winsim::VersionResource{
                  {0x0409, 0x04B0, {{u"FileDescription", u"Tool"}, {u"OriginalFilename", u"tool.exe"}}},
                  {0x0407, 0x04E4, {{u"FileDescription", u"Werkzeug"}, {u"Comments", u"nur hier"}}}});
        Place("Windows/system32/bare.dll", winsim::VersionResource{});
        Place("Windows/system32/plain.dll", std::nullopt);
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }

    static void Place(const char* relative, std::optional<winsim::VersionResource> resource) {
        std::ofstream(root_ / relative) << "MZ";
        if (resource) winsim::SetFileVersionResource((root_ / relative).string(), *resource);
    }

    static fs::path root_;
};

fs::path FileVersions::root_;

TEST_F(FileVersions, ValuesComeFromTheFirstTranslationOfTheExpandedPath) {
    char16_t value[261] = {};
    ASSERT_EQ(GetFileVersionValue(u"%SystemRoot%\\system32\\tool.exe", u"FileDescription", value, 261), 1);
    EXPECT_EQ(std::u16string(value), u"Tool");
    ASSERT_EQ(GetFileVersionValue(u"C:\\Windows\\system32\\tool.exe", u"OriginalFilename", value, 261), 1);
    EXPECT_EQ(std::u16string(value), u"tool.exe");
    EXPECT_EQ(GetFileVersionValue(u"%SystemRoot%\\system32\\tool.exe", u"Comments", value, 261), 0)
        << "only the first translation is asked";
}

TEST_F(FileVersions, ValuesAreCutToTheBuffer) {
    char16_t value[3] = {u'x', u'x', u'x'};
    ASSERT_EQ(GetFileVersionValue(u"%SystemRoot%\\system32\\tool.exe", u"OriginalFilename", value, 3), 1);
    EXPECT_EQ(std::u16string(value), u"to");
    EXPECT_EQ(GetFileVersionValue(u"%SystemRoot%\\system32\\tool.exe", u"OriginalFilename", value, 0), 0);
    EXPECT_EQ(GetFileVersionValue(u"%SystemRoot%\\system32\\tool.exe", u"OriginalFilename", nullptr, 3), 0);
}

TEST_F(FileVersions, MissingPiecesGiveNotFound) {
    char16_t value[261] = {};
    EXPECT_EQ(GetFileVersionValue(u"%SystemRoot%\\system32\\missing.exe", u"FileDescription", value, 261), 0);
    EXPECT_EQ(GetFileVersionValue(u"%SystemRoot%\\system32\\plain.dll", u"FileDescription", value, 261), 0)
        << "no version resource";
    EXPECT_EQ(GetFileVersionValue(u"%SystemRoot%\\system32\\bare.dll", u"FileDescription", value, 261), 0)
        << "no translation";
    EXPECT_EQ(GetFileVersionValue(u"%NoSuchRoot%\\system32\\tool.exe", u"FileDescription", value, 261), 0);
}

TEST_F(FileVersions, ExpandedPathsLongerThanAPathGiveNotFound) {
    const std::string folder(251, 'd');
    fs::create_directories(root_ / folder);
    Place((folder + "/v.exe").c_str(), winsim::VersionResource{{0x0409, 0x04B0, {{u"FileDescription", u"Deep"}}}});
    char16_t value[261] = {};
    // "C:\dd...d\v.exe" with 251 d's is 260 characters, the longest path; a doubled backslash
    // names the same file in 261.
    winsim::SetEnvironmentVariable(u"Deep", u"C:\\" + std::u16string(251, u'd'));
    EXPECT_EQ(GetFileVersionValue(u"%Deep%\\v.exe", u"FileDescription", value, 261), 1);
    EXPECT_EQ(GetFileVersionValue(u"%Deep%\\\\v.exe", u"FileDescription", value, 261), 0);
    winsim::SetEnvironmentVariable(u"Deep", u"");
}

class Accounts : public ::testing::Test {
protected:
    void SetUp() override {
        winsim::AddUser({u"alice", 1, u"S-1-5-21-1004336348-1177238915-682003330-1001"});
        winsim::AddUser({u"bob", 2, u"S-1-5-21-1004336348-1177238915-682003330-1002"});
    }
    void TearDown() override { winsim::ResetAccounts(); }
};

TEST_F(Accounts, AdministratorsHavePrivilegeLevelTwoOnTheNamedServer) {
    EXPECT_EQ(IsAdminAccount(u"", u"Administrator"), 1);
    EXPECT_EQ(IsAdminAccount(u"WINSIM", u"bob"), 1);
    EXPECT_EQ(IsAdminAccount(u"\\\\winsim", u"BOB"), 1);
    EXPECT_EQ(IsAdminAccount(u"", u"alice"), 0);
    EXPECT_EQ(IsAdminAccount(u"", u"Guest"), 0);
    EXPECT_EQ(IsAdminAccount(u"OTHERPC", u"bob"), 0) << "an unreachable server";
}

TEST_F(Accounts, KnownNamesResolveOnThisComputer) {
    EXPECT_EQ(IsKnownAccountName(u"alice"), 1);
    EXPECT_EQ(IsKnownAccountName(u"WINSIM\\Alice"), 1);
    EXPECT_EQ(IsKnownAccountName(u"OTHER\\alice"), 0);
    EXPECT_EQ(IsKnownAccountName(u"carol"), 0);
    winsim::ResetAccounts();
    EXPECT_EQ(IsKnownAccountName(u"alice"), 0);
}

}  // namespace
}  // namespace vantel
