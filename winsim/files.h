// The simulated machine's drives: C:\ is a folder of the test's choosing, Z:\ is the real
// file system (as under Wine), so the agent's own files keep their real places.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace winsim {

// Maps a drive letter onto a host folder; the folder is created when missing.
void MapDrive(char16_t letter, const std::string& hostFolder);
// The host path of a Windows path, empty when its drive is not mapped.
std::string HostPath(const std::u16string& windowsPath);
// The Windows path of a host path (on Z:, or on a mapped drive whose folder holds it).
std::u16string WindowsPath(const std::string& hostPath);
// One spelling of a host path, so that facts kept per file find it however it is written.
std::string CanonicalHostPath(const std::string& hostPath);

// Control: after that many more successful writes, the next WriteFile fails with the error.
void FailFileWrite(uint32_t writesBefore, int32_t error);
// The machine's side: the error the next write fails with, or 0.
int32_t TakeFileWriteFailure();

// Control: gives a file or folder a creation time (100-ns ticks since 1601); it then exists for
// FileCreationTime even when no host file stands behind it.
void SetFileCreationTime(const std::u16string& windowsPath, uint64_t ticks);
// The creation time given, else the host file's last change; 2 (not found) when neither exists.
int32_t FileCreationTime(const std::u16string& windowsPath, uint64_t* ticks);

// Control: changes to files, each told to the folder watches that see it (directory_changes.h).
// A written file is created or has its contents replaced; a given last-write time (100-ns ticks
// since 1601) is set on it afterwards. False when the path is not on a mapped drive or the
// file system refuses.
bool WriteFile(const std::u16string& windowsPath, const std::string& contents,
               std::optional<uint64_t> lastWriteTicks = std::nullopt);
bool DeleteFile(const std::u16string& windowsPath);
bool RenameFile(const std::u16string& from, const std::u16string& to);

// Control: a file's or folder's security descriptor, in its string form. Without one of its
// own, a path has that of its nearest folder that has one, else kDefaultFileSecurity.
void SetFileSecurity(const std::u16string& windowsPath, const std::u16string& descriptor);
// As the common application-data folder gives its subfolders: users may add files.
constexpr char16_t kDefaultFileSecurity[] = u"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;CI;0x116;;;BU)";

// The machine's side.
// CreateDirectory with a descriptor (empty: the inherited one): 183 when it exists, 3 when its
// parent does not.
int32_t CreateFolder(const std::u16string& windowsPath, const std::u16string& descriptor);
std::u16string FileSecurity(const std::u16string& windowsPath);
// FindFirstFile of one path: its attributes, last-write time and size; 2 when it is not there.
struct FindData {
    uint32_t attributes;
    uint64_t lastWriteTicks;
    uint64_t size;
};
int32_t FindFile(const std::u16string& windowsPath, FindData* data);
// The 8.3 name the machine gives a name: the name itself, in capitals, when it is one already,
// else its first six letters or digits, "~1" and the first three of its extension.
std::u16string ShortName(const std::u16string& name);
// GetLongPathName: every component found by its long or short name; 2 or 3 when one is missing.
int32_t LongPathName(const std::u16string& windowsPath, std::u16string* longPath);

}  // namespace winsim
