// Small system facts the plugins share: the agent's and Windows' folders, times, the console
// user's session and token, device paths, services, version values and accounts.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/accounts.h"
#include "platform/locale.h"
#include "platform/sessions.h"

namespace vantel {

// The agent's root folder, the parent of this module's folder; empty when the module's path
// cannot be read.
std::u16string GetQorEDRPath();
std::u16string GetWindowsDir();

// A calendar time in UTC.
using SystemTime = platform::SystemTime;

// Seconds since 1970-01-01 UTC, the fraction dropped toward zero; an invalid calendar time gives 0.
int64_t SystemTimeToUnixSeconds(const SystemTime& time);
// The same for a count of 100-ns ticks since 1601-01-01 UTC.
int64_t FileTimeToUnixSeconds(uint64_t ticks);

// The first active terminal session, else the console's; platform::kNoSession when there is none.
uint32_t GetActiveSessionID();
// A primary token of the session's user; empty when nobody is found logged on to it.
platform::Token GetCurUserToken(uint32_t session);

// Drive name ("C:") to the device target the system reports for it, in drive-name order.
using DriveMap = std::map<std::u16string, std::u16string>;
// "\Device\HarddiskVolume2\x" to "C:\x", "\Device\Mup\server\share\x" to "\\server\share\x",
// over the drives of the console user; empty text when the path cannot be converted.
std::u16string DevicePathToDosPath(const char16_t* devicePath);
// Forgets the drives and closes the console user's token that the conversion keeps.
void ReleaseDriveMap();
// The conversion itself, over the given drives.
std::u16string DosPathFromDriveMap(const DriveMap& drives, std::u16string_view devicePath);

struct ServiceInfo {
    std::u16string imageFileName;  // the executable, or a hosted service's "ServiceDll"
    std::u16string commandLine;
    uint32_t processId = 0;
    bool hosted = false;  // runs in the system's shared service host
};

// 1 with the service's facts filled, 0 when it cannot be found or read.
int GetServiceInfo(const std::u16string& serviceName, ServiceInfo* info);
// The same for the service whose display name is exactly the one given.
int GetServiceInfoByDisplayName(const std::u16string& displayName, ServiceInfo* info);

// 1 with a text value of the file's version resource (of its first translation) copied into
// the buffer, cut to fit; 0 when there is none. The path may hold "%name%" references.
int GetFileVersionValue(const std::u16string& path, const std::u16string& valueName, char16_t* buffer,
                        size_t bufferLength);

// 1 when the user is an administrator in the account database of the server (or domain).
int IsAdminAccount(const std::u16string& server, const std::u16string& user);
// 1 when the name resolves on this computer to a valid security identifier.
int IsKnownAccountName(const std::u16string& user);
// 1 with the identifier's standard text form ("S-1-5-32-544"), 0 when it is not valid.
int SidToText(const platform::Sid& sid, std::u16string* text);

}  // namespace vantel
