// Security-log records: the common frame and the logon family.
#include "common/system_helpers.h"
#include "eventlog/nt_event_log.h"
#include "monitors/named_event_log.h"
#include "plugin/singleton.h"

namespace vantel {

namespace {

enum ModernLogonId : uint32_t { kLogon = 4624, kExplicitLogon = 4648, kLogonFailed = 4625, kLogoff = 4647 };
enum LegacyLogonId : uint32_t { kLegacyLogon = 528, kLegacyLogonFailed = 529, kLegacyLogoff = 538 };
constexpr uint32_t kServiceInstalled = 4697;

// The fields every logon-family event starts with, after its name.
void SetLogonFrame(CSpecialLog& log, std::u16string_view computer, uint64_t time, std::u16string_view domain,
                   std::u16string_view user) {
    log.SetField(u"computer_name", computer);
    log.SetNumber(u"logon_time", time);
    log.SetField(u"logon_domain", domain);
    log.SetNumber(u"user_is_admin", IsAdminAccount(std::u16string(domain), std::u16string(user)));
    log.SetField(u"user_name", user);
}

}  // namespace

void CNtEventLog::TranslateSecurityEvent(uint32_t eventId, const EventValues& values, uint64_t time) {
    TranslateModernLogon(eventId, values, time);
    // An excluded scheduled task ends the translation without a record.
    if (!TranslateModernAccountEvent(eventId, values, time)) return;
    if (eventId == kServiceInstalled) TranslateServiceInstall(values);
    LL_singleton<CSpecialLog>::Instance().Commit();
}

void CNtEventLog::TranslateSecurityEvent(uint32_t eventId, const LegacyEventRecord& record, uint64_t time) {
    TranslateLegacyLogon(eventId, record, time);
    TranslateLegacyAccountEvent(eventId, record, time);
    LL_singleton<CSpecialLog>::Instance().Commit();
}

void CNtEventLog::TranslateModernLogon(uint32_t eventId, const EventValues& values, uint64_t time) {
    CSpecialLog& log = LL_singleton<CSpecialLog>::Instance();
    switch (eventId) {
        case kLogon:
            log.SetField(u"EventName", u"UserLogon");
            SetLogonFrame(log, currentComputerName_, time, values.Text(6), values.Text(5));
            log.SetField(u"user_sid_readable", u"1");
            log.SetNumber(u"logon_type", values.UInt32(8));
            log.SetField(u"process_name", values.Text(17));
            log.SetField(u"ip", values.Text(18));
            log.SetField(u"port", values.Text(19));
            break;
        case kExplicitLogon:
            log.SetField(u"EventName", u"UserLogon");
            SetLogonFrame(log, currentComputerName_, time, values.Text(6), values.Text(5));
            log.SetField(u"user_sid_readable", u"1");
            break;
        case kLogonFailed: {
            std::u16string user(values.Text(5));
            log.SetField(u"EventName", u"UserLogonFailed");
            SetLogonFrame(log, currentComputerName_, time, values.Text(6), user);
            log.SetNumber(u"user_sid_readable", IsKnownAccountName(user));
            log.SetNumber(u"logon_type", values.UInt32(10));
            log.SetField(u"process_name", values.Text(18));
            log.SetField(u"ip", values.Text(19));
            log.SetField(u"port", values.Text(20));
            log.SetNumber(u"action_count", failedLogonCounts_.Increment(user));
            break;
        }
        case kLogoff:
            log.SetField(u"EventName", u"UserLogoff");
            SetLogonFrame(log, currentComputerName_, time, values.Text(2), values.Text(1));
            log.SetField(u"user_sid_readable", u"1");
            break;
        default: break;
    }
}

void CNtEventLog::TranslateLegacyLogon(uint32_t eventId, const LegacyEventRecord& record, uint64_t time) {
    CSpecialLog& log = LL_singleton<CSpecialLog>::Instance();
    // The first five insertion strings fill the slots; ids 517 and 636 read them differently.
    const std::u16string& user = record.String(0);
    const std::u16string& domain = record.String(1);
    const std::u16string& logonType = record.String(3);
    switch (eventId) {
        case kLegacyLogon:
            if (logonType != u"2" && logonType != u"10") break;  // interactive and remote-interactive only
            log.SetField(u"EventName", u"UserLogon");
            SetLogonFrame(log, currentComputerName_, time, domain, user);
            log.SetField(u"user_sid_readable", u"1");
            break;
        case kLegacyLogonFailed:
            log.SetField(u"EventName", u"UserLogonFailed");
            SetLogonFrame(log, currentComputerName_, time, domain, user);
            log.SetNumber(u"user_sid_readable", IsKnownAccountName(user));
            log.SetNumber(u"action_count", failedLogonCounts_.Increment(user));
            break;
        case kLegacyLogoff:
            log.SetField(u"EventName", u"UserLogoff");
            SetLogonFrame(log, currentComputerName_, time, domain, user);
            log.SetField(u"user_sid_readable", u"1");
            break;
        default: break;
    }
}

}  // namespace vantel
