// Message modules of the simulated machine: files whose message table a program loads as a data
// file and formats texts from (LoadLibraryEx with LOAD_LIBRARY_AS_DATAFILE, FormatMessage), and
// the system's own table behind them.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace winsim {

using MessageTable = std::map<uint32_t, std::u16string>;  // message id to its text

// Control: a file at the path (environment references expanded; paths ignore case) with that
// table; adding it again replaces the table.
void AddMessageModule(const std::u16string& path, MessageTable table);
void ResetMessageModules();

// The machine's side. The table of the file at the path, read as loading the file reads it (a
// copy, so that loading costs what the file holds); null when there is no such file.
std::shared_ptr<const MessageTable> LoadMessageModule(const std::u16string& path);
// FormatMessage of the message from the module's table (null: none), else from the system's:
// "%1".."%99" (with an optional "!format!") take the inserts, "%n" is a line break, "%0" ends
// the text, "%%" and the other escapes give their character. Without inserts (null) the
// references stay as written. Answers 0, 317 (no such message) or 87 (a reference to an insert
// that was not given).
int32_t FormatMessage(const MessageTable* module, uint32_t messageId, const std::vector<std::u16string>* inserts,
                      std::u16string* text);

}  // namespace winsim
