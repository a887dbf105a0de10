#include "host/host_objects.h"

namespace qorexthost {

namespace {

std::string Utf8(const vantel::WChar* text) { return vantel::ToUtf8(vantel::FromWide(text)); }

// Only the host makes documents and records, so what the module hands back is one of ours.
ReportDocument& OwnDocument(vantel::IReportDocument* document) { return *static_cast<ReportDocument*>(document); }
EventRecord& OwnRecord(vantel::IEventRecord* record) { return *static_cast<EventRecord*>(record); }

}  // namespace

void EventRecord::SetRecordField(const vantel::WChar* name, const vantel::WChar* value) noexcept {
    Guarded("SetRecordField", 0, [&] {
        fields_[Utf8(name)] = Utf8(value);
        return 0;
    });
}

void EventRecord::AppendTo(Json& line) const {
    line["name"] = name_;
    line["fields"] = fields_;
    if (time_) line["time"] = *time_;
}

int32_t ReportDocument::SetNodeValue(const vantel::WChar* name, const vantel::WChar* value, uint32_t valueBytes,
                                     int32_t) noexcept {
    return Guarded("SetNodeValue", vantel::kFail, [&] {
        // The length counts bytes and no terminator.
        std::u16string text;
        if (value != nullptr) text.assign(reinterpret_cast<const char16_t*>(value), valueBytes / 2);
        std::string field = Utf8(name);
        std::lock_guard guard(*lock_);
        fields_[field] = vantel::ToUtf8(text);
        return vantel::kOk;
    });
}

vantel::IReportDocument* ReportDocument::AddNode(const vantel::WChar* tag, int32_t) noexcept {
    return Guarded("AddNode", static_cast<vantel::IReportDocument*>(nullptr), [&] {
        vantel::ComPtr<ReportDocument> node;
        *node.put() = new ReportDocument(kind_, Utf8(tag), lock_);
        std::lock_guard guard(*lock_);
        nodes_.push_back(node);
        return static_cast<vantel::IReportDocument*>(node.get());
    });
}

int32_t ReportDocument::ResetDocument() noexcept {
    return Guarded("ResetDocument", vantel::kFail, [&] {
        std::vector<vantel::ComPtr<ReportDocument>> dropped;  // released after the lock they share
        std::lock_guard guard(*lock_);
        fields_ = Json::object();
        dropped.swap(nodes_);
        return vantel::kOk;
    });
}

void ReportDocument::AppendTo(Json& line) const {
    std::lock_guard guard(*lock_);
    AppendUnlocked(line);
}

void ReportDocument::AppendUnlocked(Json& line) const {
    line["fields"] = fields_;
    Json nodes = Json::array();
    for (const auto& node : nodes_) {
        Json entry = {{"tag", node->tag_}};
        node->AppendUnlocked(entry);
        nodes.push_back(std::move(entry));
    }
    line["nodes"] = std::move(nodes);
}

const uint8_t* ServerPushedMessage::GetPayload(uint32_t* length) noexcept {
    if (length != nullptr) *length = payload_ ? static_cast<uint32_t>(payload_->size()) : 0;
    return payload_ ? reinterpret_cast<const uint8_t*>(payload_->data()) : nullptr;
}

int32_t PluginHost::RegisterMessageHandler(vantel::IServerPushedMessageHandler* handler) noexcept {
    auto kept = vantel::ComPtr<vantel::IServerPushedMessageHandler>::Borrow(handler);
    std::lock_guard guard(lock_);
    std::swap(handler_, kept);  // an earlier handler is released with kept, after the lock
    return vantel::kOk;
}

vantel::IReportDocument* PluginHost::GetReportDocument(int32_t kind) noexcept {
    return Guarded("GetReportDocument", static_cast<vantel::IReportDocument*>(nullptr),
                   [&]() -> vantel::IReportDocument* {
                       // One document per kind for the plugin's life, with a reference for the caller.
                       if (kind != 1 && kind != 2) return nullptr;
                       std::lock_guard guard(lock_);
                       vantel::ComPtr<ReportDocument>& document = documents_[kind - 1];
                       if (!document) *document.put() = new ReportDocument(kind);
                       document->AddRef();
                       return document.get();
                   });
}

void PluginHost::WriteDocument(const char* type, vantel::IReportDocument* document, const std::string* command) {
    ReportDocument& own = OwnDocument(document);
    Json line = {{"type", type}, {"plugin", name_}, {"kind", own.kind()}};
    if (command != nullptr) line["command"] = *command;
    own.AppendTo(line);
    WriteLine(line);
}

int32_t PluginHost::SubmitReport(vantel::IReportDocument* document) noexcept {
    return Guarded("SubmitReport", vantel::kFail, [&] {
        if (document == nullptr) return vantel::kFail;
        WriteDocument("report", document, nullptr);
        return vantel::kOk;
    });
}

int32_t PluginHost::ReplyToMessage(vantel::IReportDocument* document, vantel::IServerPushedMessage* message) noexcept {
    return Guarded("ReplyToMessage", vantel::kFail, [&] {
        if (document == nullptr) return vantel::kFail;
        std::string command = message != nullptr ? Utf8(message->GetCommand(0)) : std::string();
        WriteDocument("reply", document, &command);
        return vantel::kOk;
    });
}

namespace {
std::atomic<uint64_t> g_eventRecordRequests{0};
}  // namespace

std::atomic<uint64_t> g_namelessEventRecordRequests{0};

uint64_t EventRecordRequests() { return g_eventRecordRequests; }
uint64_t NamelessEventRecordRequests() { return g_namelessEventRecordRequests; }

vantel::IEventRecord* PluginHost::CreateEventRecord(const vantel::WChar* eventName) noexcept {
    // The new record's one reference is the caller's, who releases it after submitting. A
    // record without a name is no event.
    ++g_eventRecordRequests;
    return Guarded("CreateEventRecord", static_cast<vantel::IEventRecord*>(nullptr), [&] {
        std::string name = Utf8(eventName);
        if (name.empty()) ++g_namelessEventRecordRequests;
        return name.empty() ? nullptr : static_cast<vantel::IEventRecord*>(new EventRecord(name));
    });
}

int32_t PluginHost::SubmitEventRecord(vantel::IEventRecord* record) noexcept {
    return Guarded("SubmitEventRecord", vantel::kFail, [&] {
        if (record == nullptr) return vantel::kFail;
        Json line = {{"type", "event"}, {"plugin", name_}};
        OwnRecord(record).AppendTo(line);
        WriteLine(line);
        return vantel::kOk;
    });
}

void PluginHost::Deliver(const std::u16string& command, const std::u16string& value,
                         const std::optional<std::string>& payload) {
    vantel::ComPtr<vantel::IServerPushedMessageHandler> handler;
    {
        std::lock_guard guard(lock_);
        handler = handler_;
    }
    auto* message = new ServerPushedMessage(command, value, payload);
    auto hold = HoldOutput();  // the reply of a quick work item comes after this message's line
    int32_t accepted = handler ? handler->OnMessage(message) : 0;
    // An accepting handler took the host's reference over; a refused message stays the host's.
    if (accepted == 0) message->Release();
    WriteLine({{"type", "message"}, {"plugin", name_}, {"command", vantel::ToUtf8(command)}, {"accepted", accepted}});
}

}  // namespace qorexthost
