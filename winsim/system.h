// The Windows folders and the environment variables of the simulated machine.
#pragma once
#include <cstdint>
#include <string>

namespace winsim {

// Control: by default "C:\Windows" and "C:\Windows\system32".
void SetWindowsDirectories(const std::u16string& windows, const std::u16string& system);
// Sets an environment variable; an empty value removes it. Defined at first: "SystemRoot",
// "windir", "SystemDrive", "ProgramFiles" and "ProgramData".
void SetEnvironmentVariable(const std::u16string& name, const std::u16string& value);

// Control: the major system version, 10 by default.
void SetOsMajorVersion(uint32_t major);

// The machine's side.
std::u16string WindowsDirectory();
std::u16string SystemDirectory();
// The common application-data folder: "ProgramData" of the environment, empty without it.
std::u16string CommonAppDataDirectory();
// Replaces each "%name%" of a defined variable (names ignore case); anything else stays as written.
std::u16string ExpandEnvironmentStrings(const std::u16string& text);
uint32_t OsMajorVersion();

}  // namespace winsim
