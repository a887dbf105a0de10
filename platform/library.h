// Loading libraries and finding this module's and the process's files.
#pragma once
#include <cstdint>
#include <string>

namespace vantel::platform {

using LibraryHandle = void*;

// Loads a library by its full path; its own dependencies come from the system directory only.
LibraryHandle LoadLibraryByPath(const std::u16string& fullPath);
// Loads a library of the system directory by its file name ("Wevtapi.dll").
LibraryHandle LoadSystemLibrary(const std::u16string& fileName);
void* GetLibraryProcedure(LibraryHandle library, const char* name);
void FreeLibraryHandle(LibraryHandle library);

// Full path of this module's own file, empty when it cannot be read.
std::u16string ThisModulePath();
// Full path of the process's executable file.
std::u16string ProcessImagePath();

// The calling thread's last Windows error, as the failed call left it.
uint32_t LastError();

bool FileExists(const std::u16string& path);

// True when the file is validly signed by the same signer as this module.
bool VerifiesAsAgentOwn(const std::u16string& path);

}  // namespace vantel::platform
