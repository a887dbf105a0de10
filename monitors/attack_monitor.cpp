#include "monitors/attack_monitor.h"

#include "common/path.h"
#include "common/system_helpers.h"
#include "common/text.h"
#include "monitors/named_event_log.h"
#include "platform/accounts.h"
#include "platform/registry.h"
#include "plugin/singleton.h"
#include "plugin/trace.h"

namespace vantel {

namespace {

constexpr char16_t kFolder[] = u"Brisel\\Qorwend";
constexpr char16_t kConfigurationFile[] = u"AtLog.xml";
constexpr char16_t kNextId[] = u"NextId";
// Only the system and administrators may write entries: anyone else could forge attacks.
constexpr char16_t kOwnFolderSecurity[] = u"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr uint32_t kRetryAfterFailureMs = 5000;

// Everyone, interactive and authenticated users, users and guests.
constexpr const char16_t* kOrdinaryUsers[] = {u"S-1-1-0", u"S-1-5-4", u"S-1-5-11", u"S-1-5-32-545", u"S-1-5-32-546"};
// Adding or replacing a file in a folder, or taking the folder over.
constexpr uint32_t kWriteRights = 0x0002 /* add file */ | 0x0040 /* delete child */ | 0x00040000 /* write DAC */ |
                                  0x00080000 /* write owner */ | 0x10000000 /* generic all */ |
                                  0x40000000 /* generic write */;

}  // namespace

bool OrdinaryUsersMayWrite(const std::u16string& folder) {
    platform::Dacl dacl;
    uint32_t count = 0;
    if (platform::GetFileDacl(folder, &dacl) != platform::kErrorSuccess) return false;
    if (!dacl.present()) return true;  // no list lets everyone in
    if (dacl.GetAceCount(&count) != platform::kErrorSuccess) return false;
    for (uint32_t i = 0; i < count; ++i) {
        platform::AccessEntry entry;
        std::u16string sid;
        if (dacl.GetAce(i, &entry) != platform::kErrorSuccess || entry.type != platform::kAccessAllowedAce ||
            (entry.flags & platform::kInheritOnlyAce) != 0 || (entry.mask & kWriteRights) == 0 ||
            SidToText(entry.sid, &sid) == 0)
            continue;
        for (const char16_t* user : kOrdinaryUsers)
            if (sid == user) return true;
    }
    return false;
}

CAttackMonitor::CAttackMonitor()
    : folder_(false, platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete,
              platform::kNotifyChangeFileName | platform::kNotifyChangeAttributes | platform::kNotifyChangeSize |
                  platform::kNotifyChangeLastWrite) {
    std::u16string commonAppData = platform::CommonAppDataDirectory();
    if (commonAppData.empty()) TraceError(u"[CAttackMonitor] the common application-data folder is unknown");
    folderPath_ = PathAppend(commonAppData, kFolder);
    configurationFilePath_ = folderPath_ + u"\\" + kConfigurationFile;
    if (int32_t error = platform::GetComputerNetBiosName(&computerName_))
        TraceError(u"[CAttackMonitor] GetComputerName %d", error);
    if (!commonAppData.empty()) CreateFolder();
}

void CAttackMonitor::CreateFolder() {
    // Missing parents first, each with the list it inherits; then the folder itself.
    int32_t error = platform::kErrorSuccess;
    for (size_t slash = folderPath_.find(u'\\', 3); slash != std::u16string::npos && !error;
         slash = folderPath_.find(u'\\', slash + 1)) {
        error = platform::CreateDirectoryWithSecurity(folderPath_.substr(0, slash), u"");
        if (error == platform::kErrorAlreadyExists) error = platform::kErrorSuccess;
    }
    if (!error) error = platform::CreateDirectoryWithSecurity(folderPath_, kOwnFolderSecurity);
    if (error == platform::kErrorAlreadyExists) {
        // A folder made by someone else keeps its list; say so when it lets anyone write.
        if (OrdinaryUsersMayWrite(folderPath_))
            TraceError(u"[CAttackMonitor] warning: users who are no administrators may write to %s, so its entries "
                       u"cannot be trusted",
                       folderPath_);
    } else if (error != platform::kErrorSuccess) {
        TraceError(u"[CAttackMonitor] can't create dir %s: %d", folderPath_, error);
    }
}

bool CAttackMonitor::StartMonitor(const std::u16string& registryKeyPath) {
    {
        std::lock_guard guard(keyLock_);
        registryKeyPath_ = registryKeyPath;
    }
    TraceInfo(u"[CAttackMonitor] StartMonitor");
    stop_.exchange(0);
    watchers_.Queue([](void* self) { static_cast<CAttackMonitor*>(self)->Watch(); }, this, nullptr,
                    u"[CAttackMonitor]");
    return true;
}

void CAttackMonitor::StopMonitor() {
    TraceInfo(u"[CAttackMonitor] StopMonitor");
    stop_.exchange(1);
    folder_.Wake();
}

void CAttackMonitor::Watch() {
    std::lock_guard life(lock_);
    auto arm = [this] {
        DirectoryWatch::Step failed = DirectoryWatch::Step::Open;
        int32_t error = folder_.Arm(folderPath_, &failed);
        if (error == 0) return;
        if (failed == DirectoryWatch::Step::Open)
            TraceErrorText(Format(u"[CAttackMonitor] can't open dir %s\n", folderPath_));
        else TraceError(u"[CAttackMonitor] ReadDirectoryChangesW ERROR_IO_PENDING");
    };
    arm();
    // The flag is read after each arming: a StopMonitor after that wakes the wait.
    while (!stop_) {
        if (folder_.armed()) HandleNotification();
        else folder_.Pause(kRetryAfterFailureMs);  // the folder may come back; no tight loop
        arm();
    }
    folder_.Close();
}

void CAttackMonitor::HandleNotification() {
    std::vector<DirectoryChange> changes;
    if (folder_.Wait(&changes) != platform::kErrorSuccess) return;
    // An overflow dropped the records: the file may be among them.
    bool matched = changes.empty();
    for (const DirectoryChange& change : changes) {
        if (change.action != platform::kFileActionAdded && change.action != platform::kFileActionModified &&
            change.action != platform::kFileActionRenamedNewName)
            continue;
        std::u16string name = folderPath_ + u"\\" + change.name;
        if (name.find(u'~') != std::u16string::npos) {
            std::u16string expanded;
            if (platform::LongPathName(name, &expanded) == platform::kErrorSuccess) name = expanded;
        }
        if (EqualsIgnoreCase(name, configurationFilePath_)) {
            matched = true;
            break;
        }
    }
    if (matched && FileChanged()) {
        TraceInfo(u"[CAttackMonitor] config file changed, reload: %s", configurationFilePath_);
        ReportAttacks();
    }
}

bool CAttackMonitor::FileChanged() {
    platform::FileFindData found;
    if (platform::FindFileData(configurationFilePath_, &found) != platform::kErrorSuccess) return false;
    if (found.lastWriteTicks == lastSeen_.lastWriteTicks && found.size == lastSeen_.size) return false;
    lastSeen_ = found;
    return true;
}

void CAttackMonitor::ReportAttacks() {
    std::u16string key;
    {
        std::lock_guard guard(keyLock_);
        key = registryKeyPath_;
    }
    std::u16string nextId;
    platform::RegReadString(platform::RegRoot::LocalMachine, key, kNextId, &nextId);  // none: report all
    ParseAttackLog(nextId, configurationFilePath_, &attacks_);
    CSpecialLog& log = LL_singleton<CSpecialLog>::Instance();
    const AttackRecord* highest = nullptr;
    for (const AttackRecord& attack : attacks_) {
        log.SetField(u"EventName", u"RemoteLogonFailed");
        log.SetField(u"computer_name", computerName_);
        log.SetField(u"logon_time", attack.time);
        log.SetField(u"attack_type", attack.type);
        log.SetField(u"attack_ip", attack.ip);
        log.SetNumber(u"action_count", counts_[attack.type]++);
        log.Commit();
        if (highest == nullptr || LeadingInt64(attack.id) > LeadingInt64(highest->id)) highest = &attack;
    }
    // The highest id reported, wherever it stands: entries out of order are not reported twice.
    if (highest != nullptr) {
        if (int32_t error = platform::RegWriteString(platform::RegRoot::LocalMachine, key, kNextId, highest->id))
            TraceError(u"[CAttackMonitor] RegSetValueEx %s %d", kNextId, error);
    }
}

}  // namespace vantel
