#include "winsim/devices.h"

#include <map>
#include <mutex>

#include "common/text.h"
#include "platform/errors.h"
#include "winsim/sessions.h"

namespace winsim {

using namespace vantel::platform;  // the Windows error codes

namespace {

struct DeviceKey {
    std::u16string user;  // folded; empty for everyone
    std::u16string name;  // folded
    auto operator<=>(const DeviceKey&) const = default;
};

struct Devices {
    std::mutex lock;
    std::map<DeviceKey, std::u16string> targets;
};

const std::map<DeviceKey, std::u16string> kDefaultTargets{{{u"", u"C:"}, u"\\Device\\HarddiskVolume2"}};

Devices& TheDevices() {
    static Devices* devices = new Devices{{}, kDefaultTargets};
    return *devices;
}

}  // namespace

void DefineDosDevice(const std::u16string& name, const std::u16string& target, const std::u16string& user) {
    Devices& devices = TheDevices();
    std::lock_guard guard(devices.lock);
    DeviceKey key{vantel::FoldCase(user), vantel::FoldCase(name)};
    if (target.empty()) devices.targets.erase(key);
    else devices.targets[key] = target;
}

void ResetDosDevices() {
    Devices& devices = TheDevices();
    std::lock_guard guard(devices.lock);
    devices.targets = kDefaultTargets;
}

int32_t QueryDosDevice(const std::u16string& name, std::u16string* target) {
    std::u16string user = vantel::FoldCase(ImpersonatedUser().value_or(u""));
    std::u16string folded = vantel::FoldCase(name);
    Devices& devices = TheDevices();
    std::lock_guard guard(devices.lock);
    // The user's own devices come before the global ones.
    for (const DeviceKey& key : {DeviceKey{user, folded}, DeviceKey{u"", folded}}) {
        auto found = devices.targets.find(key);
        if (found != devices.targets.end()) {
            *target = found->second;
            return kErrorSuccess;
        }
    }
    return kErrorFileNotFound;
}

}  // namespace winsim
