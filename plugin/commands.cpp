#include "plugin/commands.h"

#include <memory>

#include "accounts/account_policy.h"
#include "accounts/certificate.h"
#include "accounts/nt_users.h"
#include "eventlog/nt_event_log.h"
#include "platform/locale.h"
#include "plugin/boundary.h"
#include "plugin/factory.h"
#include "plugin/host_link.h"
#include "plugin/run_state.h"

namespace vantel {

namespace {

constexpr std::u16string_view kFingerprintKey = u"\"fingerprint\":";

std::u16string TextOf(IJsonValue* value) {
    if (value == nullptr) return {};
    int32_t error = 0;
    return FromWide(value->IsString() ? value->StringValue(&error) : value->JsonText());
}

std::u16string MemberText(IJsonObject* json, const char16_t* name) {
    int32_t error = 0;
    return TextOf(json->Member(ToWide(name), &error));
}

// The object when it is one of that class.
template <typename T>
T* As(PluginBase* object) {
    return object != nullptr && object->pluginClass() == T::kClass ? static_cast<T*>(object) : nullptr;
}

void RunHistoryRequest(CNtEventLog* eventLog, IServerPushedMessage* message) {
    uint32_t length = 0;
    const uint8_t* payload = message->GetPayload(&length);
    if (payload == nullptr) {
        TraceError(u"[EventLog] got server GetPayload data NULL");
        return;
    }
    // The payload is text up to its first zero byte, if it has one.
    std::string bytes(reinterpret_cast<const char*>(payload), length);
    bytes.resize(bytes.find('\0') == std::string::npos ? bytes.size() : bytes.find('\0'));
    std::u16string text = platform::AnsiToWide(bytes);
    TraceInfo(u"[EventLog] got server pushed message value:%s", text);
    HistoryRequest request = ParseHistoryRequest(PluginHostLink::For(u"EventLog")->json(), text);
    eventLog->ReFresh(request.freshList, false, request.lastDays);
}

// The target is the object CommandTarget names for the command, alive.
void RunCommand(const std::u16string& command, const std::u16string& value, PluginBase* target) {
    if (EqualsIgnoreCase(command, u"FreshList")) {
        if (auto* users = As<CNtUsers>(target)) users->ReFresh();
        if (auto* certificates = As<CCertificate>(target)) certificates->ReFresh();
    } else if (EqualsIgnoreCase(command, u"Enable") || EqualsIgnoreCase(command, u"Disable")) {
        auto* users = As<CNtUsers>(target);
        users->CtrlUser(value, EqualsIgnoreCase(command, u"Enable") ? 1 : 0);
        users->ReFresh();
    } else if (EqualsIgnoreCase(command, u"Remove")) {
        auto* certificates = As<CCertificate>(target);
        if (std::optional<std::u16string> fingerprint =
                ExtractFingerprint(PluginHostLink::For(u"Certificate")->json(), value)) {
            certificates->Remove(*fingerprint);
        } else {
            // The server still learns the list as it stands.
            TraceError(u"[Certificate] Remove: no fingerprint of even length in the value %s", value);
            certificates->ReFresh();
        }
    } else if (EqualsIgnoreCase(command, u"SaveDict")) {
        std::vector<std::u16string> words = ExtractWordList(PluginHostLink::For(u"NtUsers")->json(), value);
        As<CNtUsers>(target)->SaveUdictFile(words);
    } else if (EqualsIgnoreCase(command, u"SetPolicy")) {
        TraceInfoText(u"[Vantel]SetPolicy received!\n");
        AccountPolicy::Instance().WritePolicyIni(value);
    }
}

}  // namespace

std::optional<PluginClass> CommandTarget(std::u16string_view pluginName, std::u16string_view command) {
    if (EqualsIgnoreCase(pluginName, u"EventLog")) return PluginClass::EventLog;
    if (EqualsIgnoreCase(command, u"FreshList")) {
        if (EqualsIgnoreCase(pluginName, u"NtUsers")) return PluginClass::NtUsers;
        if (EqualsIgnoreCase(pluginName, u"Certificate")) return PluginClass::Certificate;
        return std::nullopt;
    }
    if (EqualsIgnoreCase(command, u"Enable") || EqualsIgnoreCase(command, u"Disable") ||
        EqualsIgnoreCase(command, u"SaveDict"))
        return PluginClass::NtUsers;
    if (EqualsIgnoreCase(command, u"Remove")) return PluginClass::Certificate;
    return std::nullopt;
}

std::recursive_mutex& CommandLock() {
    static std::recursive_mutex* const lock = new std::recursive_mutex;
    return *lock;
}

HistoryRequest ParseHistoryRequest(IJsonObject* json, const std::u16string& text) {
    if (json == nullptr) return {};
    json->Parse(ToWide(text));  // unparsable text leaves both members empty
    return {MemberText(json, u"FreshList"), MemberText(json, u"LastDays")};
}

std::optional<std::u16string> ExtractFingerprint(IJsonObject* json, const std::u16string& value) {
    if (json != nullptr && json->Parse(ToWide(value)) == 0) {
        int32_t error = 0;
        IJsonValue* member = json->Member(ToWide(u"fingerprint"), &error);
        if (member != nullptr && member->IsString()) {
            std::u16string text = FromWide(member->StringValue(&error));
            if (text.size() % 2 != 0) return std::nullopt;
            return text;
        }
    }
    // Otherwise the text between the key and the first comma, as the value is cut when it is no
    // JSON object with that member.
    std::u16string_view view(value);
    size_t comma = view.find(u',');
    size_t key = view.find(kFingerprintKey);
    if (comma == std::u16string_view::npos || key == std::u16string_view::npos) return std::nullopt;
    size_t start = key + kFingerprintKey.size();
    std::u16string_view text = comma > start ? view.substr(start, comma - start) : std::u16string_view();
    while (!text.empty() && text.front() == u'"') text.remove_prefix(1);
    while (!text.empty() && text.back() == u'"') text.remove_suffix(1);
    if (text.size() % 2 != 0) return std::nullopt;
    return std::u16string(text);
}

std::vector<std::u16string> ExtractWordList(IJsonObject* json, const std::u16string& value) {
    std::vector<std::u16string> words;
    if (json == nullptr) return words;
    json->Parse(ToWide(value));
    IJsonValue* root = json->Root();
    if (root == nullptr || !root->IsArray()) return words;
    for (uint32_t i = 0, size = root->ArraySize(); i < size; ++i) {
        int32_t error = 0;
        if (IJsonValue* item = root->ArrayItem(i, &error)) words.push_back(TextOf(item));
    }
    return words;
}

void CommandWorker(void* raw) {
    std::unique_ptr<CommandContext> context(static_cast<CommandContext*>(raw));
    {
        std::lock_guard guard(CommandLock());
        const std::u16string& pluginName = context->pluginName;
        PluginHostLink* link = PluginHostLink::For(pluginName);
        AtBoundary(u"CommandWorker", [&] {
            if (link) link->currentMessage = context->message;
            std::u16string command = FromWide(context->message->GetCommand(0));
            std::optional<PluginClass> targetClass = CommandTarget(pluginName, command);
            // Destroy clears the slot under the command lock: an object found here lives until the command ends.
            PluginBase* target = targetClass ? LiveInstance(*targetClass) : nullptr;
            if (targetClass && target == nullptr) {
                TraceError(u"[Vantel] %s for %s dropped: the %s plugin was destroyed", command, pluginName,
                           PluginNameOf(*targetClass));
                return;
            }
            if (auto* eventLog = As<CNtEventLog>(target)) return RunHistoryRequest(eventLog, context->message);
            std::u16string value = FromWide(context->message->GetValue(0));
            TraceInfo(u"got server pushed message cmd:%s ,value:%s", command, value);
            RunCommand(command, value, target);
        });
        // The message is released below: a later flush must not hand the host a message it freed.
        if (link) link->currentMessage = nullptr;
        context->message->Release();
    }
    // Every path ends here. The counts go last: once IsBusy answers 0, the worker touches
    // nothing of the host's or of the plugins'.
    --context->receiverState->running;
    if (context->targetState) --context->targetState->running;
}

}  // namespace vantel
