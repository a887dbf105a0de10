// Libraries of the machine's system folder that winsim implements itself: "Wevtapi.dll" with
// the event-log entry points.
#pragma once
#include <string>

namespace winsim {

struct SystemLibrary;

// Fault injection: the library lacks the export until it is restored. An empty name stands for
// the whole library, which then fails to load.
void RemoveLibraryExport(const std::u16string& library, const std::string& exportName);
void RestoreLibraryExport(const std::u16string& library, const std::string& exportName);

// The machine's side. The library by file name (ignoring case); null, with last error 126, when
// there is none.
const SystemLibrary* LoadBuiltInLibrary(const std::u16string& fileName);
// Null, with last error 127, when the library has no such export.
void* BuiltInProcedure(const SystemLibrary* library, const char* name);

}  // namespace winsim
