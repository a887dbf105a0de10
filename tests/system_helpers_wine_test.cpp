// System helpers over what Wine implements for real.
#include <windows.h>

#include <gtest/gtest.h>

#include "common/system_helpers.h"
#include "common/text.h"
#include "platform/files.h"

namespace vantel {
namespace {

TEST(WineSystem, WindowsFolderAndVersionValuesOfSystemFiles) {
    EXPECT_TRUE(EqualsIgnoreCase(GetWindowsDir(), u"C:\\windows")) << ToUtf8(GetWindowsDir());
    char16_t value[261] = {};
    ASSERT_EQ(GetFileVersionValue(u"%SystemRoot%\\system32\\kernel32.dll", u"OriginalFilename", value, 261), 1);
    EXPECT_TRUE(EqualsIgnoreCase(value, u"kernel32.dll")) << ToUtf8(value);
    EXPECT_EQ(GetFileVersionValue(u"%SystemRoot%\\system32\\kernel32.dll", u"NoSuchValue", value, 261), 0);
    EXPECT_EQ(GetFileVersionValue(u"%SystemRoot%\\no-such-file.dll", u"OriginalFilename", value, 261), 0);
}

TEST(WineSystem, ConsoleUserAndTheDriveOfTheSystem) {
    uint32_t session = GetActiveSessionID();
    ASSERT_NE(session, platform::kNoSession);
    EXPECT_TRUE(GetCurUserToken(session));

    std::u16string systemVolume;
    ASSERT_EQ(platform::QueryDosDeviceTarget(u"C:", &systemVolume), platform::kErrorSuccess);
    if (systemVolume.rfind(u"\\Device\\HarddiskVolume", 0) != 0)
        GTEST_SKIP() << "Wine puts C: on " << ToUtf8(systemVolume) << ", no hard-disk volume";
    EXPECT_EQ(DevicePathToDosPath((systemVolume + u"\\windows\\system32").c_str()), u"C:\\windows\\system32");
}

TEST(WineSystem, ServicesOfTheirOwnAndHosted) {
    ServiceInfo rpc;
    if (GetServiceInfo(u"RpcSs", &rpc) == 0) GTEST_SKIP() << "this Wine has no RpcSs service";
    EXPECT_FALSE(rpc.hosted);
    EXPECT_TRUE(EqualsIgnoreCase(rpc.imageFileName, platform::SystemDirectory() + u"\\rpcss.exe"))
        << ToUtf8(rpc.imageFileName);

    ServiceInfo eventLog;
    if (GetServiceInfoByDisplayName(u"Event Log", &eventLog) == 0) GTEST_SKIP() << "this Wine has no event log service";
    EXPECT_TRUE(eventLog.hosted);
    EXPECT_TRUE(EqualsIgnoreCase(eventLog.imageFileName, platform::SystemDirectory() + u"\\wevtsvc.dll"))
        << ToUtf8(eventLog.imageFileName);
    EXPECT_EQ(GetServiceInfoByDisplayName(u"event log", &eventLog), 0);
}

TEST(WineSystem, AccountsOfThisComputer) {
    EXPECT_EQ(IsKnownAccountName(u"SYSTEM"), 1);
    wchar_t user[256] = {};
    DWORD length = 256;
    ASSERT_TRUE(GetUserNameW(user, &length));
    EXPECT_EQ(IsKnownAccountName(FromWide(user)), 1);
    uint32_t privilege = 0;
    if (int32_t error = platform::NetUserPrivilege(u"", FromWide(user), &privilege))
        GTEST_SKIP() << "Wine's NetUserGetInfo answers " << error << " for level 2";
    EXPECT_EQ(IsAdminAccount(u"", FromWide(user)), privilege == platform::kUserPrivilegeAdmin ? 1 : 0);
}

}  // namespace
}  // namespace vantel
