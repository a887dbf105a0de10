#include "winsim/certificates.h"

#include <map>
#include <mutex>

#include "common/text.h"
#include "platform/errors.h"
#include "winsim/handles.h"
#include "winsim/sessions.h"

namespace winsim {

using namespace vantel::platform;  // the Windows error codes

namespace {

constexpr int32_t kCryptENotFound = static_cast<int32_t>(0x80092004);

// A certificate in its store; ids grow with each addition, so a walk survives deletions.
struct StoredCertificate {
    uint64_t id;
    Certificate certificate;
};

struct StoreRef {
    std::u16string user;
};

struct ContextRef {
    std::u16string user;
    uint64_t id;
    Certificate certificate;
};

struct Machine {
    std::mutex lock;
    std::map<std::u16string, std::vector<StoredCertificate>> stores;  // by folded user name
    uint64_t nextId = 1;
    int32_t openFailure = 0;
    std::function<void()> onEnumerated;
    HandleTable<StoreRef> storeHandles;
    HandleTable<ContextRef> contexts;
};

Machine& TheMachine() {
    static Machine* machine = new Machine;
    return *machine;
}

std::u16string StoreKey(const std::u16string& user) { return vantel::FoldCase(user); }

}  // namespace

void AddRootCertificate(const std::u16string& user, const Certificate& certificate) {
    Machine& machine = TheMachine();
    std::lock_guard guard(machine.lock);
    machine.stores[StoreKey(user)].push_back({machine.nextId++, certificate});
}

std::vector<Certificate> RootCertificates(const std::u16string& user) {
    Machine& machine = TheMachine();
    std::lock_guard guard(machine.lock);
    std::vector<Certificate> certificates;
    for (const StoredCertificate& stored : machine.stores[StoreKey(user)]) certificates.push_back(stored.certificate);
    return certificates;
}

void FailOpenCertStore(int32_t error) {
    Machine& machine = TheMachine();
    std::lock_guard guard(machine.lock);
    machine.openFailure = error;
}

void OnCertificateEnumerated(std::function<void()> hook) {
    Machine& machine = TheMachine();
    std::lock_guard guard(machine.lock);
    machine.onEnumerated = std::move(hook);
}

void ResetCertificates() {
    Machine& machine = TheMachine();
    std::lock_guard guard(machine.lock);
    machine.stores.clear();
    machine.openFailure = 0;
    machine.onEnumerated = nullptr;
}

size_t OpenCertHandleCount() { return TheMachine().storeHandles.Count() + TheMachine().contexts.Count(); }

int32_t OpenRootStore(const std::u16string& name, uintptr_t* store) {
    Machine& machine = TheMachine();
    {
        std::lock_guard guard(machine.lock);
        if (machine.openFailure) return machine.openFailure;
    }
    if (!vantel::EqualsIgnoreCase(name, u"root")) return kErrorFileNotFound;
    *store = machine.storeHandles.Open({ImpersonatedUser().value_or(kProcessAccount)});
    return kErrorSuccess;
}

bool CloseCertStore(uintptr_t store) { return TheMachine().storeHandles.Close(store); }

uintptr_t EnumCertificates(uintptr_t store, uintptr_t previous) {
    Machine& machine = TheMachine();
    uint64_t after = 0;
    if (previous != 0) {
        if (std::optional<ContextRef> context = machine.contexts.Get(previous)) after = context->id;
        machine.contexts.Close(previous);
    }
    std::optional<StoreRef> opened = machine.storeHandles.Get(store);
    if (!opened) return 0;
    std::function<void()> hook;
    std::optional<ContextRef> next;
    {
        std::lock_guard guard(machine.lock);
        hook = machine.onEnumerated;
        for (const StoredCertificate& stored : machine.stores[StoreKey(opened->user)])
            if (stored.id > after) {
                next = ContextRef{opened->user, stored.id, stored.certificate};
                break;
            }
    }
    if (!next) return 0;
    if (hook) hook();
    return machine.contexts.Open(*next);
}

std::optional<Certificate> CertificateOf(uintptr_t context) {
    std::optional<ContextRef> found = TheMachine().contexts.Get(context);
    if (!found) return std::nullopt;
    return found->certificate;
}

uintptr_t DuplicateCertificateContext(uintptr_t context) {
    std::optional<ContextRef> found = TheMachine().contexts.Get(context);
    return found ? TheMachine().contexts.Open(*found) : 0;
}

bool FreeCertificateContext(uintptr_t context) { return TheMachine().contexts.Close(context); }

int32_t FindCertificateBySha1(uintptr_t store, const std::vector<uint8_t>& hash, uintptr_t* context) {
    Machine& machine = TheMachine();
    std::optional<StoreRef> opened = machine.storeHandles.Get(store);
    if (!opened) return kErrorInvalidHandle;
    std::optional<ContextRef> match;
    {
        std::lock_guard guard(machine.lock);
        for (const StoredCertificate& stored : machine.stores[StoreKey(opened->user)])
            if (stored.certificate.sha1 == hash) {
                match = ContextRef{opened->user, stored.id, stored.certificate};
                break;
            }
    }
    if (!match) return kCryptENotFound;
    *context = machine.contexts.Open(*match);
    return kErrorSuccess;
}

int32_t DeleteCertificate(uintptr_t context) {
    Machine& machine = TheMachine();
    std::optional<ContextRef> found = machine.contexts.Get(context);
    if (!found) return kErrorInvalidHandle;
    machine.contexts.Close(context);
    std::lock_guard guard(machine.lock);
    std::erase_if(machine.stores[StoreKey(found->user)],
                  [&](const StoredCertificate& stored) { return stored.id == found->id; });
    return kErrorSuccess;
}

}  // namespace winsim
