// The simulated machine's drives: C:\ is a folder of the test's choosing, Z:\ is the real
// file system (as under Wine), so the agent's own files keep their real places.
#pragma once
#include <cstdint>
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

}  // namespace winsim
