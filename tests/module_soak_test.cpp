// The module loaded by path and unloaded again, round after round, as the agent does: its three
// plugins driven with named events committed from several threads and server messages still in
// flight when they are stopped, then destroyed and the library freed. Some committing threads
// outlive every unload. Nothing may crash, and every event and reply must arrive.
#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/format.h"
#include "fake_host.h"
#include "pool_settles.h"
#include "vantel/plugin_abi.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>

#include "winsim/signing.h"
#include "winsim/threads.h"
#endif

namespace vantel {
namespace {

using testing::FakeHost;
using testing::FakeMessage;

const auto* const kPoolSettles = ::testing::AddGlobalTestEnvironment(new testing::PoolSettles);

using CommitSoakEventFn = void(VANTEL_CALL*)(uint32_t producer, uint32_t sequence);

constexpr int kRounds = 200;
constexpr int kLastingProducers = 3;  // threads that live through every unload
constexpr int kRoundProducers = 2;    // threads that end within their round
constexpr int kEventsPerProducer = 20;
constexpr int kEventsPerRound = (kLastingProducers + kRoundProducers) * kEventsPerProducer;
constexpr int kListRequestsPerPlugin = 1;

// The test build of the module: the module's code with the one more export.
class Module {
public:
#ifdef _WIN32
    Module() {
        std::string path = "Z:" VANTEL_AGENT_DIR "/bin/VantelSoak.dll";
        for (char& c : path)
            if (c == '/') c = '\\';
        library_ = LoadLibraryA(path.c_str());
    }
    ~Module() {
        if (library_) FreeLibrary(static_cast<HMODULE>(library_));
    }
    void* Find(const char* name) const {
        return library_ ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library_), name)) : nullptr;
    }
#else
    Module() { library_ = dlopen(VANTEL_AGENT_DIR "/bin/VantelSoak.dll", RTLD_NOW | RTLD_LOCAL); }
    ~Module() {
        if (library_) dlclose(library_);
    }
    void* Find(const char* name) const { return library_ ? dlsym(library_, name) : nullptr; }
#endif
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    CreatePluginFn createPlugin() const { return reinterpret_cast<CreatePluginFn>(Find("CreatePlugin")); }
    CommitSoakEventFn commit() const { return reinterpret_cast<CommitSoakEventFn>(Find("CommitSoakEvent")); }

private:
    void* library_ = nullptr;
};

// Threads that commit named events into whichever module the round has loaded.
class LastingProducers {
public:
    LastingProducers() {
        for (uint32_t p = 0; p < kLastingProducers; ++p) threads_.emplace_back([this, p] { Produce(p); });
    }
    ~LastingProducers() {
        {
            std::lock_guard guard(lock_);
            ending_ = true;
        }
        changed_.notify_all();
        for (std::thread& thread : threads_) thread.join();
    }

    // Every producer commits its events of the round; returns when all have.
    void Commit(CommitSoakEventFn commit, uint32_t round) {
        std::unique_lock guard(lock_);
        commit_ = commit;
        round_ = round;
        done_ = 0;
        changed_.notify_all();
        changed_.wait(guard, [&] { return done_ == kLastingProducers; });
    }

private:
    void Produce(uint32_t producer) {
        uint32_t seen = 0;
        for (;;) {
            CommitSoakEventFn commit;
            uint32_t round;
            {
                std::unique_lock guard(lock_);
                changed_.wait(guard, [&] { return ending_ || round_ != seen; });
                if (ending_) return;
                commit = commit_;
                round = seen = round_;
            }
            for (uint32_t i = 0; i < kEventsPerProducer; ++i) commit(producer, round * kEventsPerProducer + i);
            std::lock_guard guard(lock_);
            ++done_;
            changed_.notify_all();
        }
    }

    std::mutex lock_;
    std::condition_variable changed_;
    CommitSoakEventFn commit_ = nullptr;
    uint32_t round_ = 0;
    int done_ = 0;
    bool ending_ = false;
    std::vector<std::thread> threads_;
};

class ModuleSoak : public ::testing::Test {
protected:
#ifndef _WIN32
    // The simulated machine checks the agent's libraries against the module's signer.
    void SetUp() override {
        for (const char* file : {"/bin/VantelSoak.dll", "/bin/Quaymar.dll", "/Qorbase.dll"})
            winsim::SetFileSigner(std::string(VANTEL_AGENT_DIR) + file, "agent");
    }
#endif

