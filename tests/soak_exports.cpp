// What the soak test's copy of the module exports besides CreatePlugin: a named event committed
// on the calling thread, the way the module's own producers commit theirs.
#include "monitors/named_event_log.h"
#include "plugin/singleton.h"

#ifdef _WIN32
#define VANTEL_SOAK_EXPORT extern "C" __declspec(dllexport)
#else
#define VANTEL_SOAK_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VANTEL_SOAK_EXPORT void VANTEL_CALL CommitSoakEvent(uint32_t producer, uint32_t sequence) {
    try {
        vantel::CSpecialLog& log = vantel::LL_singleton<vantel::CSpecialLog>::Instance();
        log.SetField(u"EventName", u"Soak");
        log.SetNumber(u"producer", producer);
        log.SetNumber(u"sequence", sequence);
        log.Commit();
    } catch (...) {
        // The test counts what arrives.
    }
}
