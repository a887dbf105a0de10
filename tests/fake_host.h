// A host for tests that keeps what the module hands it: named events and report documents.
#pragma once
#include <atomic>
#include <condition_variable>
#include <functional>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/text.h"
#include "vantel/plugin_abi.h"

namespace vantel::testing {

// Reference counting that frees nothing: the test owns the objects.
template <typename Interface>
struct Counted : Interface {
    std::atomic<int> references{1};
    HResult VANTEL_CALL QueryInterface(const Guid&, void** object) override {
        *object = nullptr;
        return kNoInterface;
    }
    uint32_t VANTEL_CALL AddRef() override { return ++references; }
    uint32_t VANTEL_CALL Release() override { return --references; }
};

struct FakeEvent : Counted<IEventRecord> {
    std::u16string name;
    std::vector<std::pair<std::u16string, std::u16string>> fields;
    std::optional<int64_t> time;
    void VANTEL_CALL SetRecordField(const WChar* field, const WChar* value) override {
        fields.emplace_back(FromWide(field), FromWide(value));
    }
    void VANTEL_CALL SetRecordTime(int64_t value) override { time = value; }
};

struct FakeDocument : Counted<IReportDocument> {
    std::u16string tag;
    std::vector<std::pair<std::u16string, std::u16string>> values;
    std::vector<std::unique_ptr<FakeDocument>> nodes;
    int resets = 0;
    int32_t VANTEL_CALL SetNodeValue(const WChar* name, const WChar* value, uint32_t valueBytes, int32_t) override {
        std::u16string text = FromWide(value);
        if (valueBytes != text.size() * 2) text += u"<wrong byte count>";
        values.emplace_back(FromWide(name), text);
        return 0;
    }
    IReportDocument* VANTEL_CALL AddNode(const WChar* nodeTag, int32_t) override {
        nodes.push_back(std::make_unique<FakeDocument>());
        nodes.back()->tag = FromWide(nodeTag);
        return nodes.back().get();
    }
    int32_t VANTEL_CALL ResetDocument() override {
        ++resets;
        values.clear();
        nodes.clear();
        return 0;
    }
};

struct FakeHost : Counted<IPluginHost> {
    std::mutex lock;
    std::condition_variable submitted;
    std::vector<std::unique_ptr<FakeEvent>> events;  // submitted, in order
    std::vector<std::unique_ptr<FakeEvent>> created;
    bool refuseRecords = false;
    std::atomic<int> recordDelayMs{0};  // a slow host: each record takes this long to make
    FakeDocument documents[2];
    bool withoutDocuments = false;
    IServerPushedMessageHandler* handler = nullptr;
    struct Sent {
        bool reply;
        int kind;
        IServerPushedMessage* message;
        std::vector<std::pair<std::u16string, std::u16string>> values;
        std::vector<std::pair<std::u16string, std::vector<std::pair<std::u16string, std::u16string>>>> nodes;
    };
    std::vector<Sent> sent;
    std::function<void()> onSent;  // called after each document sent, on the sender's thread

    // None registered withdraws the handler.
    int32_t VANTEL_CALL RegisterMessageHandler(IServerPushedMessageHandler* registered) override {
        if (registered) registered->AddRef();
        if (handler) handler->Release();
        handler = registered;
        return 0;
    }
    IReportDocument* VANTEL_CALL GetReportDocument(int32_t kind) override {
        if (withoutDocuments || (kind != 1 && kind != 2)) return nullptr;
        return &documents[kind - 1];
    }
    int32_t VANTEL_CALL SubmitReport(IReportDocument* document) override { return Keep(false, document, nullptr); }
    int32_t VANTEL_CALL ReplyToMessage(IReportDocument* document, IServerPushedMessage* message) override {
        return Keep(true, document, message);
    }
    IEventRecord* VANTEL_CALL CreateEventRecord(const WChar* eventName) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(recordDelayMs.load()));
        std::lock_guard guard(lock);
        // As the agent's host does: a record without a name is no event.
        if (refuseRecords || FromWide(eventName).empty()) return nullptr;
        created.push_back(std::make_unique<FakeEvent>());
        created.back()->name = FromWide(eventName);
        return created.back().get();
    }
    int32_t VANTEL_CALL SubmitEventRecord(IEventRecord* record) override {
        std::lock_guard guard(lock);
        for (auto& made : created)
            if (made.get() == record) events.push_back(std::move(made));
        submitted.notify_all();
        return 0;
    }

    // Waits until at least count events were submitted; false after the time-out.
    bool WaitForEvents(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock guard(lock);
        return submitted.wait_for(guard, timeout, [&] { return events.size() >= count; });
    }

private:
    int32_t Keep(bool reply, IReportDocument* document, IServerPushedMessage* message) {
        auto* fake = static_cast<FakeDocument*>(document);
        Sent copy{reply, fake == &documents[0] ? 1 : 2, message, fake->values, {}};
        for (auto& node : fake->nodes) copy.nodes.emplace_back(node->tag, node->values);
        sent.push_back(std::move(copy));
        if (onSent) onSent();
        return 0;
    }
};

// A server-pushed message; without a payload GetPayload answers null.
struct FakeMessage : Counted<IServerPushedMessage> {
    std::u16string command = u"FreshList", value = u"v";
    std::optional<std::string> payload;
    FakeMessage() = default;
    FakeMessage(std::u16string commandWord, std::u16string valueText)
        : command(std::move(commandWord)), value(std::move(valueText)) {}
    const uint8_t* VANTEL_CALL GetPayload(uint32_t* length) override {
        *length = payload ? static_cast<uint32_t>(payload->size()) : 0;
        return payload ? reinterpret_cast<const uint8_t*>(payload->data()) : nullptr;
    }
    const WChar* VANTEL_CALL GetCommand(int32_t) override { return ToWide(command); }
    const WChar* VANTEL_CALL GetValue(int32_t) override { return ToWide(value); }
};

}  // namespace vantel::testing
