// The console user's session and token, and device paths over the user's drives, on winsim.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

#include "common/system_helpers.h"
#include "common/text.h"
#include "winsim/devices.h"
#include "winsim/sessions.h"

namespace vantel {
namespace {

using winsim::SessionState;

std::u16string UserOf(const platform::Token& token) {
    auto info = winsim::InspectToken(reinterpret_cast<uintptr_t>(token.get()));
    return info ? info->user : u"(no token)";
}

class UserSession : public ::testing::Test {
protected:
    void SetUp() override {
        winsim::ResetSessions();
        openTokens_ = winsim::OpenTokenCount();
    }
    void TearDown() override {
        winsim::ResetSessions();
        EXPECT_EQ(winsim::OpenTokenCount(), openTokens_) << "every token is released";
    }

    size_t openTokens_ = 0;
};

TEST_F(UserSession, ActiveSessionComesFirstThenTheConsole) {
    EXPECT_EQ(GetActiveSessionID(), platform::kNoSession);
    winsim::SetConsoleSession(1);
    winsim::AddSession({0, SessionState::Disconnected, u""});
    winsim::AddSession({1, SessionState::Connected, u""});
    EXPECT_EQ(GetActiveSessionID(), 1u) << "no active session: the console's";
    winsim::AddSession({3, SessionState::Active, u"bob"});
    winsim::AddSession({2, SessionState::Active, u"alice"});
    EXPECT_EQ(GetActiveSessionID(), 2u) << "the first active one";
}

TEST_F(UserSession, TerminalServicesGiveTheUsersToken) {
    winsim::AddSession({1, SessionState::Active, u"alice"});
    winsim::AddProcess({40, u"explorer.exe", 1, u"mallory"});
    platform::Token token = GetCurUserToken(1);
    ASSERT_TRUE(token);
    EXPECT_EQ(UserOf(token), u"alice");
    EXPECT_EQ(winsim::OpenTokenCount(), openTokens_ + 1) << "only the duplicate stays open";
}

TEST_F(UserSession, WithoutTerminalServicesTheShellOfTheSessionGivesTheToken) {
    winsim::FailQueryUserToken(1314);
    winsim::AddSession({1, SessionState::Active, u"alice"});
    winsim::AddProcess({10, u"explorer.exe", 2, u"bob"});
    winsim::AddProcess({11, u"explorer.exe", 1, u"guarded", true});
    winsim::AddProcess({12, u"notepad.exe", 1, u"dave"});
    winsim::AddProcess({13, u"EXPLORER.EXE", 1, u"carol"});
    winsim::AddProcess({14, u"explorer.exe", 1, u"erin"});
    platform::Token token = GetCurUserToken(1);
    ASSERT_TRUE(token);
    EXPECT_EQ(UserOf(token), u"carol") << "the first shell of the session that opens, in any case";
    EXPECT_EQ(winsim::OpenTokenCount(), openTokens_ + 1);
}

TEST_F(UserSession, SessionWithoutAUserGivesNoToken) {
    winsim::AddSession({0, SessionState::Disconnected, u""});
    winsim::AddProcess({10, u"explorer.exe", 1, u"alice"});
    EXPECT_FALSE(GetCurUserToken(0));
    EXPECT_FALSE(GetCurUserToken(7)) << "nor does a session that does not exist";
}

TEST_F(UserSession, ImpersonationAlwaysReverts) {
    winsim::AddSession({1, SessionState::Active, u"alice"});
    platform::Token token = GetCurUserToken(1);
    {
        platform::Impersonation asAlice(token);
        EXPECT_EQ(asAlice.error(), platform::kErrorSuccess);
        EXPECT_EQ(winsim::ImpersonatedUser(), u"alice");
    }
    EXPECT_FALSE(winsim::ImpersonatedUser());
    platform::Impersonation asNobody{platform::Token()};
    EXPECT_EQ(asNobody.error(), platform::kErrorInvalidHandle);
}

// Drives: C: on volume 10 and D: on volume 1, or the other way round, and Z: a mapped share.
const std::u16string kShareTarget = u"\\Device\\LanmanRedirector\\;Z:0000000000012345\\server\\share";
const std::u16string kOnShare = u"\\Device\\Mup\\;LanmanRedirector\\;Z:0000000000012345\\server\\share";

TEST(DevicePaths, VolumeNamesMatchWholeWhateverTheDriveOrder) {
    for (bool tenFirst : {true, false}) {
        DriveMap drives{{u"C:", tenFirst ? u"\\Device\\HarddiskVolume10" : u"\\Device\\HarddiskVolume1"},
                        {u"D:", tenFirst ? u"\\Device\\HarddiskVolume1" : u"\\Device\\HarddiskVolume10"}};
        std::u16string one = tenFirst ? u"D:" : u"C:";
        std::u16string ten = tenFirst ? u"C:" : u"D:";
        EXPECT_EQ(DosPathFromDriveMap(drives, u"\\Device\\HarddiskVolume1\\Windows\\a.exe"), one + u"\\Windows\\a.exe");
        EXPECT_EQ(DosPathFromDriveMap(drives, u"\\Device\\HarddiskVolume10\\b.dll"), ten + u"\\b.dll");
        EXPECT_EQ(DosPathFromDriveMap(drives, u"\\device\\harddiskvolume1\\c"), one + u"\\c") << "case is ignored";
    }
}

TEST(DevicePaths, VolumesWithoutADriveLetterDoNotConvert) {
    DriveMap drives{{u"C:", u"\\Device\\HarddiskVolume2"}};
    EXPECT_EQ(DosPathFromDriveMap(drives, u"\\Device\\HarddiskVolume3\\x.exe"), u"");
    EXPECT_EQ(DosPathFromDriveMap(drives, u"\\Device\\HarddiskVolume2"), u"") << "a volume without a file";
    EXPECT_EQ(DosPathFromDriveMap(drives, u"\\Device\\CdRom0\\setup.exe"), u"");
    EXPECT_EQ(DosPathFromDriveMap(drives, u"C:\\already\\dos.exe"), u"");
    EXPECT_EQ(DosPathFromDriveMap(drives, u""), u"");
}

TEST(DevicePaths, NetworkPathsGoThroughTheirMappedDriveOrBecomeUncPaths) {
    DriveMap drives{{u"C:", u"\\Device\\HarddiskVolume2"}, {u"Z:", kShareTarget}};
    EXPECT_EQ(DosPathFromDriveMap(drives, kOnShare + u"\\dir\\f.exe"), u"Z:\\dir\\f.exe");
    EXPECT_EQ(DosPathFromDriveMap(drives, kOnShare), u"Z:");
    EXPECT_EQ(DosPathFromDriveMap(drives, u"\\Device\\Mup\\server\\share\\dir\\f.exe"),
              u"\\\\server\\share\\dir\\f.exe");
    EXPECT_EQ(DosPathFromDriveMap({}, u"\\Device\\Mup\\server\\share\\f.exe"), u"\\\\server\\share\\f.exe");
    EXPECT_NE(DosPathFromDriveMap(drives, kOnShare + u"2\\f.exe").substr(0, 2), u"Z:")
        << "a share whose name only begins like the drive's is another share";
}

// The drive map is process-wide and built once, so its life is followed in a process of its own.
std::string FollowDriveMapLife() {
    std::ostringstream failures;
    auto expect = [&](const std::u16string& got, const std::u16string& want, const char* what) {
        if (got != want) failures << what << ": got \"" << ToUtf8(got) << "\"\n";
    };
    winsim::ResetSessions();
    winsim::DefineDosDevice(u"C:", u"");
    expect(DevicePathToDosPath(u"\\Device\\HarddiskVolume2\\x"), u"", "without drives");

    // The map is found empty and built again, under the console user whose share is Z:.
    winsim::DefineDosDevice(u"C:", u"\\Device\\HarddiskVolume2");
    winsim::DefineDosDevice(u"Z:", kShareTarget, u"alice");
    winsim::AddSession({1, SessionState::Active, u"alice"});
    winsim::SetConsoleSession(1);
    std::vector<std::u16string> results(8);
    std::vector<std::thread> threads;
    for (std::u16string& result : results)
        threads.emplace_back([&result] { result = DevicePathToDosPath((kOnShare + u"\\f.txt").c_str()); });
    for (std::thread& thread : threads) thread.join();
    for (const std::u16string& result : results) expect(result, u"Z:\\f.txt", "concurrent first use");
    expect(DevicePathToDosPath(u"\\Device\\HarddiskVolume2\\x"), u"C:\\x", "after the rebuild");
    if (winsim::ImpersonatedUser()) failures << "the thread still impersonates\n";

    winsim::DefineDosDevice(u"C:", u"\\Device\\HarddiskVolume5");
    expect(DevicePathToDosPath(u"\\Device\\HarddiskVolume2\\x"), u"C:\\x", "a built map is kept");
    expect(DevicePathToDosPath(nullptr), u"", "null path");
    return failures.str();
}

TEST(DevicePaths, DriveMapIsBuiltUnderTheConsoleUserWhenFoundEmpty) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::string failures = FollowDriveMapLife();
            std::cerr << failures;
            std::exit(failures.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vantel
