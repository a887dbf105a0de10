// Loading libraries and finding this module's and the process's files.
#pragma once
#include <string>

namespace vantel::platform {

using LibraryHandle = void*;

// Loads a library by its full path; its own dependencies come from the system directory only.
LibraryHandle LoadLibraryByPath(const std::u16string& fullPath);
void* GetLibraryProcedure(LibraryHandle library, const char* name);
void FreeLibraryHandle(LibraryHandle library);

// Full path of this module's own file, empty when it cannot be read.
std::u16string ThisModulePath();
// Full path of the process's executable file.
std::u16string ProcessImagePath();

bool FileExists(const std::u16string& path);

// True when the file is validly signed by the same signer as this module.
bool VerifiesAsAgentOwn(const std::u16string& path);

}  // namespace vantel::platform
