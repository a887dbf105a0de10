// The module's only export.
#include "plugin/factory.h"

#ifdef _WIN32
#define VANTEL_EXPORT extern "C" __declspec(dllexport)
#else
#define VANTEL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VANTEL_EXPORT vantel::IKestranePlugin* VANTEL_CALL CreatePlugin(const vantel::Guid* classId) {
    try {
        return vantel::CreatePluginObject(classId);
    } catch (...) {
        return nullptr;
    }
}
