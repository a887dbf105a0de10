#include "plugin/companion.h"

#include "common/path.h"
#include "platform/registry.h"
#include "plugin/singleton.h"

namespace vantel {

CompanionLibrary::~CompanionLibrary() { Release(); }

void CompanionLibrary::Release() {
    platform::FreeLibraryHandle(library_);
    library_ = nullptr;
    createObject_ = nullptr;
}

bool CompanionLibrary::Load(const std::u16string& fullPath) {
    if (!platform::VerifiesAsAgentOwn(fullPath)) return false;
    platform::LibraryHandle library = platform::LoadLibraryByPath(fullPath);
    if (library == nullptr) return false;
    auto initLibs = reinterpret_cast<InitLibsFn>(platform::GetLibraryProcedure(library, "InitLibs"));
    auto createObject = reinterpret_cast<CreateObjectFn>(platform::GetLibraryProcedure(library, "CreateObject"));
    uint32_t version = 256;
    bool ready = initLibs ? initLibs(&version) == 0 && createObject != nullptr : createObject != nullptr;
    if (!ready) {
        platform::FreeLibraryHandle(library);
        return false;
    }
    library_ = library;
    createObject_ = createObject;
    return true;
}

HResult CompanionLibrary::CreateObject(const Guid& iid, void** object) const {
    if (createObject_ == nullptr) return kNotImplemented;
    return createObject_(&iid, object);
}

HResult CompanionBindings::CreateJsonObject(const std::u16string& qorbasePath, ComPtr<IJsonObject>* object) {
    {
        std::lock_guard guard(directLock_);
        if (!directTried_) {
            directTried_ = true;
            direct_.Load(qorbasePath);
        }
    }
    HResult result = direct_.CreateObject(kIidJsonObject, object->put_void());
    return result == kOk && !*object ? kFail : result;
}

HResult CompanionBindings::CreateXmlDocument(ComPtr<IRapidXMLDOMDocument>* object) {
    {
        std::lock_guard guard(searchedLock_);
        if (!searchedTried_) {
            searchedTried_ = true;
            if (std::u16string path = FindCompanion(u"Qorbase.dll"); !path.empty()) qorbase_.Load(path);
            if (std::u16string path = FindCompanion(u"Qorconf.dll"); !path.empty()) qorconf_.Load(path);
        }
    }
    HResult result = qorbase_.CreateObject(kIidXmlDocument, object->put_void());
    if (result < 0 || !*object) result = qorconf_.CreateObject(kIidXmlDocument, object->put_void());
    return result == kOk && !*object ? kFail : result;
}

std::u16string CompanionBindings::FindCompanion(const std::u16string& fileName) {
    auto existing = [&](const std::u16string& folder) {
        std::u16string path = folder.empty() ? std::u16string() : PathAppend(folder, fileName);
        return !path.empty() && platform::FileExists(path) ? path : std::u16string();
    };
    std::u16string exeFolder = PathParent(platform::ProcessImagePath());
    if (std::u16string path = existing(exeFolder); !path.empty()) return path;
    if (std::u16string path = existing(PathParent(exeFolder)); !path.empty()) return path;
    std::u16string appPath;
    platform::RegReadString(platform::RegRoot::LocalMachine,
                            u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\QorExtHost.exe", u"path", &appPath);
    return existing(appPath);
}

void CompanionBindings::Release() {
    {
        std::lock_guard guard(directLock_);
        direct_.Release();
        directTried_ = false;
    }
    std::lock_guard guard(searchedLock_);
    qorbase_.Release();
    qorconf_.Release();
    searchedTried_ = false;
}

CompanionBindings& ProcessCompanions() { return LL_singleton<CompanionBindings>::Instance(); }

}  // namespace vantel