    // Hands the message to the plugin's handler as the host does; answers whether it was taken.
    bool Deliver(FakeHost& host, const std::u16string& command, std::optional<std::string> payload = {}) {
        messages_.push_back(std::make_unique<FakeMessage>(command, u""));
        FakeMessage& message = *messages_.back();
        message.payload = std::move(payload);
        message.AddRef();  // the host's reference, taken over by an accepting handler
        if (host.handler != nullptr && host.handler->OnMessage(&message) == 1) return true;
        message.Release();
        return false;
    }

    static void WaitIdle(IKestranePlugin* const (&plugins)[3]) {
        for (IKestranePlugin* plugin : plugins)
            while (plugin->IsBusy() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    FakeHost hosts_[3];
    std::vector<std::unique_ptr<FakeMessage>> messages_;
};

TEST_F(ModuleSoak, LoadDriveDestroyUnloadWithNothingLost) {
    const Guid* const classes[] = {&kClsidEventLog, &kClsidNtUsers, &kClsidCertificate};
    FakeHost& eventLogHost = hosts_[0];
    LastingProducers lasting;
    for (uint32_t round = 1; round <= kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        {
            Module module;
            ASSERT_NE(module.createPlugin(), nullptr);
            ASSERT_NE(module.commit(), nullptr);
            IKestranePlugin* plugins[3];
            for (int i = 0; i < 3; ++i) {
                plugins[i] = module.createPlugin()(classes[i]);
                ASSERT_NE(plugins[i], nullptr);
                plugins[i]->Initialize(&hosts_[i]);
                plugins[i]->Start();
            }

            std::vector<std::thread> passing;
            for (uint32_t p = 0; p < kRoundProducers; ++p)
                passing.emplace_back([commit = module.commit(), round, p] {
                    for (uint32_t i = 0; i < kEventsPerProducer; ++i)
                        commit(kLastingProducers + p, round * kEventsPerProducer + i);
                });
            auto requestLists = [&] {
                int accepted = 0;
                for (int i = 0; i < kListRequestsPerPlugin; ++i)
                    accepted += Deliver(hosts_[1], u"FreshList") + Deliver(hosts_[2], u"FreshList");
                EXPECT_EQ(accepted, 2 * kListRequestsPerPlugin);
            };
            requestLists();
            EXPECT_TRUE(Deliver(eventLogHost, u"", R"({"FreshList":"Security","LastDays":"1"})"));
            lasting.Commit(module.commit(), round);
            for (std::thread& thread : passing) thread.join();
            WaitIdle(plugins);
            size_t replies = hosts_[1].sent.size() + hosts_[2].sent.size();
            EXPECT_EQ(replies, static_cast<size_t>(2 * kListRequestsPerPlugin)) << "one reply per list request";

            // More requests, still queued or running when the plugins are stopped: a list cut
            // short by the stop sends no reply, but each ends before the host's wait does.
            requestLists();
            for (IKestranePlugin* plugin : plugins) plugin->Stop();
            WaitIdle(plugins);
            EXPECT_EQ(plugins[0]->Destroy(), 2);
            EXPECT_EQ(plugins[1]->Destroy(), 1);
            EXPECT_EQ(plugins[2]->Destroy(), 0);
            for (FakeHost& host : hosts_) EXPECT_EQ(host.handler, nullptr) << "every handler withdrawn";
        }  // unloaded here, as soon as the last Destroy returned
#ifndef _WIN32
        // A pool thread may hold the last reference and unload the module itself; loading it
        // again comes after that.
        winsim::WaitForIdleThreadPool();
#endif

        for (const auto& message : messages_) ASSERT_EQ(message->references, 1) << "released once by the module";
        std::set<std::u16string> events;
        for (const auto& event : eventLogHost.events) {
            ASSERT_EQ(event->name, u"Soak");
            ASSERT_EQ(event->fields.size(), 2u);
            events.insert(event->fields[0].second + u"/" + event->fields[1].second);
        }
        ASSERT_EQ(eventLogHost.events.size(), static_cast<size_t>(kEventsPerRound)) << "delivered before the last Destroy";
        ASSERT_EQ(events.size(), static_cast<size_t>(kEventsPerRound)) << "each once";
        for (FakeHost& host : hosts_) {
            host.events.clear();
            host.sent.clear();
        }
        messages_.clear();
    }
}

}  // namespace
}  // namespace vantel
