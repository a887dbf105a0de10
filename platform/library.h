// Loading libraries and finding this module's and the process's files.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace vantel::platform {

using LibraryHandle = void*;

// Loads a library by its full path; its own dependencies come from the system directory only.
LibraryHandle LoadLibraryByPath(const std::u16string& fullPath);
// Loads a library of the system directory by its file name ("Wevtapi.dll").
LibraryHandle LoadSystemLibrary(const std::u16string& fileName);
void* GetLibraryProcedure(LibraryHandle library, const char* name);
void FreeLibraryHandle(LibraryHandle library);

// Maps a library for its resources only (LoadLibraryEx with LOAD_LIBRARY_AS_DATAFILE): none of
// its code runs. Null on failure, with the reason in LastError().
LibraryHandle LoadLibraryAsDataFile(const std::u16string& path);
// FormatMessage of a message from the library's message table, else the system's: with inserts,
// "%1".."%n" take them (FORMAT_MESSAGE_ARGUMENT_ARRAY; the message must not refer past them);
// with an empty list no arguments are passed; without a list (null) the references stay as
// written (FORMAT_MESSAGE_IGNORE_INSERTS). 0 and the text, or the Windows error.
int32_t FormatMessageFromLibrary(LibraryHandle library, uint32_t messageId, const std::vector<std::u16string>* inserts,
                                 std::u16string* text);

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
