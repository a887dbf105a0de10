// The translators of the other channels. Every record is committed once, so that the record
// carrying the event id never lingers into the next one.
#include "eventlog/nt_event_log.h"
#include "monitors/special_log.h"
#include "plugin/singleton.h"

namespace vantel {

void CNtEventLog::TranslateSystemEvent(uint32_t, const EventValues&, uint64_t) {
    LL_singleton<CSpecialLog>::Instance().Commit();
}

void CNtEventLog::TranslateAppLockerEvent(uint32_t, const EventValues&, uint64_t) {
    LL_singleton<CSpecialLog>::Instance().Commit();
}

void CNtEventLog::TranslateFirewallEvent(uint32_t, const EventValues&, uint64_t, const std::u16string&) {
    LL_singleton<CSpecialLog>::Instance().Commit();
}

void CNtEventLog::TranslateCodeIntegrityEvent(uint32_t, const EventValues&, uint64_t) {
    LL_singleton<CSpecialLog>::Instance().Commit();
}

void CNtEventLog::TranslateCapi2Event(uint32_t, const std::u16string&, uint64_t) {
    LL_singleton<CSpecialLog>::Instance().Commit();
}

}  // namespace vantel
