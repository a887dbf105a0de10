// Account, task, share, directory, service, firewall and integrity records, built by hand as the
// platform renders them, from the channel to the named event.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "eventlog/event_xml.h"
#include "eventlog/translation_text.h"
#include "eventlog_fixture.h"
#include "winsim/devices.h"
#include "winsim/files.h"
#include "winsim/registry.h"
#include "winsim/services.h"
#include "winsim/signing.h"
#include "winsim/version_info.h"

namespace vantel {
namespace {

namespace fs = std::filesystem;

// The firewall and signature-check records are read through the companion library's XML
// document, which the test executable finds through the host's "App Paths" entry.
class CompanionLibraries : public ::testing::Environment {
public:
    void SetUp() override {
        fs::path exe = fs::read_symlink("/proc/self/exe");
        winsim::SetFileSigner(exe.string(), "agent");
        winsim::SetFileSigner((fs::path(VANTEL_AGENT_DIR) / "Qorbase.dll").string(), "agent");
        winsim::RegSetString(winsim::Hive::LocalMachine,
                             u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\QorExtHost.exe", u"path",
                             winsim::WindowsPath(VANTEL_AGENT_DIR));
        winsim::MapDrive(u'C', (fs::temp_directory_path() / "vantel-translator-c").string());
    }
};
const auto* const kCompanions = ::testing::AddGlobalTestEnvironment(new CompanionLibraries);

EventValue Str(const char16_t* text) { return EventValue::String(text); }

EventRecord Record(const char16_t* channel, uint16_t id, std::vector<EventValue> values) {
    EventRecord record(channel, u"Provider", id);
    record.TimeCreated(132539328000000000ull).Computer(u"dc1.example.org").Values(std::move(values));
    return record;
}

class Translators : public EventLogPlugin {
protected:
    Fields One(EventRecord record, const char16_t* name) {
        auto events = Publish({std::move(record)}, 1);
        if (events.size() != 1) return {};
        EXPECT_EQ(events[0]->name, name);
        Fields fields = FieldsOf(events[0]);
        fields.erase(u"event_id");
        return fields;
    }
    // Publishes a record that must give no event, then one that must, to know the first was handled.
    void ExpectNothing(EventRecord record) {
        auto events = Publish({std::move(record), Record(u"Security", 4699, {Str(u"S"), Str(u"u"), Str(u"d"),
                                                                                Str(u"l"), Str(u"\\Marker")})},
                              1);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(FieldsOf(events[0])[u"task_name"], u"\\Marker");
    }
};

TEST_F(Translators, AccountsAndGroups) {
    std::vector<EventValue> account = {Str(u"carol"), Str(u"WINSIM"), EventValue::Sid(Sid(u"S-1-5-21-1-2-3-1005"))};
    const std::pair<uint16_t, const char16_t*> kAccountIds[] = {{4720, u"UserAccountCreated"},
                                                                {4723, u"UserPasswordChange"},
                                                                {4724, u"UserPasswordReset"},
                                                                {4726, u"UserAccountDeleted"},
                                                                {4740, u"UserAccountLocked"}};
    for (auto [id, name] : kAccountIds)
        EXPECT_EQ(One(Record(u"Security", id, account), name), (Fields{{u"user_name", u"carol"}, {u"user_rid", u"1005"}}));

    EXPECT_EQ(One(Record(u"Security", 4732, {Str(u"-"), EventValue::Sid(Sid(u"S-1-5-21-1-2-3-1005")), Str(u"x"),
                                            Str(u"Administrators"), EventValue::Sid(Sid(u"S-1-5-32-544"))}),
                  u"UserAccountAddedToGroup"),
              (Fields{{u"context_time_stamp", u"1609459200"},
                      {u"user_rid", u"1005"},
                      {u"domain_sid", u"S-1-5-32-544"},
                      {u"group_rid", u"544"}}));

    std::vector<EventValue> changed(23, Str(u"-"));
    changed[1] = Str(u"carol");
    changed[3] = EventValue::Sid(Sid(u"S-1-5-21-1-2-3-1005"));
    changed[17] = Str(u"%%1794");
    changed[19] = Str(u"513");
    changed[21] = Str(u"0x15");
    changed[22] = Str(u"0x10");
    EXPECT_EQ(One(Record(u"Security", 4738, changed), u"UserAccountChaned"),
              (Fields{{u"user_name", u"carol"}, {u"user_rid", u"1005"}, {u"PrimaryGroupId", u"513"},
                      {u"PasswordLastSet", u"%%1794"}, {u"OldUacValue", u"0x15"}, {u"NewUacValue", u"0x10"}}));

    EXPECT_EQ(One(Record(u"Security", 1102, {EventValue::Sid(Sid(u"S-1-5-18")), Str(u"admin"), Str(u"CORP")}),
                  u"EventLogCleared"),
              (Fields{{u"user_name", u"admin"}, {u"logon_domain", u"CORP"}, {u"channel", u"Security"},
                      {u"client_computer_name", u"dc1.example.org"}}));
}

TEST_F(Translators, ScheduledTasksAndTheirExcludedFolders) {
    auto task = [](uint16_t id, const char16_t* name, const char16_t* xml) {
        return Record(u"Security", id,
                      {EventValue::Sid(Sid(u"S-1-5-18")), Str(u"author"), Str(u"WINSIM"), EventValue::HexInt64(1),
                       Str(name), Str(xml)});
    };
    const char16_t* xml = u"<Task><Exec><Command>C:\\a.exe</Command><Arguments>-x</Arguments></Exec></Task>";
    EXPECT_EQ(One(task(4698, u"\\Updater", xml), u"ScheduledTaskRegistered"),
              (Fields{{u"task_xml", xml}, {u"task_author", u"author"}, {u"task_name", u"\\Updater"},
                      {u"task_exec_command", u"C:\\a.exe"}, {u"task_exec_arguments", u"-x"}}));
    Fields unclosed = One(task(4702, u"\\Updater", u"<Command>C:\\a.exe <Arguments>-x</Arguments>"),
                          u"ScheduledTaskModified");
    EXPECT_EQ(unclosed[u"task_exec_command"], u"");
    EXPECT_EQ(unclosed[u"task_exec_arguments"], u"-x");

    ExpectNothing(task(4698, u"\\Microsoft\\Windows\\WindowsUpdate\\Scheduled Start", xml));
    ExpectNothing(task(4699, u"\\microsoft\\windows\\windowsupdate\\scheduled start", xml));
    ExpectNothing(task(4702, u"\\Microsoft\\Windows\\Windows Error Reporting\\QueueReporting", xml));
    EXPECT_EQ(One(task(4698, u"\\Microsoft\\Windows\\WindowsUpdateX", xml), u"ScheduledTaskRegistered")[u"task_name"],
              u"\\Microsoft\\Windows\\WindowsUpdateX")
        << "the folder's closing backslash is part of the prefix";
}

TEST_F(Translators, SharesWithTheirPermissionText) {
    winsim::AddUser({u"alice", 2, u"S-1-5-21-1-2-3-1001"});
    auto share = [](uint16_t id) {
        std::vector<EventValue> values(15, Str(u"-"));
        values[1] = Str(u"admin");
        values[4] = Str(u"\\\\*\\Data");
        values[5] = Str(id == 5143 ? u"\\\\*\\Docs" : u"C:\\Data");
        values[14] = Str(u"O:BAG:SYD:(A;;FA;;;WD)(A;;0x1200a9;;;BA)(A;;0x12019f;;;S-1-5-21-1-2-3-1001)"
                         u"(A;;0x1;;;BU)(D;;FA;;;BG)(A;;FA;;;S-1-5-21-9-9-9-9)");
        return Record(u"Security", id, values);
    };
    EXPECT_EQ(One(share(5142), u"NetShareAdd"),
              (Fields{{u"user_name", u"admin"}, {u"share_name", u"\\\\*\\Data"}, {u"share_path", u"C:\\Data"}}));
    EXPECT_EQ(One(share(5143), u"NetShareSecurityModify"),
              (Fields{{u"user_name", u"admin"},
                      {u"share_name", u"\\\\*\\Docs"},
                      {u"share_security", u"Everyone:F||Administrators:R||alice:RW||||"}}));
    EXPECT_EQ(One(share(5144), u"NetShareDelete"), (Fields{{u"user_name", u"admin"}, {u"share_name", u"\\\\*\\Data"}}));
}

TEST_F(Translators, DirectoryObjects) {
    std::vector<EventValue> values(14, Str(u"-"));
    values[2] = EventValue::Sid(Sid(u"S-1-5-21-1-2-3-1105"));
    values[3] = Str(u"admin");
    values[4] = Str(u"CORP");
    values[6] = Str(u"corp.example.org");
    values[8] = Str(u"CN=x,DC=corp");
    values[9] = EventValue::Guid({0x1A2B3C4D, 0x5E6F, 0x7081, {0x92, 0xA3, 0xB4, 0xC5, 0xD6, 0xE7, 0xF8, 0x09}});
    values[10] = Str(u"user");
    values[11] = Str(u"description");
    values[12] = Str(u"2.5.5.12");
    values[13] = Str(u"new text");
    EXPECT_EQ(One(Record(u"Security", 5136, values), u"DsObjectModified"),
              (Fields{{u"user_rid", u"1105"}, {u"user_name", u"admin"}, {u"logon_domain", u"CORP"},
                      {u"dsname", u"corp.example.org"}, {u"object_dn", u"CN=x,DC=corp"}, {u"object_class", u"user"},
                      {u"object_guid", u"{1A2B3C4D-5E6F-7081-92A3-B4C5D6E7F809}"},
                      {u"attribute_ldap_displayname", u"description"}, {u"attribute_syntax_oid", u"2.5.5.12"},
                      {u"attribute_value", u"new text"}}));
    values[9] = Str(u"{not a guid}");
    EXPECT_EQ(One(Record(u"Security", 5141, values), u"DsObjectDeleted")[u"object_guid"], u"");
    std::vector<EventValue> moved = values;
    moved[9] = Str(u"CN=x,OU=new,DC=corp");
    moved[10] = EventValue::Guid({1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}});
    moved[11] = Str(u"group");
    Fields fields = One(Record(u"Security", 5139, moved), u"DsObjectMoved");
    EXPECT_EQ(fields[u"old_object_dn"], u"CN=x,DC=corp");
    EXPECT_EQ(fields[u"new_object_dn"], u"CN=x,OU=new,DC=corp");
    EXPECT_EQ(fields[u"object_guid"], u"{00000001-0002-0003-0405-060708090A0B}");
    EXPECT_EQ(fields[u"object_class"], u"group");
}

TEST_F(Translators, ServiceInstallationsAndTheirTypeNames) {
    std::vector<EventValue> installed = {Str(u"-"), Str(u"-"), Str(u"-"), EventValue::HexInt64(1), Str(u"evil"),
                                         Str(u"C:\\evil.exe -k"), EventValue::HexInt32(0x10), EventValue::UInt32(2),
                                         Str(u"LocalSystem")};
    EXPECT_EQ(One(Record(u"Security", 4697, installed), u"ServiceInstalled"),
              (Fields{{u"command_line", u"C:\\evil.exe -k"}, {u"service_type", u"win32_own_process"},
                      {u"start_type", u"automatic"}, {u"service_name", u"evil"}, {u"account_name", u"LocalSystem"}}));
    installed[6] = EventValue::HexInt32(0x40);
    installed[7] = EventValue::Null();
    Fields odd = One(Record(u"Security", 4697, installed), u"ServiceInstalled");
    EXPECT_EQ(odd[u"service_type"], u"");
    EXPECT_EQ(odd[u"start_type"], u"boot") << "a missing start type reads as 0";

    EXPECT_EQ(One(Record(u"System", 7045, {Str(u"evil"), Str(u"C:\\evil.exe"), Str(u"user mode service"),
                                           Str(u"demand start"), Str(u"LocalSystem")}),
                  u"ServiceInstalled"),
              (Fields{{u"command_line", u"C:\\evil.exe"}, {u"service_type", u"user mode service"},
                      {u"start_type", u"demand start"}, {u"account_name", u"LocalSystem"}, {u"service_name", u"evil"}}));
    EXPECT_EQ(One(Record(u"System", 104, {Str(u"admin"), Str(u"CORP"), Str(u"Application")}), u"EventLogCleared"),
              (Fields{{u"user_name", u"admin"}, {u"logon_domain", u"CORP"}, {u"channel", u"Application"},
                      {u"client_computer_name", u"dc1.example.org"}}));
}

// The wide text the platform logs for 7036 behind the state: "name/state".
EventValue ServiceKey(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    for (char16_t c : text + u'\0') {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return EventValue::Binary(bytes);
}

TEST_F(Translators, ServiceStartAndStopInAnyLanguage) {
    winsim::ResetServices();
    winsim::AddService({u"Spooler", u"Print Spooler", u"C:\\Windows\\System32\\spoolsv.exe", 1234});
    EXPECT_EQ(One(Record(u"System", 7036, {Str(u"Print Spooler"), Str(u"running"), ServiceKey(u"Spooler/4")}),
                  u"ServiceStarted"),
              (Fields{{u"service_display_name", u"Print Spooler"},
                      {u"command_line", u"C:\\Windows\\System32\\spoolsv.exe"},
                      {u"client_computer_name", u"dc1.example.org"},
                      {u"image_file_name", u"C:\\Windows\\System32\\spoolsv.exe"},
                      {u"service_name", u"Spooler"},
                      {u"target_process_id", u"1234"}}));
    winsim::AddService({u"Spooler", u"Print Spooler", u"C:\\Windows\\System32\\spoolsv.exe", 0,
                        winsim::ServiceState::Stopped});
    Fields stopped = One(Record(u"System", 7036, {Str(u"Print Spooler"), Str(u"angehalten"), ServiceKey(u"Spooler/1")}),
                         u"ServiceStopped");
    EXPECT_EQ(stopped[u"target_process_id"], u"1234") << "the process id seen at the start";

    // Without a state number the words of the one language decide, and nothing else does.
    winsim::AddService({u"Spooler", u"Print Spooler", u"C:\\Windows\\System32\\spoolsv.exe", 77});
    EXPECT_EQ(One(Record(u"System", 7036, {Str(u"Print Spooler"), Str(u"正在运行"), ServiceKey(u"Spooler")}),
                  u"ServiceStarted")[u"target_process_id"],
              u"77");
    ExpectNothing(Record(u"System", 7036, {Str(u"Print Spooler"), Str(u"running"), ServiceKey(u"Spooler")}));
    ExpectNothing(Record(u"System", 7036, {Str(u"Nothing"), Str(u"停止"), ServiceKey(u"NoSuchService/1")}));
}

struct FakeProvider : IProcessInfoProvider {
    uint32_t VANTEL_CALL ParentProcessId(uint32_t) override { return 600; }
    int32_t VANTEL_CALL HostOperation1() override { return 0; }
    int32_t VANTEL_CALL HostOperation2() override { return 0; }
    int32_t VANTEL_CALL HostOperation3() override { return 0; }
    int32_t VANTEL_CALL ProcessStartTime(uint32_t processId, uint64_t* startTime) override {
        if (processId == 600) return 0;  // the parent's time is unknown
        *startTime = 1700000000;
        return 1;
    }
};

TEST_F(Translators, HostedServicesNameTheirLibraryAndAskTheHostAboutTheProcess) {
    FakeProvider provider;
    void* block[3] = {nullptr, nullptr, static_cast<IProcessInfoProvider*>(&provider)};
    plugin->SetProperty(3, block);
    winsim::ResetServices();
    winsim::AddService({u"Dhcp", u"DHCP Client", u"C:\\Windows\\system32\\svchost.exe -k LocalServiceNetworkRestricted",
                        900, winsim::ServiceState::Running, winsim::kServiceShareProcess});
    winsim::RegSetString(winsim::Hive::LocalMachine, u"SYSTEM\\CurrentControlSet\\Services\\Dhcp\\Parameters",
                         u"ServiceDll", u"%SystemRoot%\\system32\\dhcpcore.dll");
    Fields started = One(Record(u"System", 7036, {Str(u"DHCP Client"), Str(u"x"), ServiceKey(u"Dhcp/4")}),
                         u"HostedServiceStarted");
    EXPECT_EQ(started[u"image_file_name"], u"%SystemRoot%\\system32\\dhcpcore.dll");
    EXPECT_EQ(started[u"target_process_id"], u"900");
    EXPECT_EQ(started[u"process_start_time"], u"1700000000");
    EXPECT_EQ(started[u"parent_process_id"], u"600");
    EXPECT_EQ(started.count(u"parent_start_time"), 0u);
    Fields stopped = One(Record(u"System", 7036, {Str(u"DHCP Client"), Str(u"x"), ServiceKey(u"Dhcp/1")}),
                         u"HostedServiceStopped");
    EXPECT_EQ(stopped[u"target_process_id"], u"900");
}

TEST_F(Translators, TheHostMayHandOverAProviderWhileRecordsArrive) {
    FakeProvider first, second;
    void* blocks[2][3] = {{nullptr, nullptr, static_cast<IProcessInfoProvider*>(&first)},
                          {nullptr, nullptr, static_cast<IProcessInfoProvider*>(&second)}};
    winsim::ResetServices();
    winsim::AddService({u"Dhcp", u"DHCP Client", u"C:\\Windows\\system32\\svchost.exe -k LocalService", 900,
                        winsim::ServiceState::Running, winsim::kServiceShareProcess});
    plugin->SetProperty(3, blocks[0]);
    std::atomic<bool> done{false};
    std::thread host([&] {
        for (int i = 0; !done; ++i) plugin->SetProperty(3, blocks[i % 2]);
    });
    std::vector<EventRecord> records(20,
                                     Record(u"System", 7036, {Str(u"DHCP Client"), Str(u"x"), ServiceKey(u"Dhcp/4")}));
    auto events = Publish(records, 20);
    done = true;
    host.join();
    for (auto* event : events) EXPECT_EQ(FieldsOf(event)[u"parent_process_id"], u"600");
    EXPECT_NE(plugin->processInfoProvider(), nullptr);
}

const char16_t kFirewallChannel[] = u"Microsoft-Windows-Windows Firewall With Advanced Security/Firewall";

EventRecord FirewallRecord(uint16_t id, const std::u16string& application) {
    std::u16string data = u"<Data Name='RuleId'>{R1}</Data><Data Name='RuleName'>Allow app</Data>"
                          u"<Data Name='ApplicationPath'>C:\\app.exe</Data><Data Name='Direction'>1</Data>"
                          u"<Data Name='LocalPorts'>8080</Data><Data Name='Action'>3</Data><Data Name='Active'>1</Data>"
                          u"<Data Name='ModifyingUser'>S-1-5-21-1-2-3-1001</Data>"
                          u"<Data Name='ModifyingApplication'>" + application + u"</Data>";
    EventRecord record = Record(kFirewallChannel, id, {Str(u"{R1}"), Str(u"Allow app")});
    record.Xml(u"<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System/><EventData>" + data +
               u"</EventData></Event>");
    return record;
}

TEST_F(Translators, FirewallChangesBySystemServicesAreDropped) {
    ExpectNothing(FirewallRecord(2004, u"C:\\WINDOWS\\system32\\svchost.exe"));
    Fields rule = One(FirewallRecord(2004, u"C:\\tools\\installer.exe"), u"FirewallSetRule");
    EXPECT_EQ(rule.size(), 10u);
    EXPECT_EQ(rule[u"firewall_rule_id"], u"{R1}");
    EXPECT_EQ(rule[u"rule_name"], u"Allow app");
    EXPECT_EQ(rule[u"application_path"], u"C:\\app.exe");
    EXPECT_EQ(rule[u"direction"], u"1");
    EXPECT_EQ(rule[u"local_ports"], u"8080");
    EXPECT_EQ(rule[u"action"], u"3");
    EXPECT_EQ(rule[u"active"], u"1");
    EXPECT_EQ(rule[u"modifying_user"], u"S-1-5-21-1-2-3-1001");
    EXPECT_EQ(rule[u"modifying_application"], u"C:\\tools\\installer.exe");
    EXPECT_EQ(rule[u"firewall_rule"].rfind(u"<Data Name='RuleId'>", 0), 0u) << "the event data, raw";
    EXPECT_EQ(One(FirewallRecord(2006, u"C:\\tools\\installer.exe"), u"FirewallDeleteRule"),
              (Fields{{u"firewall_rule_id", u"{R1}"}, {u"rule_name", u"Allow app"},
                      {u"modifying_application", u"C:\\tools\\installer.exe"}}));
    EXPECT_EQ(One(FirewallRecord(2003, u"C:\\tools\\installer.exe"), u"FirewallChangeOption").size(), 4u);
}

TEST_F(Translators, BlockedProgramsSignatureChecksAndCodeIntegrity) {
    fs::path file = fs::path(winsim::HostPath(u"C:\\tools\\renamed.exe"));
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "MZ";
    winsim::SetFileVersionResource(file.string(), {{0x0409, 0x04B0, {{u"OriginalFilename", u"mimikatz.exe"}}}});
    std::vector<EventValue> blocked(11, Str(u"-"));
    blocked[7] = EventValue::Sid(Sid(u"S-1-5-21-1-2-3-1001"));
    blocked[10] = Str(u"C:\\tools\\renamed.exe");
    EXPECT_EQ(One(Record(u"Microsoft-Windows-AppLocker/EXE and DLL", 8004, blocked), u"ProcessBlocked"),
              (Fields{{u"FileName", u"renamed.exe"}, {u"FilePath", u"C:\\tools\\renamed.exe"},
                      {u"SourceFileName", u"mimikatz.exe"}, {u"user_sid", u"S-1-5-21-1-2-3-1001"}}));

    EventRecord capi2 = Record(u"Microsoft-Windows-CAPI2/Operational", 81, {Str(u"ignored")});
    capi2.Xml(u"<Event><System/><UserData><WinVerifyTrust><FileInfo filePath='C:\\x.dll'/>"
              u"<DigestInfo digestAlgorithm='SHA256' digest='AB12'/><EventAuxInfo ProcessName='setup.exe'/>"
              u"<Result value='800B0100'/></WinVerifyTrust></UserData></Event>");
    EXPECT_EQ(One(capi2, u"WinVerifyTrust"),
              (Fields{{u"file_path", u"C:\\x.dll"}, {u"digest", u"AB12"}, {u"digest_algorithm", u"SHA256"},
                      {u"process_name", u"setup.exe"}, {u"result", u"800B0100"}}))
        << "translated once, from its XML";

    winsim::DefineDosDevice(u"C:", u"\\Device\\HarddiskVolume2");
    EXPECT_EQ(One(Record(u"Microsoft-Windows-CodeIntegrity/Operational", 3033,
                         {EventValue::UInt16(1), Str(u"\\Device\\HarddiskVolume2\\x.sys"), EventValue::UInt16(1),
                          Str(u"\\Device\\HarddiskVolume2\\Windows\\System32\\lsass.exe"), EventValue::Byte(8),
                          EventValue::Byte(4), EventValue::UInt32(0xC0000428)}),
                  u"CodeIntegrity"),
              (Fields{{u"file_name", u"C:\\x.sys"}, {u"process_name", u"C:\\Windows\\System32\\lsass.exe"},
                      {u"requested_policy", u"8"}, {u"validated_policy", u"4"}, {u"status", u"3221226536"}}));
}

TEST(EventXml, MalformedDocumentsFillNothing) {
    FirewallFields firewall;
    EXPECT_EQ(ParseFireWallXML(u"<Event><EventData><Data Name='RuleName'>x", &firewall), 0);
    EXPECT_EQ(ParseFireWallXML(u"<Event><System/></Event>", &firewall), 0);
    EXPECT_EQ(ParseFireWallXML(u"<Event><EventData></EventData></Event>", &firewall), 1);
    EXPECT_EQ(firewall.ruleName, u"");
    SignatureCheckFields check;
    EXPECT_EQ(ParseWinVerifyTrustXml(u"not xml at all", &check), 0);
    EXPECT_EQ(ParseWinVerifyTrustXml(u"<Event><UserData><WinVerifyTrust><FileInfo/></WinVerifyTrust></UserData></Event>",
                                     &check),
              1);
    EXPECT_EQ(check.filePath, u"") << "a missing attribute leaves its field empty";
}

TEST(TranslationText, IdentifiersAndTags) {
    EXPECT_EQ(RelativeIdentifier(u"S-1-5-21-1-2-3-1005"), u"1005");
    EXPECT_EQ(RelativeIdentifier(u"none"), u"none");
    EXPECT_EQ(TrimCharacters(u"%{S-1-5-32-544}", u"%{}"), u"S-1-5-32-544");
    EXPECT_EQ(TextBetween(u"</a><a>x</a>", u"<a>", u"</a>"), u"") << "the first closing tag comes first";
}

}  // namespace
}  // namespace vantel
