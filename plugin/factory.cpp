#include "plugin/factory.h"

#include <atomic>
#include <mutex>
#include <new>

#include "accounts/account_policy.h"
#include "accounts/certificate.h"
#include "accounts/nt_users.h"
#include "common/path.h"
#include "eventlog/nt_event_log.h"
#include "platform/library.h"
#include "plugin/log_sink.h"

namespace vantel {

namespace {

struct ClassEntry {
    const Guid& classId;
    PluginClass pluginClass;
};

constexpr ClassEntry kClassTable[] = {
    {kClsidEventLog, PluginClass::EventLog},
    {kClsidNtUsers, PluginClass::NtUsers},
    {kClsidCertificate, PluginClass::Certificate},
};

std::atomic<PluginBase*> g_slots[3];
std::atomic<int32_t> g_liveObjects{0};

PluginBase* Build(PluginClass pluginClass) {
    try {
        switch (pluginClass) {
            case PluginClass::EventLog: return new CNtEventLog;
            case PluginClass::NtUsers: return new CNtUsers;
            case PluginClass::Certificate: return new CCertificate;
        }
    } catch (...) {
        // Allocation failure: the slot keeps null.
    }
    return nullptr;
}

void Bootstrap() {
    std::u16string modulePath = platform::ThisModulePath();
    if (modulePath.empty()) return;
    std::u16string logLibrary = PathAppend(modulePath, u"..\\Quaymar.dll");
    if (platform::VerifiesAsAgentOwn(logLibrary)) BindLogSink(logLibrary, u"Vantel", 1000);
}

}  // namespace

PluginBase* InstanceOf(PluginClass pluginClass) {
    std::atomic<PluginBase*>& slot = g_slots[static_cast<int>(pluginClass)];
    if (PluginBase* existing = slot.load()) return existing;
    ++g_liveObjects;
    PluginBase* built = Build(pluginClass);
    PluginBase* expected = nullptr;
    if (built != nullptr && slot.compare_exchange_strong(expected, built)) return built;
    // Not built, or another thread won the race: only objects that live are counted.
    delete built;
    --g_liveObjects;
    return expected;
}

IKestranePlugin* CreatePluginObject(const Guid* classId) {
    // Once per process, whatever the outcome; racing first calls bind the log only once.
    static std::once_flag bootstrap;
    std::call_once(bootstrap, [] {
        try {
            Bootstrap();
        } catch (...) {
            // Without a log the plugins still work.
        }
    });
    if (classId == nullptr) return nullptr;
    for (const ClassEntry& entry : kClassTable)
        if (SameGuid(*classId, entry.classId)) return InstanceOf(entry.pluginClass);
    return nullptr;
}

int32_t ReleaseInstance(PluginClass pluginClass, PluginBase* object) {
    // The slot is cleared first so that no caller is handed an object being destroyed.
    PluginBase* expected = object;
    g_slots[static_cast<int>(pluginClass)].compare_exchange_strong(expected, nullptr);
    delete object;
    int32_t left = --g_liveObjects;
    // The module may be unloaded once the last object is gone: its SAM watch ends first.
    if (left == 0) AccountPolicy::Instance().ReleaseSamMonitor();
    return left;
}

}  // namespace vantel
