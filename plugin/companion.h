// Finding and binding the agent's companion libraries, and the objects they make.
#pragma once
#include <mutex>
#include <string>

#include "common/com_ptr.h"
#include "platform/library.h"
#include "vantel/companion_abi.h"

namespace vantel {

// One companion library, loaded by full path once it verifies as the agent's own.
class CompanionLibrary {
public:
    CompanionLibrary() = default;
    ~CompanionLibrary();
    CompanionLibrary(const CompanionLibrary&) = delete;
    CompanionLibrary& operator=(const CompanionLibrary&) = delete;

    // Loads, resolves both entry points and calls InitLibs when present; false (and nothing
    // held) when the file does not verify, does not load, lacks CreateObject or fails InitLibs.
    bool Load(const std::u16string& fullPath);
    void Release();
    HResult CreateObject(const Guid& iid, void** object) const;

private:
    platform::LibraryHandle library_ = nullptr;
    CreateObjectFn createObject_ = nullptr;
};

// The companion libraries of one process: "Qorbase.dll" bound directly for JSON objects and
// the searched "Qorbase.dll"/"Qorconf.dll" pair for XML documents. Each binding is tried once
// and its outcome kept.
class CompanionBindings {
public:
    HResult CreateJsonObject(const std::u16string& qorbasePath, ComPtr<IJsonObject>* object);
    HResult CreateXmlDocument(ComPtr<IRapidXMLDOMDocument>* object);

    // The first existing file of that name in the executable's folder, its parent, or the
    // host's "App Paths" folder; empty when there is none.
    static std::u16string FindCompanion(const std::u16string& fileName);

    // Frees both bindings; the next creation binds afresh. No object they made may be left.
    void Release();

private:
    std::mutex directLock_;
    bool directTried_ = false;
    CompanionLibrary direct_;

    std::mutex searchedLock_;
    bool searchedTried_ = false;
    CompanionLibrary qorbase_;
    CompanionLibrary qorconf_;
};

CompanionBindings& ProcessCompanions();

}  // namespace vantel
