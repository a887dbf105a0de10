// The files the account policy keeps: security templates in the Windows folder and the user
// plugin's run file under the agent's root.
#pragma once
#include <cstdint>
#include <string>

namespace vantel::policy_files {

inline constexpr char16_t kSystemAccess[] = u"System Access";
inline constexpr char16_t kStatus[] = u"status";
// The key of the account names, which the Everyone deny entry protects.
inline constexpr char16_t kAccountNamesKey[] = u"MACHINE\\SAM\\SAM\\Domains\\Account\\Users\\Names";

// The Windows folder followed by the name ("\gp.ini").
std::u16string InWindowsDirectory(const char16_t* name);
// "<agent root>\pelmar\plugin\<the user plugin's class identifier>.run".
std::u16string RunFilePath();
// Writes the number as decimal text; a failure is traced, with the file and the error.
bool WriteIniNumber(const std::u16string& file, const char16_t* section, const char16_t* key, int32_t value);
// The "Version" section every security template starts with.
void WriteTemplateVersion(const std::u16string& file);
// secedit's arguments to apply a template, its database being "\db" in the Windows folder.
std::u16string ConfigureArguments(const std::u16string& templateFile);
std::u16string DatabasePath();

}  // namespace vantel::policy_files
