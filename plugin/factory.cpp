#include "plugin/factory.h"

#include <atomic>
#include <mutex>
#include <new>

#include "accounts/certificate.h"
#include "accounts/nt_users.h"
#include "eventlog/nt_event_log.h"
#include "plugin/module_lifetime.h"

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
int32_t g_liveObjects = 0;  // under LifetimeLock

// Around building, counting and destroying objects, and the module's resources with them.
std::mutex& LifetimeLock() {
    static std::mutex* const lock = new std::mutex;
    return *lock;
}

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

}  // namespace

PluginBase* LiveInstance(PluginClass pluginClass) { return g_slots[static_cast<int>(pluginClass)].load(); }

PluginBase* InstanceOf(PluginClass pluginClass) {
    std::atomic<PluginBase*>& slot = g_slots[static_cast<int>(pluginClass)];
    if (PluginBase* existing = slot.load()) return existing;
    std::lock_guard guard(LifetimeLock());
    // A racing caller may have built it meanwhile: both get the same object.
    if (PluginBase* existing = slot.load()) return existing;
    if (g_liveObjects == 0) AcquireModuleResources();
    PluginBase* built = Build(pluginClass);
    if (built == nullptr) {
        // Only objects that live are counted.
        if (g_liveObjects == 0) ReleaseModuleResources();
        return nullptr;
    }
    ++g_liveObjects;
    slot.store(built);
    return built;
}

IKestranePlugin* CreatePluginObject(const Guid* classId) {
    if (classId == nullptr) return nullptr;
    for (const ClassEntry& entry : kClassTable)
        if (SameGuid(*classId, entry.classId)) return InstanceOf(entry.pluginClass);
    return nullptr;
}

void ForgetInstance(PluginClass pluginClass, PluginBase* object) {
    PluginBase* expected = object;
    g_slots[static_cast<int>(pluginClass)].compare_exchange_strong(expected, nullptr);
}

int32_t ReleaseInstance(PluginBase* object) {
    delete object;
    std::lock_guard guard(LifetimeLock());
    int32_t left = --g_liveObjects;
    if (left == 0) ReleaseModuleResources();
    return left;
}

}  // namespace vantel
