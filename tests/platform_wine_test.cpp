// The platform layer's Windows backend over what Wine implements for real.
#include <windows.h>

#include <gtest/gtest.h>

#include "build_paths.h"
#include "platform/library.h"
#include "platform/registry.h"

namespace vantel {
namespace {

// True when the key holds the value in the view the access flag chooses.
bool HasValue(const wchar_t* key, const wchar_t* value, REGSAM view) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) return false;
    bool found = RegQueryValueExW(opened, value, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(opened);
    return found;
}

TEST(WinePlatform, RegistryWritesLandInThe64BitView) {
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64)
        GTEST_SKIP() << "a 32-bit system has one view of the registry only";
    const wchar_t* key = L"SOFTWARE\\VantelViewTest";
    ASSERT_EQ(platform::RegWriteDword(platform::RegRoot::LocalMachine, reinterpret_cast<const char16_t*>(key), u"Own",
                                      1),
              ERROR_SUCCESS);
    EXPECT_TRUE(HasValue(key, L"Own", KEY_WOW64_64KEY));
    EXPECT_FALSE(HasValue(key, L"Own", KEY_WOW64_32KEY)) << "nothing under WOW6432Node";
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY, 0);
}

std::u16string Planted(const char16_t* file) { return testing::BuildPath(VANTEL_PLANTED_DIR, file); }

TEST(WinePlatform, ALibraryLoadedByPathTakesNoDependencyFromItsOwnFolder) {
    std::u16string user = Planted(u"planted_user.dll");
    HMODULE beside = LoadLibraryExW(reinterpret_cast<const wchar_t*>(user.c_str()), nullptr,
                                    LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(beside, nullptr) << "with its folder searched the pair loads: " << GetLastError();
    FreeLibrary(beside);
    ASSERT_EQ(GetModuleHandleW(L"planted_dependency.dll"), nullptr);

    EXPECT_EQ(platform::LoadLibraryByPath(user), nullptr);
    EXPECT_EQ(platform::LastError(), static_cast<uint32_t>(ERROR_MOD_NOT_FOUND));
    platform::LibraryHandle alone = platform::LoadLibraryByPath(Planted(u"planted_dependency.dll"));
    EXPECT_NE(alone, nullptr) << "the library itself still loads by its path";
    platform::FreeLibraryHandle(alone);
}

}  // namespace
}  // namespace vantel
