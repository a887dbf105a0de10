// Security-log records of accounts, groups, the log itself, scheduled tasks, shares and
// directory objects.
#include <array>

#include "common/text.h"
#include "eventlog/nt_event_log.h"
#include "eventlog/translation_text.h"
#include "monitors/share_security.h"
#include "monitors/named_event_log.h"
#include "plugin/singleton.h"
#include "plugin/trace.h"

namespace vantel {

namespace {

// Scheduled tasks of these folders belong to the system's own upkeep and are not reported.
constexpr std::array<std::u16string_view, 7> kExcludedTaskFolders = {
    u"\\Microsoft\\Windows\\GroupPolicy\\",
    u"\\Microsoft\\Windows\\SoftwareProtectionPlatform\\",
    u"\\Microsoft\\Windows\\UpdateOrchestrator\\",
    u"\\Microsoft\\Windows\\WindowsUpdate\\",
    u"\\Microsoft\\Windows\\.NET Framework\\",
    u"\\Microsoft\\Windows\\Flighting\\OneSettings\\",
    u"\\Microsoft\\Windows\\Windows Error Reporting\\",
};

bool IsExcludedTask(std::u16string_view name) {
    for (std::u16string_view folder : kExcludedTaskFolders)
        if (StartsWithIgnoreCase(name, folder)) return true;
    return false;
}

void SetAccount(CSpecialLog& log, const char16_t* eventName, std::u16string_view user, const std::u16string& rid) {
    log.SetField(u"EventName", eventName);
    log.SetField(u"user_name", user);
    log.SetField(u"user_rid", rid);
}

void SetTask(CSpecialLog& log, const char16_t* eventName, std::u16string_view xml, std::u16string_view author,
             std::u16string_view name) {
    log.SetField(u"EventName", eventName);
    log.SetField(u"task_xml", xml);
    log.SetField(u"task_author", author);
    log.SetField(u"task_name", name);
    log.SetField(u"task_exec_command", TextBetween(xml, u"<Command>", u"</Command>"));
    log.SetField(u"task_exec_arguments", TextBetween(xml, u"<Arguments>", u"</Arguments>"));
}

// The subject of a directory-object change: who, and which directory.
void SetDirectorySubject(CSpecialLog& log, const char16_t* eventName, const EventValues& values) {
    log.SetField(u"EventName", eventName);
    log.SetField(u"user_rid", RelativeIdentifier(values.SidText(2)));
    log.SetField(u"user_name", values.Text(3));
    log.SetField(u"logon_domain", values.Text(4));
    log.SetField(u"dsname", values.Text(6));
}

void SetLogCleared(CSpecialLog& log, std::u16string_view user, std::u16string_view domain,
                   std::u16string_view channel, std::u16string_view computer) {
    log.SetField(u"EventName", u"EventLogCleared");
    log.SetField(u"user_name", user);
    log.SetField(u"logon_domain", domain);
    log.SetField(u"channel", channel);
    log.SetField(u"client_computer_name", computer);
}

}  // namespace

bool CNtEventLog::TranslateModernAccountEvent(uint32_t eventId, const EventValues& values, uint64_t time) {
    CSpecialLog& log = LL_singleton<CSpecialLog>::Instance();
    switch (eventId) {
        case 4720: SetAccount(log, u"UserAccountCreated", values.Text(0), RelativeIdentifier(values.SidText(2))); break;
        case 4723: SetAccount(log, u"UserPasswordChange", values.Text(0), RelativeIdentifier(values.SidText(2))); break;
        case 4724: SetAccount(log, u"UserPasswordReset", values.Text(0), RelativeIdentifier(values.SidText(2))); break;
        case 4726: SetAccount(log, u"UserAccountDeleted", values.Text(0), RelativeIdentifier(values.SidText(2))); break;
        case 4740: SetAccount(log, u"UserAccountLocked", values.Text(0), RelativeIdentifier(values.SidText(2))); break;
        case 4732: {
            std::u16string group = values.SidText(4);
            log.SetField(u"EventName", u"UserAccountAddedToGroup");
            log.SetNumber(u"context_time_stamp", time);
            log.SetField(u"user_rid", RelativeIdentifier(values.SidText(1)));
            log.SetField(u"domain_sid", group);
            log.SetField(u"group_rid", RelativeIdentifier(group));
            break;
        }
        case 4738:
            SetAccount(log, u"UserAccountChaned", values.Text(1), RelativeIdentifier(values.SidText(3)));
            log.SetField(u"PrimaryGroupId", values.Text(19));
            log.SetField(u"PasswordLastSet", values.Text(17));
            log.SetField(u"OldUacValue", values.Text(21));
            log.SetField(u"NewUacValue", values.Text(22));
            break;
        case 1102:
            SetLogCleared(log, values.Text(1), values.Text(2), u"Security", currentComputerName_);
            break;
        case 4698:
        case 4699:
        case 4702: {
            std::u16string_view name = values.Text(4);
            if (IsExcludedTask(name)) return false;
            if (eventId == 4699) {
                log.SetField(u"EventName", u"ScheduledTaskDeleted");
                log.SetField(u"task_name", name);
            } else {
                SetTask(log, eventId == 4698 ? u"ScheduledTaskRegistered" : u"ScheduledTaskModified", values.Text(5),
                        values.Text(1), name);
            }
            break;
        }
        case 5142:
        case 5143:
        case 5144: {
            std::u16string_view user = values.Text(1);
            if (eventId == 5142) {
                log.SetField(u"EventName", u"NetShareAdd");
                log.SetField(u"user_name", user);
                log.SetField(u"share_name", values.Text(4));
                log.SetField(u"share_path", values.Text(5));
            } else if (eventId == 5143) {
                log.SetField(u"EventName", u"NetShareSecurityModify");
                log.SetField(u"user_name", user);
                log.SetField(u"share_name", values.Text(5));
                log.SetField(u"share_security", GetShareSecurity(std::u16string(values.Text(14))));
            } else {
                log.SetField(u"EventName", u"NetShareDelete");
                log.SetField(u"user_name", user);
                log.SetField(u"share_name", values.Text(4));
            }
            break;
        }
        case 5136:
            SetDirectorySubject(log, u"DsObjectModified", values);
            log.SetField(u"object_dn", values.Text(8));
            log.SetField(u"object_class", values.Text(10));
            log.SetField(u"object_guid", values.GuidText(9));
            log.SetField(u"attribute_ldap_displayname", values.Text(11));
            log.SetField(u"attribute_syntax_oid", values.Text(12));
            log.SetField(u"attribute_value", values.Text(13));
            break;
        case 5137:
        case 5141:
            SetDirectorySubject(log, eventId == 5137 ? u"DsObjectCreated" : u"DsObjectDeleted", values);
            log.SetField(u"object_guid", values.GuidText(9));
            log.SetField(u"object_class", values.Text(10));
            log.SetField(u"object_dn", values.Text(8));
            break;
        case 5138:
        case 5139:
            SetDirectorySubject(log, eventId == 5138 ? u"DsObjectUndeleted" : u"DsObjectMoved", values);
            log.SetField(u"object_guid", values.GuidText(10));
            log.SetField(u"object_class", values.Text(11));
            log.SetField(u"old_object_dn", values.Text(8));
            log.SetField(u"new_object_dn", values.Text(9));
            break;
        default: break;
    }
    return true;
}

void CNtEventLog::TranslateLegacyAccountEvent(uint32_t eventId, const LegacyEventRecord& record, uint64_t time) {
    CSpecialLog& log = LL_singleton<CSpecialLog>::Instance();
    // Legacy identifiers are written as "%{S-1-...}": their closing brace is no part of the number.
    auto rid = [](const std::u16string& sid) {
        std::u16string text = RelativeIdentifier(sid);
        if (!text.empty() && text.back() == u'}') text.pop_back();
        return text;
    };
    switch (eventId) {
        case 624: SetAccount(log, u"UserAccountCreated", record.String(0), rid(record.String(2))); break;
        case 630: SetAccount(log, u"UserAccountDeleted", record.String(0), rid(record.String(2))); break;
        case 636: {
            std::u16string group = record.String(4);
            log.SetField(u"EventName", u"UserAccountAddedToGroup");
            log.SetNumber(u"context_time_stamp", time);
            log.SetField(u"user_rid", rid(record.String(1)));
            log.SetField(u"domain_sid", TrimCharacters(group, u"%{}"));
            log.SetField(u"group_rid", rid(group));
            break;
        }
        case 517:
            TraceInfoText(u"[CNtEventLog] xp security clear\n");
            SetLogCleared(log, record.String(3), record.String(4), u"Security", currentComputerName_);
            break;
        default: break;
    }
}

}  // namespace vantel
