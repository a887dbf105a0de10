#include "plugin/factory.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "eventlog/nt_event_log.h"

namespace vantel {
namespace {

TEST(Factory, RacingCallersShareOneObjectAndTheCountStaysExact) {
    constexpr int kThreads = 16;
    std::vector<IKestranePlugin*> seen(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&seen, i] { seen[i] = CreatePluginObject(&kClsidNtUsers); });
    for (std::thread& thread : threads) thread.join();
    for (IKestranePlugin* plugin : seen) EXPECT_EQ(plugin, seen[0]);
    ASSERT_NE(seen[0], nullptr);
    // Objects that lost the race are not counted as alive.
    EXPECT_EQ(seen[0]->Destroy(), 0);
}

TEST(Factory, ObjectIsReusedUntilDestroyedThenRebuilt) {
    auto* first = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CreatePluginObject(&kClsidEventLog), first);
    first->SetProperty(CNtEventLog::kPropertyDesktopProduct, nullptr);
    EXPECT_TRUE(first->desktopProduct());
    EXPECT_EQ(first->Destroy(), 0);

    auto* second = static_cast<CNtEventLog*>(CreatePluginObject(&kClsidEventLog));
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(second->desktopProduct()) << "a destroyed object must not be handed out again";
    EXPECT_EQ(second->Destroy(), 0);
}

TEST(Factory, ThreeClassesThreeObjectsAndDestroyCountsDown) {
    IKestranePlugin* eventLog = CreatePluginObject(&kClsidEventLog);
    IKestranePlugin* users = CreatePluginObject(&kClsidNtUsers);
    IKestranePlugin* certificates = CreatePluginObject(&kClsidCertificate);
    ASSERT_TRUE(eventLog && users && certificates);
    EXPECT_NE(eventLog, users);
    EXPECT_NE(users, certificates);
    EXPECT_STREQ(reinterpret_cast<const char*>(static_cast<PluginBase*>(users)->pluginName()),
                 reinterpret_cast<const char*>(u"NtUsers"));
    EXPECT_EQ(eventLog->Destroy(), 2);
    EXPECT_EQ(users->Destroy(), 1);
    EXPECT_EQ(certificates->Destroy(), 0);
}

TEST(Factory, UnknownOrMissingIdentifierGivesNull) {
    Guid unknown = kClsidEventLog;
    unknown.data4[7] ^= 1;
    EXPECT_EQ(CreatePluginObject(&unknown), nullptr);
    EXPECT_EQ(CreatePluginObject(nullptr), nullptr);
    // Nothing was built, so a new object is the only one alive.
    EXPECT_EQ(CreatePluginObject(&kClsidCertificate)->Destroy(), 0);
}

}  // namespace
}  // namespace vantel
