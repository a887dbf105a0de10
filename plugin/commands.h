// Execution of server-pushed commands, one at a time across all plugins.
#pragma once
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/plugin_base.h"
#include "vantel/companion_abi.h"
#include "vantel/plugin_abi.h"

namespace vantel {

// Held for the whole of every command, and with it every report flush.
std::recursive_mutex& CommandLock();

struct PluginRunState;

struct CommandContext {
    IServerPushedMessage* message;  // the host's reference, taken over by the worker
    std::u16string pluginName;
    // The running counts the message was counted in: the receiving plugin's, and the one of the
    // plugin the command acts on when that is another (else null).
    PluginRunState* receiverState;
    PluginRunState* targetState;
};

// The thread-pool work item of one accepted message; frees the context, releases the message
// and, last, uncounts it.
void CommandWorker(void* context);

// The plugin whose object the command acts on: the receiver's own for a list request and for
// every "EventLog" message, the user plugin for "Enable", "Disable" and "SaveDict", the
// certificate plugin for "Remove"; none for a command that acts on no plugin object.
std::optional<PluginClass> CommandTarget(std::u16string_view pluginName, std::u16string_view command);

// What the server's history request for "EventLog" asks: members "FreshList" and "LastDays"
// of the JSON text, a string as itself, any other value as its JSON text, a missing one empty.
struct HistoryRequest {
    std::u16string freshList;
    std::u16string lastDays;
};
HistoryRequest ParseHistoryRequest(IJsonObject* json, const std::u16string& text);

// The fingerprint of a "Remove" value: the string member "fingerprint" when the value is a JSON
// object that has one, else the text between "\"fingerprint\":" and the value's first comma,
// stripped of double quotes; none without either or when its length is odd.
std::optional<std::u16string> ExtractFingerprint(IJsonObject* json, const std::u16string& value);

// The words of a "SaveDict" value: the items of a JSON array, a string as itself, any other
// item as its JSON text; empty when the value is no array.
std::vector<std::u16string> ExtractWordList(IJsonObject* json, const std::u16string& value);

}  // namespace vantel
