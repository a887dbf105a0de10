#include "winsim/system.h"

#include <atomic>
#include <map>
#include <mutex>

#include "common/text.h"

namespace winsim {

namespace {

struct System {
    std::mutex lock;
    std::u16string windows = u"C:\\Windows";
    std::u16string system = u"C:\\Windows\\system32";
    std::map<std::u16string, std::u16string> environment{  // by folded name
        {u"SYSTEMROOT", u"C:\\Windows"},
        {u"WINDIR", u"C:\\Windows"},
        {u"SYSTEMDRIVE", u"C:"},
        {u"PROGRAMFILES", u"C:\\Program Files"},
        {u"PROGRAMDATA", u"C:\\ProgramData"}};
};

System& TheSystem() {
    static System* system = new System;
    return *system;
}

}  // namespace

void SetWindowsDirectories(const std::u16string& windows, const std::u16string& system) {
    System& machine = TheSystem();
    std::lock_guard guard(machine.lock);
    machine.windows = windows;
    machine.system = system;
}

void SetEnvironmentVariable(const std::u16string& name, const std::u16string& value) {
    System& machine = TheSystem();
    std::lock_guard guard(machine.lock);
    if (value.empty()) machine.environment.erase(vantel::FoldCase(name));
    else machine.environment[vantel::FoldCase(name)] = value;
}

std::u16string WindowsDirectory() {
    System& machine = TheSystem();
    std::lock_guard guard(machine.lock);
    return machine.windows;
}

std::u16string SystemDirectory() {
    System& machine = TheSystem();
    std::lock_guard guard(machine.lock);
    return machine.system;
}

std::u16string CommonAppDataDirectory() {
    System& machine = TheSystem();
    std::lock_guard guard(machine.lock);
    auto found = machine.environment.find(u"PROGRAMDATA");
    return found == machine.environment.end() ? std::u16string() : found->second;
}

std::u16string ExpandEnvironmentStrings(const std::u16string& text) {
    System& machine = TheSystem();
    std::lock_guard guard(machine.lock);
    std::u16string expanded;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t open = text.find(u'%', pos);
        size_t close = open == std::u16string::npos ? open : text.find(u'%', open + 1);
        if (close == std::u16string::npos) break;
        expanded.append(text, pos, open - pos);
        auto found = machine.environment.find(vantel::FoldCase(text.substr(open + 1, close - open - 1)));
        if (found != machine.environment.end()) {
            expanded += found->second;
            pos = close + 1;
        } else {
            // An unknown name keeps its percent sign; the closing one may open the next reference.
            expanded += u'%';
            pos = open + 1;
        }
    }
    expanded.append(text, pos);
    return expanded;
}

namespace {
std::atomic<uint32_t> osMajorVersion{10};
}  // namespace

void SetOsMajorVersion(uint32_t major) { osMajorVersion = major; }

uint32_t OsMajorVersion() { return osMajorVersion.load(); }

}  // namespace winsim
