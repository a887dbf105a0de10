// A plugin's connection to the host: its report documents, its message handler, a JSON object
// for command payloads, and the report rows being collected. One per plugin name.
#pragma once
#include <atomic>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/com_ptr.h"
#include "plugin/receive_callback.h"
#include "vantel/companion_abi.h"
#include "vantel/plugin_abi.h"

namespace vantel {

class PluginHostLink {
public:
    using Row = std::map<std::u16string, std::u16string>;  // fields leave in name order

    // The link of "EventLog", "NtUsers" or "Certificate" (any case); null for other names.
    // Links are never freed; what they hold is let go when their plugin is destroyed.
    static PluginHostLink* For(std::u16string_view pluginName);

    // 1 once registered with the host; 0 on failure, when a later call tries again.
    int32_t Register(IPluginHost* host);
    void AddReportField(const std::u16string& name, const std::u16string& value);
    void CommitReportRow();
    // Writes the committed rows into the document of that kind, sends it (as the reply to the
    // current message, or as a report when reply is 0), then drops the rows and resets it.
    void FlushReport(int32_t reply, int32_t kind, const std::u16string& tag);
    // Drops the rows of a report that will not be sent, so that no later report carries them.
    void DiscardReport();
    // At the plugin's Destroy, under the command lock: the handler refuses every message from now
    // on and the host is asked to drop it (by registering none); the documents, the JSON object
    // and the rows are let go, and the next Register starts afresh.
    void Withdraw();

    const std::u16string& name() const { return name_; }
    bool registered() const { return registered_ != 0; }
    IJsonObject* json() const { return json_.get(); }

    // The message being executed; set by the command worker, which holds the command lock.
    IServerPushedMessage* currentMessage = nullptr;

private:
    explicit PluginHostLink(std::u16string name) : name_(std::move(name)) {}

    std::atomic<int32_t> registered_{0};
    std::vector<Row> rows_;
    Row pending_;
    IPluginHost* host_ = nullptr;
    ComPtr<IReportDocument> document1_;
    ComPtr<IReportDocument> document2_;
    ComPtr<CReceiveCallback> handler_;
    ComPtr<IJsonObject> json_;
    std::u16string name_;
};

}  // namespace vantel
