// The platform layer, run against winsim on Linux and against the real calls under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "build_paths.h"
#include "common/text.h"
#include "platform/files.h"
#include "platform/library.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/threads.h"
#include "pool_settles.h"

namespace vantel::platform {
namespace {

const auto* const kPoolSettles = ::testing::AddGlobalTestEnvironment(new testing::PoolSettles);

std::u16string AgentPath(const char16_t* relative) { return testing::BuildPath(VANTEL_AGENT_DIR, relative); }

TEST(Platform, LibrariesLoadByFullPathAndResolveByName) {
    LibraryHandle library = LoadLibraryByPath(AgentPath(u"bin\\Quaymar.dll"));
    ASSERT_NE(library, nullptr);
    EXPECT_NE(GetLibraryProcedure(library, "AddLog"), nullptr);
    EXPECT_EQ(GetLibraryProcedure(library, "NoSuchEntry"), nullptr);
    FreeLibraryHandle(library);
    EXPECT_EQ(LoadLibraryByPath(AgentPath(u"bin\\Missing.dll")), nullptr);
}

TEST(Platform, FilesAndOwnPaths) {
    EXPECT_TRUE(FileExists(AgentPath(u"Qorbase.dll")));
    EXPECT_FALSE(FileExists(AgentPath(u"Missing.dll")));
    EXPECT_FALSE(FileExists(AgentPath(u"bin"))) << "a folder is no file";
    std::u16string self = ThisModulePath();
    EXPECT_EQ(self, ProcessImagePath()) << "the tests link the module's code into the executable";
    EXPECT_NE(self.find(u"platform_test"), std::u16string::npos);
}

TEST(Platform, RegistryRoundTripAndMissingValues) {
    const std::u16string key = u"SOFTWARE\\VantelPlatformTest";
    EXPECT_EQ(RegWriteDword(RegRoot::LocalMachine, key, u"Number", 0xDEADBEEF), kErrorSuccess);
    uint32_t number = 0;
    EXPECT_EQ(RegReadDword(RegRoot::LocalMachine, key, u"number", &number), kErrorSuccess) << "names ignore case";
    EXPECT_EQ(number, 0xDEADBEEF);
    std::u16string text;
    EXPECT_EQ(RegReadString(RegRoot::LocalMachine, key, u"Number", &text), kErrorInvalidData);
    EXPECT_EQ(RegReadString(RegRoot::LocalMachine, key, u"Absent", &text), kErrorFileNotFound);
    EXPECT_EQ(RegReadString(RegRoot::LocalMachine, key + u"\\Absent", u"x", &text), kErrorFileNotFound);
}

TEST(Platform, RegistryNotificationsFollowTheirFilterAndEndAfterOneSignal) {
    // A key of its own per run: under Wine the prefix's registry outlives the test.
    const std::u16string key =
        u"SOFTWARE\\VantelNotifyTest\\" +
        FromUtf8(std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    const std::u16string below = key + u"\\Below";
    ASSERT_EQ(RegWriteDword(RegRoot::LocalMachine, below, u"Seed", 0), kErrorSuccess);
    Event changed(true, false);
    // Each way of watching on a handle of its own: Wine keeps the first one asked for on a handle.
    auto watch = [&](RegKey* handle, bool subtree, uint32_t filter) {
        changed.Reset();
        ASSERT_EQ(OpenRegKey(RegRoot::LocalMachine, key, kKeyRead, handle), kErrorSuccess);
        ASSERT_EQ(RegNotifyChangeKeyValue(*handle, subtree, filter, &changed, true), kErrorSuccess);
    };

    RegKey subtree;
    watch(&subtree, true, kRegNotifyChangeLastSet);
    EXPECT_EQ(changed.Wait(50), WaitResult::Timeout);
    RegWriteDword(RegRoot::LocalMachine, below, u"Value", 1);
    EXPECT_EQ(changed.Wait(5000), WaitResult::Signaled) << "a value set anywhere in the subtree";
    changed.Reset();
    RegWriteDword(RegRoot::LocalMachine, below, u"Value", 2);
    EXPECT_EQ(changed.Wait(100), WaitResult::Timeout) << "a registration is signalled once";

    RegKey alone;
    watch(&alone, false, kRegNotifyChangeLastSet);
    RegWriteDword(RegRoot::LocalMachine, below, u"Value", 3);
    EXPECT_EQ(changed.Wait(100), WaitResult::Timeout) << "the key alone ignores its subkeys' values";
    RegWriteDword(RegRoot::LocalMachine, key, u"Value", 1);
    EXPECT_EQ(changed.Wait(5000), WaitResult::Signaled);

    RegKey names;
    watch(&names, false, kRegNotifyChangeName);
    RegWriteDword(RegRoot::LocalMachine, key, u"Value", 2);
    EXPECT_EQ(changed.Wait(100), WaitResult::Timeout) << "values are no change of names";
    RegWriteDword(RegRoot::LocalMachine, key + u"\\Created", u"Value", 1);
    EXPECT_EQ(changed.Wait(5000), WaitResult::Signaled) << "a subkey created";

    RegKey closed;
    watch(&closed, true, kRegNotifyChangeLastSet);
    closed = RegKey();
    EXPECT_EQ(changed.Wait(5000), WaitResult::Signaled) << "closing the key ends its registration";

    RegKey queryOnly;
    ASSERT_EQ(OpenRegKey(RegRoot::LocalMachine, key, kKeyQueryValue, &queryOnly), kErrorSuccess);
    EXPECT_EQ(RegNotifyChangeKeyValue(queryOnly, true, kRegNotifyChangeLastSet, &changed, true), kErrorAccessDenied);
    RegKey missing;
    EXPECT_EQ(OpenRegKey(RegRoot::LocalMachine, key + u"\\Missing", kKeyRead, &missing), kErrorFileNotFound);
}

// The same file as the C runtime names it.
std::string AgentFileForStreams(const char* relative) {
#ifdef _WIN32
    return std::string("Z:") + VANTEL_AGENT_DIR + "/" + relative;
#else
    return std::string(VANTEL_AGENT_DIR) + "/" + relative;
#endif
}

TEST(Platform, IniFilesKeepKeysWhereTheyStandAndReadNumbersAsTheSystemDoes) {
    const std::u16string file = AgentPath(u"platform_test.ini");
    DeleteFileAt(file);
    ASSERT_EQ(IniWriteText(file, u"A", u"x", u"1"), kErrorSuccess) << "a missing file is created";
    IniWriteText(file, u"A", u"y", u"2");
    IniWriteText(file, u"B", u"z", u"3");
    IniWriteText(file, u"a", u"X", u"-1");
    std::string text;
    {
        std::ifstream stream(AgentFileForStreams("platform_test.ini"), std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    }
    EXPECT_EQ(text, "[A]\r\nx=-1\r\ny=2\r\n[B]\r\nz=3\r\n") << "replaced in place, sections and keys ignore case";
    EXPECT_EQ(IniReadInt(file, u"a", u"X", 7), 0xFFFFFFFFu);
    EXPECT_EQ(IniReadInt(file, u"A", u"missing", 7), 7u);
    EXPECT_EQ(IniReadInt(file, u"C", u"x", -2), 0xFFFFFFFEu);
    for (auto [value, number] : {std::pair{u" 12abc ", 12u}, {u"\"5\"", 5u}, {u"", 7u}}) {
        IniWriteText(file, u"A", u"v", value);
        EXPECT_EQ(IniReadInt(file, u"A", u"v", 7), number) << ToUtf8(value);
    }
    EXPECT_EQ(IniWriteText(AgentPath(u"missing-folder\\x.ini"), u"A", u"x", u"1"), 3) << "no folder is made";
    EXPECT_EQ(IniReadInt(AgentPath(u"missing.ini"), u"A", u"x", 4), 4u);

    // A file in UTF-16 with its byte-order mark, as the security configuration tool exports, stays so.
    const char16_t exported[] = u"\uFEFF[System Access]\r\nMinimumPasswordLength = 9\r\n";
    std::ofstream(AgentFileForStreams("platform_test.ini"), std::ios::binary)
        .write(reinterpret_cast<const char*>(exported), sizeof exported - 2);
    EXPECT_EQ(IniReadInt(file, u"System Access", u"MinimumPasswordLength", 0), 9u);
    IniWriteText(file, u"System Access", u"LockoutBadCount", u"3");
    EXPECT_EQ(IniReadInt(file, u"System Access", u"LockoutBadCount", 0), 3u);
    std::ifstream unicode(AgentFileForStreams("platform_test.ini"), std::ios::binary);
    EXPECT_EQ(unicode.get(), 0xFF);
    EXPECT_EQ(unicode.get(), 0xFE);
    unicode.close();
    EXPECT_EQ(DeleteFileAt(file), kErrorSuccess);
}

TEST(Platform, AutoResetEventReleasesOneWaitManualResetStaysSet) {
    Event automatic(false, true);
    EXPECT_EQ(automatic.Wait(0), WaitResult::Signaled);
    EXPECT_EQ(automatic.Wait(0), WaitResult::Timeout);
    Event manual(true, false);
    EXPECT_EQ(manual.Wait(10), WaitResult::Timeout);
    manual.Set();
    EXPECT_EQ(manual.Wait(0), WaitResult::Signaled);
    EXPECT_EQ(manual.Wait(0), WaitResult::Signaled);
    manual.Reset();
    EXPECT_EQ(manual.Wait(0), WaitResult::Timeout);
}

TEST(Platform, WorkItemsRunOnThePool) {
    // Static: the last item may still be leaving Set() when the wait returns.
    static struct Context {
        Event done{true, false};
        std::atomic<int> runs{0};
    } context;
    context.done.Reset();
    context.runs = 0;
    constexpr int kItems = 8;
    for (int i = 0; i < kItems; ++i) {
        ASSERT_TRUE(QueueLongRunningWork(
            [](void* raw) {
                auto* context = static_cast<Context*>(raw);
                if (++context->runs == kItems) context->done.Set();
            },
            &context));
    }
    EXPECT_EQ(context.done.Wait(10000), WaitResult::Signaled);
    EXPECT_EQ(context.runs, kItems);
}

}  // namespace
}  // namespace vantel::platform
