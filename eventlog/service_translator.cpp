// Records of services, blocked programs, signature checks, code integrity and the firewall.
#include <array>
#include <utility>

#include "common/path.h"
#include "common/text.h"
#include "eventlog/event_xml.h"
#include "eventlog/nt_event_log.h"
#include "eventlog/translation_text.h"
#include "monitors/named_event_log.h"
#include "plugin/singleton.h"
#include "plugin/trace.h"

namespace vantel {

namespace {

enum SystemEventId : uint32_t { kServiceStateChange = 7036, kServiceInstalledSystem = 7045, kLogCleared = 104 };
constexpr uint32_t kServiceRunning = 4;
constexpr uint32_t kServiceStopped = 1;
constexpr size_t kVersionValueChars = 261;

std::u16string SignedText(int64_t value) { return Format(u"%lld", value); }

// "Spooler/4": the service's key name, and its state as a number when one follows the "/".
std::pair<std::u16string_view, std::optional<uint32_t>> ServiceNameAndState(std::u16string_view binary) {
    size_t slash = binary.find(u'/');
    std::u16string_view name = binary.substr(0, slash);
    if (slash == std::u16string_view::npos || slash + 1 == binary.size()) return {name, std::nullopt};
    uint32_t state = 0;
    for (size_t i = slash + 1; i < binary.size(); ++i) {
        if (binary[i] < u'0' || binary[i] > u'9' || state > 1000) return {name, std::nullopt};
        state = state * 10 + (binary[i] - u'0');
    }
    return {name, state};
}

}  // namespace

void CNtEventLog::TranslateSystemEvent(uint32_t eventId, const EventValues& values, uint64_t) {
    CSpecialLog& log = LL_singleton<CSpecialLog>::Instance();
    switch (eventId) {
        case kServiceStateChange: TranslateServiceStateChange(values); break;
        case kServiceInstalledSystem:
            log.SetField(u"EventName", u"ServiceInstalled");
            log.SetField(u"command_line", values.Text(1));
            log.SetField(u"service_type", values.Text(2));
            log.SetField(u"start_type", values.Text(3));
            log.SetField(u"account_name", values.Text(4));
            log.SetField(u"service_name", values.Text(0));
            break;
        case kLogCleared:
            log.SetField(u"EventName", u"EventLogCleared");
            log.SetField(u"user_name", values.Text(0));
            log.SetField(u"logon_domain", values.Text(1));
            log.SetField(u"channel", values.Text(2));
            log.SetField(u"client_computer_name", currentComputerName_);
            break;
        default: break;
    }
    log.Commit();
}

void CNtEventLog::TranslateSystemEvent(uint32_t eventId, const LegacyEventRecord& record, uint64_t) {
    // The classic record names the service by its display name only and says its state in words.
    if (eventId == kServiceStateChange) {
        const std::u16string& displayName = record.String(0);
        ServiceInfo info;
        if (GetServiceInfoByDisplayName(displayName, &info))
            ReportServiceStateChange({displayName, record.String(1), u"", std::nullopt}, info, displayName);
    }
    LL_singleton<CSpecialLog>::Instance().Commit();
}

void CNtEventLog::TranslateServiceStateChange(const EventValues& values) {
    auto [name, state] = ServiceNameAndState(values.BinaryText(2));
    std::u16string serviceName(name);
    ServiceInfo info;
    if (!GetServiceInfo(serviceName, &info)) return;
    ReportServiceStateChange({values.Text(0), values.Text(1), serviceName, state}, info, serviceName);
}

void CNtEventLog::ReportServiceStateChange(const ServiceStateChange& change, const ServiceInfo& info,
                                           const std::u16string& runningKey) {
    CSpecialLog& log = LL_singleton<CSpecialLog>::Instance();
    std::u16string_view displayName = change.displayName;
    std::u16string_view serviceName = change.serviceName;
    // The number behind the service name says the state in every language; the words of the
    // state text are one language's only.
    bool running = change.state ? *change.state == kServiceRunning : change.stateText == u"正在运行";
    bool stopped = change.state ? *change.state == kServiceStopped : change.stateText == u"停止";
    if (running) {
        if (info.hosted) {
            log.SetField(u"EventName", u"HostedServiceStarted");
            log.SetField(u"service_display_name", displayName);
            log.SetField(u"image_file_name", info.imageFileName);
            log.SetNumber(u"target_process_id", info.processId);
            log.SetField(u"command_line", info.commandLine);
            log.SetField(u"service_name", serviceName);
            if (IProcessInfoProvider* provider = processInfoProvider_.load()) {
                uint64_t started = 0, parentStarted = 0;
                if (provider->ProcessStartTime(info.processId, &started))
                    log.SetField(u"process_start_time", SignedText(static_cast<int64_t>(started)));
                uint32_t parent = provider->ParentProcessId(info.processId);
                log.SetField(u"parent_process_id", SignedText(static_cast<int32_t>(parent)));
                if (provider->ProcessStartTime(parent, &parentStarted))
                    log.SetField(u"parent_start_time", SignedText(static_cast<int64_t>(parentStarted)));
            }
        } else {
            log.SetField(u"EventName", u"ServiceStarted");
            log.SetField(u"service_display_name", displayName);
            log.SetField(u"command_line", info.commandLine);
            log.SetField(u"client_computer_name", currentComputerName_);
            log.SetField(u"image_file_name", info.imageFileName);
            log.SetField(u"service_name", serviceName);
            log.SetNumber(u"target_process_id", info.processId);
        }
        runningServices_[runningKey] = info;
    } else if (stopped) {
        // The process is gone by now: its id is the one seen at the start.
        uint32_t processId = runningServices_[runningKey].processId;
        log.SetField(u"EventName", info.hosted ? u"HostedServiceStopped" : u"ServiceStopped");
        log.SetField(u"service_display_name", displayName);
        log.SetField(u"image_file_name", info.imageFileName);
        log.SetNumber(u"target_process_id", processId);
        log.SetField(u"command_line", info.commandLine);
        log.SetField(u"service_name", serviceName);
    }
}

void CNtEventLog::TranslateServiceInstall(const EventValues& values) {
    CSpecialLog& log = LL_singleton<CSpecialLog>::Instance();
    log.SetField(u"EventName", u"ServiceInstalled");
    log.SetField(u"command_line", values.Text(5));
    log.SetField(u"service_type", ServiceTypeName(values.HexInt32(6)));
    log.SetField(u"start_type", StartTypeName(values.UInt32(7)));
    log.SetField(u"service_name", values.Text(4));
    log.SetField(u"account_name", values.Text(8));
}

void CNtEventLog::TranslateAppLockerEvent(uint32_t eventId, const EventValues& values, uint64_t) {
    CSpecialLog& log = LL_singleton<CSpecialLog>::Instance();
    if (eventId == 8004) {
        std::u16string path(values.Text(10));
        char16_t original[kVersionValueChars] = {};
        if (!GetFileVersionValue(path, u"OriginalFilename", original, kVersionValueChars)) original[0] = 0;
        TraceInfo(u"[CNtEventLog] OriginalFilename %s", original);
        size_t slash = path.rfind(u'\\');
        log.SetField(u"EventName", u"ProcessBlocked");
        log.SetField(u"FileName", slash == std::u16string::npos ? path : path.substr(slash + 1));
        log.SetField(u"FilePath", path);
        log.SetField(u"SourceFileName", original);
        log.SetField(u"user_sid", values.SidText(7));
    }
    log.Commit();
}

void CNtEventLog::TranslateCapi2Event(uint32_t eventId, const std::u16string& xml, uint64_t) {
    if (eventId != 81) return;
    SignatureCheckFields fields;
    ParseWinVerifyTrustXml(xml, &fields);
    CSpecialLog& log = LL_singleton<CSpecialLog>::Instance();
    log.SetField(u"EventName", u"WinVerifyTrust");
    log.SetField(u"file_path", fields.filePath);
    log.SetField(u"digest", fields.digest);
    log.SetField(u"digest_algorithm", fields.digestAlgorithm);
    log.SetField(u"process_name", fields.processName);
    log.SetField(u"result", fields.result);
    log.Commit();
}

void CNtEventLog::TranslateCodeIntegrityEvent(uint32_t eventId, const EventValues& values, uint64_t) {
    if (eventId != 3033) return;
    std::u16string fileName(values.Text(1)), processName(values.Text(3));
    CSpecialLog& log = LL_singleton<CSpecialLog>::Instance();
    log.SetField(u"EventName", u"CodeIntegrity");
    log.SetField(u"file_name", DevicePathToDosPath(fileName.c_str()));
    log.SetField(u"process_name", DevicePathToDosPath(processName.c_str()));
    log.SetNumber(u"requested_policy", values.Byte(4));
    log.SetNumber(u"validated_policy", values.Byte(5));
    log.SetNumber(u"status", values.UInt32(6));
    log.Commit();
}

void CNtEventLog::TranslateFirewallEvent(uint32_t eventId, const EventValues& values, uint64_t,
                                         const std::u16string& xml) {
    std::u16string_view ruleId = values.Text(0);
    std::u16string eventData = TextBetween(xml, u"<EventData>", u"</EventData>");
    FirewallFields fields;
    ParseFireWallXML(xml, &fields);
    // Changes the system's own services make are not reported.
    if (EqualsIgnoreCase(fields.modifyingApplication, serviceHostPath_)) return;
    CSpecialLog& log = LL_singleton<CSpecialLog>::Instance();
    switch (eventId) {
        case 2003:
            log.SetField(u"EventName", u"FirewallChangeOption");
            log.SetField(u"firewall_profile", eventData);
            log.SetField(u"setting_value_string", fields.settingValueString);
            log.SetField(u"modifying_user", fields.modifyingUser);
            log.SetField(u"modifying_application", fields.modifyingApplication);
            break;
        case 2004:
        case 2005:
            log.SetField(u"EventName", u"FirewallSetRule");
            log.SetField(u"firewall_rule_id", ruleId);
            log.SetField(u"firewall_rule", eventData);
            log.SetField(u"rule_name", fields.ruleName);
            log.SetField(u"application_path", fields.applicationPath);
            log.SetField(u"direction", fields.direction);
            log.SetField(u"local_ports", fields.localPorts);
            log.SetField(u"action", fields.action);
            log.SetField(u"active", fields.active);
            log.SetField(u"modifying_user", fields.modifyingUser);
            log.SetField(u"modifying_application", fields.modifyingApplication);
            break;
        case 2006:
            log.SetField(u"EventName", u"FirewallDeleteRule");
            log.SetField(u"firewall_rule_id", ruleId);
            log.SetField(u"rule_name", fields.ruleName);
            log.SetField(u"modifying_application", fields.modifyingApplication);
            break;
        default: break;
    }
    log.Commit();
}

}  // namespace vantel
