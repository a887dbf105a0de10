#include "platform/wmi.h"

#include <vector>

#include "platform/sim/com_object.h"
#include "winsim/wmi.h"

namespace vantel::platform {

namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kWbemFalse = 1;
constexpr int32_t kInvalidPointer = static_cast<int32_t>(0x80004003);
constexpr int32_t kTypeMismatch = static_cast<int32_t>(0x80041005);

// What a simulated reference stands for.
struct Locator {};
struct Services {};
struct Enumerator {
    std::vector<winsim::WmiObject> objects;
    size_t next = 0;
};
using ComObject = SimComObjectOf<Locator, Services, Enumerator, winsim::WmiObject>;

template <typename T>
T* As(const WmiPtr& pointer) {
    return SimComAs<T, ComObject>(pointer);
}

template <typename T>
WmiPtr Make(T object) {
    return SimComMake<ComObject>(std::move(object));
}

template <typename T>
int32_t GetProperty(const WmiPtr& object, const std::u16string& name, T* value) {
    auto* properties = As<winsim::WmiObject>(object);
    if (!properties) return kInvalidPointer;
    auto found = properties->find(name);
    if (found == properties->end()) return winsim::kWbemNotFound;
    const T* typed = std::get_if<T>(&found->second);
    if (!typed) return kTypeMismatch;
    *value = *typed;
    return kOk;
}

}  // namespace

int32_t ComInitializeSecurity() { return kOk; }

int32_t CreateWbemLocator(WmiPtr* locator) {
    *locator = Make(Locator{});
    return kOk;
}

int32_t WbemConnectServer(const WmiPtr& locator, const std::u16string& nameSpace, WmiPtr* services) {
    if (!As<Locator>(locator)) return kInvalidPointer;
    if (int32_t result = winsim::WmiConnect(nameSpace)) return result;
    *services = Make(Services{});
    return kOk;
}

int32_t WbemSetProxyBlanket(const WmiPtr& services) { return As<Services>(services) ? kOk : kInvalidPointer; }

int32_t WbemExecQuery(const WmiPtr& services, const std::u16string& wql, WmiPtr* enumerator) {
    if (!As<Services>(services)) return kInvalidPointer;
    Enumerator result;
    if (int32_t error = winsim::WmiExecQuery(wql, &result.objects)) return error;
    *enumerator = Make(std::move(result));
    return kOk;
}

int32_t WbemNext(const WmiPtr& enumerator, WmiPtr* object, uint32_t* returned) {
    auto* walk = As<Enumerator>(enumerator);
    if (!walk) return kInvalidPointer;
    *returned = walk->next < walk->objects.size() ? 1 : 0;
    if (*returned == 0) return kWbemFalse;
    *object = Make(walk->objects[walk->next++]);
    return kOk;
}

int32_t WbemGetText(const WmiPtr& object, const std::u16string& name, std::u16string* value) {
    return GetProperty(object, name, value);
}

int32_t WbemGetNumber(const WmiPtr& object, const std::u16string& name, int32_t* value) {
    return GetProperty(object, name, value);
}

}  // namespace vantel::platform
