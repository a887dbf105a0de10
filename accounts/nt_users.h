// The user-account plugin: the inventory of the machine's accounts, enabling and disabling
// them, and the weak-password dictionary.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/wmi.h"
#include "plugin/plugin_base.h"

namespace vantel {

class CNtUsers : public PluginBase {
public:
    static constexpr PluginClass kClass = PluginClass::NtUsers;

    CNtUsers() : PluginBase(kClass) {}

    int32_t VANTEL_CALL Install() override;
    int32_t VANTEL_CALL Uninstall() override;
    int32_t VANTEL_CALL Initialize(IPluginHost* host) override;
    int32_t VANTEL_CALL Start() override;

    // Builds the inventory and flushes it through the "NtUsers" host link.
    void ReFresh();
    // enable == 1 enables the account, anything else disables it; userName is "domain\name".
    void CtrlUser(const std::u16string& userName, int enable);
    // Replaces the weak-password dictionary with the MD4 of each word; an empty list keeps it.
    void SaveUdictFile(const std::vector<std::u16string>& words);

private:
    struct UserItem {
        std::u16string name, fullName, description, domain, sid;
        bool disabled = false, lockedOut = false, isDomain = false;
        int32_t usrType = 1;
        int64_t lastLogon = 0, firstLogon = 0, installTime = 0;
        uint32_t badPwCount = 0, numLogons = 0;
    };

    void BeforeDestroy() override;
    // Connects to WMI once; true while connected.
    bool Init();
    bool QuerySystemUsers();
    bool QueryUserAccount(const std::u16string& name, const std::u16string& domain);
    static int64_t GetUserInstallTime(const std::u16string& name);
    static int64_t GetProfileCreateTime(const std::u16string& sid);
    static int64_t GetWindowsInstallDate();
    // The newest logon (or the creation) of the account in the classic Security log; 0 if none.
    static int64_t FindNewestSecurityRecordTime(const std::u16string& name, bool creation);
    // The file of the words' digests, flushed to the disk; false (traced) when it is not whole.
    static bool WriteDigestFile(const std::u16string& path, const std::vector<std::u16string>& words);

    // The connection, the domain and the list, guarded by usersLock_ (with initialised_): Start
    // connects on the host's thread while a command may be listing on its own.
    bool comInitialised_ = false;
    platform::WmiPtr services_;
    std::u16string dnsDomain_;
    std::vector<UserItem> users_;
    std::recursive_mutex usersLock_;
};

}  // namespace vantel
