#include "accounts/nt_users.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "accounts/account_policy.h"
#include "accounts/md4.h"
#include "accounts/wql.h"
#include "common/system_helpers.h"
#include "eventlog/event_values.h"
#include "platform/accounts.h"
#include "platform/files.h"
#include "platform/legacy_eventlog.h"
#include "platform/registry.h"
#include "plugin/boundary.h"
#include "plugin/host_link.h"

namespace vantel {

namespace {

constexpr char16_t kSamUsers[] = u"SAM\\SAM\\Domains\\Account\\Users";
constexpr char16_t kCurrentVersion[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

PluginHostLink& Link() { return *PluginHostLink::For(u"NtUsers"); }

bool Failed(int32_t result) { return result < 0; }

// Hands each object of a query's result to the visitor until the result ends or, when a stop
// flag is given, the plugin is stopped; false when an object could not be had.
template <typename Visit>
bool VisitWmiObjects(const platform::WmiPtr& enumerator, const std::atomic<int32_t>* stopped, Visit&& visit) {
    bool complete = true;
    while (stopped == nullptr || stopped->load() == 0) {
        platform::WmiPtr object;
        uint32_t returned = 0;
        platform::WbemNext(enumerator, &object, &returned);
        if (returned == 0) break;
        if (!object) {
            complete = false;
            continue;
        }
        visit(object);
    }
    return complete;
}

uint64_t LittleEndian(const uint8_t* bytes, size_t size) {
    uint64_t value = 0;
    for (size_t i = size; i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

}  // namespace

int32_t CNtUsers::Install() {
    return AtBoundary(u"[CNtUsers] Install", 0, [] {
        AccountPolicy::Instance().SavePolicyOnInstall();
        return 0;
    });
}

int32_t CNtUsers::Uninstall() {
    return AtBoundary(u"[CNtUsers] Uninstall", 0, [] {
        AccountPolicy::Instance().RemovePolicyOnUninstall();
        return 0;
    });
}

int32_t CNtUsers::Initialize(IPluginHost* host) {
    return AtBoundary(u"[CNtUsers] Initialize", 0, [&] {
        // No once-only guard here: registering the host link again is harmless.
        TraceInfo(u"[CNtUsers] init");
        Link().Register(host);
        return 0;
    });
}

int32_t CNtUsers::Start() {
    PluginBase::Start();
    return AtBoundary(u"[CNtUsers] Start", 0, [&] {
        Init();
        AccountPolicy::Instance().ApplyPolicyOnStart();
        return 0;
    });
}

void CNtUsers::BeforeDestroy() {
    std::lock_guard guard(usersLock_);
    initialised_ = false;
    services_ = platform::WmiPtr();
    if (std::exchange(comInitialised_, false)) platform::ComUninitialize();
}

bool CNtUsers::Init() {
    TraceInfo(u"[CNtUsers]:CNtUsers::Init begin");
    // The connection is what a running command's inventory uses.
    std::lock_guard guard(usersLock_);
    if (initialised_) return true;
    int32_t result = 0;
    // COM stays initialised on this thread once it was, so a retry does not stack a second one.
    if (!comInitialised_) {
        result = platform::ComInitialize();
        comInitialised_ = !Failed(result);
    }
    platform::WmiPtr locator;
    if (Failed(result)) {
        TraceError(u"[CNtUsers]:Failed to initialize COM library. Error code = %0x", result);
    } else if (result = platform::ComInitializeSecurity(); Failed(result) && result != platform::kRpcETooLate) {
        TraceError(u"[CNtUsers]: Failed to initialize security. Error code = %0x", result);
    } else if (result = platform::CreateWbemLocator(&locator); Failed(result)) {
        TraceError(u"[CNtUsers]:Failed to create IWbemLocator object Err code = %0x", result);
    } else if (result = platform::WbemConnectServer(locator, u"ROOT\\CIMV2", &services_); Failed(result)) {
        TraceError(u"[CNtUsers]:Could not connect. Error code = %0x", result);
    } else if (result = platform::WbemSetProxyBlanket(services_); Failed(result)) {
        TraceError(u"[CNtUsers]:Could not set proxy blanket. Error code = %0x", result);
    } else {
        result = 0;
    }
    initialised_ = !Failed(result);
    if (!initialised_) services_ = platform::WmiPtr();

    // 31 characters of room, 30 of them stated: a name of 30 or more does not fit.
    std::u16string domain;
    if (int32_t error = platform::GetComputerDnsDomain(30, &domain))
        TraceError(u"[CNtUsers] GetComputerNameEx :%d", error);
    else
        dnsDomain_ = domain;
    TraceInfo(u"[CNtUsers]:CNtUsers::Init end %d", initialised_ ? 1 : 0);
    return initialised_;
}

bool CNtUsers::QuerySystemUsers() {
    std::lock_guard guard(usersLock_);
    users_.clear();
    if (!initialised_ || !services_) return false;
    platform::WmiPtr enumerator;
    if (int32_t result = platform::WbemExecQuery(services_, u"SELECT * FROM Win32_SystemUsers", &enumerator);
        Failed(result)) {
        TraceError(u"[CNtUsers]:Query for Win32_SystemUsers failed.Error code = %0x", result);
        return false;
    }
    bool complete = VisitWmiObjects(enumerator, &runState().stopped, [&](const platform::WmiPtr& object) {
        std::u16string path;
        if (Failed(platform::WbemGetText(object, u"PartComponent", &path))) return;
        std::u16string name, domain;
        ParseUserAccountPath(path, &name, &domain);
        QueryUserAccount(name, domain);
        TraceInfo(u"[CNtUsers]:strUser: %s, domain:", name);
    });
    return runState().stopped.load() == 0 && complete;
}

bool CNtUsers::QueryUserAccount(const std::u16string& name, const std::u16string& domain) {
    // Escaped, so that a legal name with an apostrophe still finds its account.
    std::u16string wql = Format(u"SELECT * FROM Win32_UserAccount where Name='%s' and Domain='%s'",
                                EscapeWqlLiteral(name), EscapeWqlLiteral(domain));
    platform::WmiPtr enumerator;
    if (int32_t result = platform::WbemExecQuery(services_, wql, &enumerator); Failed(result)) {
        TraceError(u"[CNtUsers]:Query for Win32_UserAccount failed.Error code = %0x", result);
        return false;
    }
    UserItem item;
    bool complete = VisitWmiObjects(enumerator, nullptr, [&](const platform::WmiPtr& object) {
        auto text = [&](const char16_t* property, std::u16string* field, const char16_t* line) {
            if (!Failed(platform::WbemGetText(object, property, field))) TraceInfo(line, *field);
        };
        auto flag = [&](const char16_t* property, bool* field, bool invert, const char16_t* line) {
            int32_t value = 0;
            if (Failed(platform::WbemGetNumber(object, property, &value))) return;
            *field = (value != 0) != invert;
            TraceInfo(line, value);
        };
        text(u"Name", &item.name, u"[CNtUsers]:Name: %s");
        text(u"Domain", &item.domain, u"[CNtUsers]:Domain: %s");
        flag(u"LocalAccount", &item.isDomain, true, u"[CNtUsers]:LocalAccount: %d");
        text(u"Caption", &item.fullName, u"[CNtUsers]:FullName: %s");
        text(u"Description", &item.description, u"[CNtUsers]:Description: %s");
        flag(u"Disabled", &item.disabled, false, u"[CNtUsers]:Disabled: %d");
        flag(u"Lockout", &item.lockedOut, false, u"[CNtUsers]:Lockout: %d");
        text(u"SID", &item.sid, u"[CNtUsers]: SID: %s");
        if (item.isDomain && !dnsDomain_.empty()) item.domain = dnsDomain_;

        platform::UserInfo2 info;
        if (int32_t status = platform::NetUserGetInfo2(item.domain, item.name, &info)) {
            TraceError(u"[CNtUsers]: NetUserGetInfo %d", status);
        } else {
            item.usrType = static_cast<int32_t>(info.privilege);
            item.lastLogon = info.lastLogon;
            item.badPwCount = info.badPwCount;
            item.numLogons = info.numLogons;
            TraceInfo(u"[CNtUsers]:wBadPwCount %d,NumLogons %d", info.badPwCount, info.numLogons);
        }
        item.installTime = GetUserInstallTime(name);
        item.firstLogon = GetProfileCreateTime(item.sid);
        for (const char16_t* builtIn : {u"Administrator", u"Guest", u"DefaultAccount", u"WDAGUtilityAccount"})
            if (EqualsIgnoreCase(item.name, builtIn)) item.installTime = GetWindowsInstallDate();
        // Without a profile nobody has logged on; a logon never precedes the profile.
        if (item.firstLogon == 0) {
            item.lastLogon = 0;
        } else {
            if (item.lastLogon == 0) item.lastLogon = FindNewestSecurityRecordTime(item.name, false);
            item.lastLogon = std::max(item.lastLogon, item.firstLogon);
        }
        TraceInfo(u"[CNtUsers]: tmFistLogon %lld,tmLastLogon %lld,tmInstallTime %lld", item.firstLogon,
                  item.lastLogon, item.installTime);
        users_.push_back(item);
    });
    return complete;
}

int64_t CNtUsers::GetUserInstallTime(const std::u16string& name) {
    // The type of the name's default value is the account's relative identifier.
    uint32_t rid = 0;
    std::vector<uint8_t> data;
    if (platform::RegReadValue(platform::RegRoot::LocalMachine, kSamUsers + (u"\\Names\\" + name), u"", &rid, &data))
        return 0;
    uint32_t type = 0;
    if (platform::RegReadValue(platform::RegRoot::LocalMachine, kSamUsers + Format(u"\\%08X", rid), u"F", &type,
                               &data))
        return 0;
    if (data.size() >= 32) {
        if (uint64_t created = LittleEndian(data.data() + 24, 8)) return FileTimeToUnixSeconds(created);
    }
    int64_t created = FindNewestSecurityRecordTime(name, true);
    return created != 0 ? created : GetWindowsInstallDate();
}

int64_t CNtUsers::GetProfileCreateTime(const std::u16string& sid) {
    std::u16string path, expanded;
    if (platform::RegReadString(platform::RegRoot::LocalMachine, kCurrentVersion + (u"\\ProfileList\\" + sid),
                                u"ProfileImagePath", &path) ||
        platform::ExpandEnvironmentText(path, &expanded))
        return 0;
    uint64_t ticks = 0;
    if (platform::GetFileCreationTime(expanded, &ticks)) return 0;
    return FileTimeToUnixSeconds(ticks);
}

int64_t CNtUsers::GetWindowsInstallDate() {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    if (platform::RegReadValue(platform::RegRoot::LocalMachine, kCurrentVersion, u"InstallDate", &type, &data))
        return 0;
    return static_cast<int64_t>(LittleEndian(data.data(), std::min<size_t>(data.size(), 8)));
}

int64_t CNtUsers::FindNewestSecurityRecordTime(const std::u16string& name, bool creation) {
    platform::LegacyEventLog log;
    if (log.Open(u"Security")) return 0;
    const size_t nameString = creation || platform::OsMajorVersion() < 6 ? 0 : 5;
    std::vector<uint8_t> buffer(65536);
    for (;;) {
        uint32_t read = 0, needed = 0;
        int32_t error = log.Read(platform::kEventLogSequentialRead | platform::kEventLogBackwardsRead, 0, buffer,
                                 &read, &needed);
        if (error == platform::kErrorInsufficientBuffer) {
            buffer.resize(needed);
            continue;
        }
        if (error) return 0;
        int64_t found = 0;
        ForEachLegacyRecord(std::span(buffer.data(), read), [&](const LegacyEventRecord& record) {
            bool wanted = creation ? record.eventId == 4720 || record.eventId == 624
                                   : record.eventId == 4624 || record.eventId == 528;
            if (wanted && record.String(nameString) == name) found = record.timeWritten;
            return found == 0;
        });
        if (found != 0) return found;
    }
}

void CNtUsers::ReFresh() {
    TraceInfo(u"[CNtUsers] ReFresh");
    if (!QuerySystemUsers()) return;
    std::vector<UserItem> users;
    {
        std::lock_guard guard(usersLock_);
        users = users_;
    }
    PluginHostLink& link = Link();
    auto flag = [](bool value) { return std::u16string(value ? u"1" : u"0"); };
    // Times go out as signed 32-bit seconds.
    auto time = [](int64_t value) { return Format(u"%d", static_cast<int32_t>(static_cast<uint32_t>(value))); };
    for (const UserItem& user : users) {
        link.AddReportField(u"Name", user.name);
        link.AddReportField(u"FullName", user.fullName);
        link.AddReportField(u"Description", user.description);
        link.AddReportField(u"Domain", user.domain);
        link.AddReportField(u"Disabled", flag(user.disabled));
        link.AddReportField(u"LockedOut", flag(user.lockedOut));
        link.AddReportField(u"IsDomain", flag(user.isDomain));
        link.AddReportField(u"UsrType", Format(u"%d", user.usrType));
        link.AddReportField(u"LastLogon", time(user.lastLogon));
        link.AddReportField(u"FirstLogon", time(user.firstLogon));
        link.AddReportField(u"InstallTime", time(user.installTime));
        link.AddReportField(u"BadPwCount", Format(u"%u", user.badPwCount));
        link.AddReportField(u"NumLogons", Format(u"%u", user.numLogons));
        link.CommitReportRow();
    }
    link.FlushReport(1, 1, u"Item");
}

void CNtUsers::CtrlUser(const std::u16string& userName, int enable) {
    TraceInfo(u"[CNtUsers] CtrlUser FullName %s enable %d", userName, enable);
    if (userName.empty()) return;
    size_t slash = userName.find(u'\\');
    std::u16string name = slash == std::u16string::npos ? std::u16string() : userName.substr(slash + 1, 259);
    uint32_t flags = 0;
    if (int32_t status = platform::NetUserGetFlags(name, &flags)) {
        TraceError(u"[CNtUsers] CtrlUser NetUserGetInfo %d", status);
        return;
    }
    flags = enable == 1 ? flags & ~platform::kAccountDisabled : flags | platform::kAccountDisabled;
    if (int32_t status = platform::NetUserSetFlags(name, flags))
        TraceError(u"[CNtUsers] CtrlUser SetUserGetInfo %d", status);
    else
        TraceInfo(u"[CNtUsers] CtrlUser SetUserGetInfo %s success!", name);
}

void CNtUsers::SaveUdictFile(const std::vector<std::u16string>& words) {
    if (words.empty()) return;
    std::u16string path = GetQorEDRPath() + u"\\Utils\\udict.bin";
    TraceInfo(u"[CNtUsers] SaveUdictFile dictpath:%s", path);
    // Written beside the dictionary and put in its place only when whole, so that the agent never
    // reads a part of one.
    std::u16string temporary = path + u".tmp";
    if (!WriteDigestFile(temporary, words)) {
        platform::DeleteFileAt(temporary);
        TraceError(u"[CNtUsers] SaveUdictFile kept the previous dictionary %s", path);
        return;
    }
    if (int32_t error = platform::ReplaceFileWith(temporary, path)) {
        TraceError(u"[CNtUsers] SaveUdictFile MoveFileEx %d %s", error, path);
        platform::DeleteFileAt(temporary);
    }
}

bool CNtUsers::WriteDigestFile(const std::u16string& path, const std::vector<std::u16string>& words) {
    platform::CreatedFile file;
    if (int32_t error = file.Create(path)) {
        TraceError(u"[CNtUsers] SaveUdictFile %d %s", error, path);
        return false;
    }
    for (const std::u16string& word : words) {
        std::vector<uint8_t> bytes;  // UTF-16LE, the NT password hash's input
        for (char16_t unit : word) {
            bytes.push_back(static_cast<uint8_t>(unit));
            bytes.push_back(static_cast<uint8_t>(unit >> 8));
        }
        Md4Digest digest = Md4(bytes.data(), bytes.size());
        if (int32_t error = file.Write(digest.data(), static_cast<uint32_t>(digest.size()))) {
            TraceError(u"[SaveUdictFile] WriteFile %d", error);
            return false;
        }
    }
    if (int32_t error = file.Close()) {
        TraceError(u"[SaveUdictFile] FlushFileBuffers %d", error);
        return false;
    }
    return true;
}

}  // namespace vantel
