#include "host/runner.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "common/text.h"
#include "host/host_objects.h"
#include "host/output.h"
#include "host/system.h"

namespace qorexthost {

namespace {

constexpr auto kBusyPollInterval = std::chrono::milliseconds(5);

// The module keeps the host object it is given for the life of the process and may call it from
// its own threads after the last slot returned, so these are never freed.
PluginHost& HostOf(size_t plugin) {
    static PluginHost* const hosts[] = {new PluginHost(kPluginClasses[0].name),
                                        new PluginHost(kPluginClasses[1].name),
                                        new PluginHost(kPluginClasses[2].name)};
    static_assert(std::size(hosts) == std::size(kPluginClasses));
    return *hosts[plugin];
}

void WriteCall(size_t plugin, Slot slot, int32_t result) {
    WriteLine(
        {{"type", "call"}, {"plugin", kPluginClasses[plugin].name}, {"slot", SlotName(slot)}, {"result", result}});
}

constexpr int32_t kPropertyProcessInfo = 3;

// Enough zeroed words for any property's data block.
using PropertyBlock = std::array<void*, 8>;

}  // namespace

Runner::~Runner() {
    for (vantel::IKestranePlugin* plugin : live_)
        if (plugin != nullptr)
            while (plugin->IsBusy() != 0) std::this_thread::sleep_for(kBusyPollInterval);
}

void Runner::Run(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        if (const auto* call = std::get_if<CallStep>(&step)) {
            if (call->plugin) {
                Call(*call->plugin, *call);
            } else {
                for (size_t plugin : plugins_) Call(plugin, *call);
            }
        } else if (const auto* message = std::get_if<MessageStep>(&step)) {
            HostOf(message->plugin)
                .Deliver(vantel::FromUtf8(message->command), vantel::FromUtf8(message->value), message->payload);
        } else if (const auto* waitIdle = std::get_if<WaitIdleStep>(&step)) {
            WaitIdle(waitIdle->plugin);
        } else if (const auto* machine = std::get_if<MachineStep>(&step)) {
            ApplyMachineStep(machine->json);
            SettleEvents();
        } else if (const auto* replay = std::get_if<ReplayStep>(&step)) {
            ReplayTotals totals = ReplayRecordings(replay->paths);
            replayed_.files += totals.files;
            replayed_.records += totals.records;
            replayed_.skipped += totals.skipped;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::get<PauseStep>(step).milliseconds));
        }
    }
}

void Runner::SettleEvents() {
    // The module hands named events over from a thread of its own: wait until it has been quiet
    // for a while, so that the output of a run never depends on timing.
    constexpr auto kQuiet = std::chrono::milliseconds(100);
    constexpr int kMostRounds = 100;
    uint64_t seen = EventRecordRequests();
    for (int round = 0; round < kMostRounds; ++round) {
        std::this_thread::sleep_for(kQuiet);
        uint64_t now = EventRecordRequests();
        if (now == seen) return;
        seen = now;
    }
}

void Runner::Call(size_t plugin, const CallStep& step) {
    vantel::IKestranePlugin& object = Plugin(plugin);
    PropertyBlock block{};
    int32_t result = 0;
    switch (step.slot) {
        case Slot::Install: result = object.Install(); break;
        case Slot::Uninstall: result = object.Uninstall(); break;
        case Slot::Initialize: result = object.Initialize(&HostOf(plugin)); break;
        case Slot::Start: result = object.Start(); break;
        case Slot::Stop: result = object.Stop(); break;
        case Slot::IsBusy: result = object.IsBusy(); break;
        case Slot::OnFileUpdated:
            result = object.OnFileUpdated(vantel::ToWide(vantel::FromUtf8(step.path)));
            break;
        case Slot::SetProperty:
            if (step.propertyId == kPropertyProcessInfo) block[2] = MachineProcessInfo();
            result = object.SetProperty(step.propertyId, block.data());
            break;
        case Slot::GetProperty: result = object.GetProperty(step.propertyId, block.data()); break;
        case Slot::Destroy:
            WaitIdle(plugin);
            result = object.Destroy();
            live_[plugin] = nullptr;
            break;
    }
    WriteCall(plugin, step.slot, result);
}

void Runner::WaitIdle(size_t plugin) {
    vantel::IKestranePlugin& object = Plugin(plugin);
    while (object.IsBusy() != 0) std::this_thread::sleep_for(kBusyPollInterval);
    WriteCall(plugin, Slot::IsBusy, 0);
}

vantel::IKestranePlugin& Runner::Plugin(size_t plugin) {
    if (live_[plugin] == nullptr) {
        live_[plugin] = createPlugin_(&kPluginClasses[plugin].classId);
        if (live_[plugin] == nullptr)
            throw ModuleError(std::string("the module gives no ") + kPluginClasses[plugin].name + " plugin");
    }
    return *live_[plugin];
}

}  // namespace qorexthost
