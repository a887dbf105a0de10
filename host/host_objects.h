// The objects the host hands to the plugins: the host itself, event records, report documents and
// server-pushed messages.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/com_object.h"
#include "common/com_ptr.h"
#include "common/text.h"
#include "host/output.h"
#include "vantel/plugin_abi.h"

namespace qorexthost {

// The host's own interfaces; only the handler's identifier is fixed by the module.
inline constexpr vantel::Guid kIidPluginHost = {
    0x6A0C51E4, 0x3B7D, 0x4F12, {0x9E, 0x41, 0x2C, 0x85, 0xD0, 0x17, 0x6B, 0xA3}};
inline constexpr vantel::Guid kIidEventRecord = {
    0x1F93A2C7, 0x5E08, 0x4B6D, {0xA1, 0x3C, 0x7D, 0x42, 0xE9, 0x05, 0xB8, 0x6E}};
inline constexpr vantel::Guid kIidReportDocument = {
    0xC4E7182B, 0x90AF, 0x4D35, {0x8B, 0x6A, 0x13, 0xF2, 0x5C, 0x9D, 0x04, 0x71}};
inline constexpr vantel::Guid kIidServerPushedMessage = {
    0x83B5D06F, 0x2A19, 0x47C8, {0xB7, 0x0E, 0x64, 0x3A, 0x1D, 0xC8, 0x52, 0xF9}};

// Runs the body of a method the module calls: nothing may unwind into the module.
template <typename Result, typename Body>
Result Guarded(const char* where, Result fallback, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "qorexthost: %s failed: %s\n", where, error.what());
    } catch (...) {
        std::fprintf(stderr, "qorexthost: %s failed\n", where);
    }
    return fallback;
}

template <typename Interface, const vantel::Guid& kIid>
using HostObject = vantel::ComObject<Interface, kIid>;

class EventRecord final : public HostObject<vantel::IEventRecord, kIidEventRecord> {
public:
    explicit EventRecord(std::string name) : name_(std::move(name)) {}

    void VANTEL_CALL SetRecordField(const vantel::WChar* name, const vantel::WChar* value) noexcept override;
    void VANTEL_CALL SetRecordTime(int64_t time) noexcept override { time_ = time; }

    // Adds "name", "fields" and, when set, "time".
    void AppendTo(Json& line) const;

private:
    std::string name_;
    Json fields_ = Json::object();
    std::optional<int64_t> time_;
};

// A document of kind 1 or 2, or one node of it. The nodes of a document share its lock, and a
// node belongs to its parent until the document is reset.
class ReportDocument final : public HostObject<vantel::IReportDocument, kIidReportDocument> {
public:
    explicit ReportDocument(int32_t kind) : ReportDocument(kind, std::string(), std::make_shared<std::mutex>()) {}

    int32_t VANTEL_CALL SetNodeValue(const vantel::WChar* name, const vantel::WChar* value, uint32_t valueBytes,
                                     int32_t flag) noexcept override;
    vantel::IReportDocument* VANTEL_CALL AddNode(const vantel::WChar* tag, int32_t flag) noexcept override;
    int32_t VANTEL_CALL ResetDocument() noexcept override;

    int32_t kind() const { return kind_; }
    // Adds "fields" and "nodes" (each node with its "tag", "fields" and "nodes"), in the order written.
    void AppendTo(Json& line) const;

private:
    ReportDocument(int32_t kind, std::string tag, std::shared_ptr<std::mutex> lock)
        : kind_(kind), tag_(std::move(tag)), lock_(std::move(lock)) {}
    void AppendUnlocked(Json& line) const;

    int32_t kind_;
    std::string tag_;
    std::shared_ptr<std::mutex> lock_;
    Json fields_ = Json::object();
    std::vector<vantel::ComPtr<ReportDocument>> nodes_;
};

class ServerPushedMessage final : public HostObject<vantel::IServerPushedMessage, kIidServerPushedMessage> {
public:
    // No payload makes GetPayload answer null.
    ServerPushedMessage(std::u16string command, std::u16string value, std::optional<std::string> payload)
        : command_(std::move(command)), value_(std::move(value)), payload_(std::move(payload)) {}

    const uint8_t* VANTEL_CALL GetPayload(uint32_t* length) noexcept override;
    const vantel::WChar* VANTEL_CALL GetCommand(int32_t) noexcept override { return vantel::ToWide(command_); }
    const vantel::WChar* VANTEL_CALL GetValue(int32_t) noexcept override { return vantel::ToWide(value_); }

private:
    const std::u16string command_;
    const std::u16string value_;
    const std::optional<std::string> payload_;
};

// How many event records the module has asked for so far, named or not, and of those how many
// without a name (which get no record: a nameless record is no event).
uint64_t EventRecordRequests();
uint64_t NamelessEventRecordRequests();

// One per plugin: it names the plugin in every line its calls produce.
class PluginHost final : public HostObject<vantel::IPluginHost, kIidPluginHost> {
public:
    explicit PluginHost(std::string pluginName) : name_(std::move(pluginName)) {}

    int32_t VANTEL_CALL RegisterMessageHandler(vantel::IServerPushedMessageHandler* handler) noexcept override;
    vantel::IReportDocument* VANTEL_CALL GetReportDocument(int32_t kind) noexcept override;
    int32_t VANTEL_CALL SubmitReport(vantel::IReportDocument* document) noexcept override;
    int32_t VANTEL_CALL ReplyToMessage(vantel::IReportDocument* document,
                                       vantel::IServerPushedMessage* message) noexcept override;
    vantel::IEventRecord* VANTEL_CALL CreateEventRecord(const vantel::WChar* eventName) noexcept override;
    int32_t VANTEL_CALL SubmitEventRecord(vantel::IEventRecord* record) noexcept override;

    // Hands a new message to the registered handler and writes the message line.
    void Deliver(const std::u16string& command, const std::u16string& value, const std::optional<std::string>& payload);

private:
    void WriteDocument(const char* type, vantel::IReportDocument* document, const std::string* command);

    const std::string name_;
    std::mutex lock_;
    vantel::ComPtr<vantel::IServerPushedMessageHandler> handler_;
    vantel::ComPtr<ReportDocument> documents_[2];
};

}  // namespace qorexthost
