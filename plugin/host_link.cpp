#include "plugin/host_link.h"

#include "common/system_helpers.h"
#include "common/text.h"
#include "plugin/boundary.h"
#include "plugin/companion.h"

namespace vantel {

PluginHostLink* PluginHostLink::For(std::u16string_view pluginName) {
    static PluginHostLink* const links[] = {new PluginHostLink(u"EventLog"), new PluginHostLink(u"NtUsers"),
                                            new PluginHostLink(u"Certificate")};
    for (PluginHostLink* link : links)
        if (EqualsIgnoreCase(pluginName, link->name_)) return link;
    return nullptr;
}

int32_t PluginHostLink::Register(IPluginHost* host) {
    if (registered_) return 1;
    std::u16string root = GetQorEDRPath();
    if (root.empty()) return 0;
    if (ProcessCompanions().CreateJsonObject(root + u"\\Qorbase.dll", &json_) != kOk || !json_) return 0;
    host_ = host;
    if (host_ != nullptr) {
        document1_ = ComPtr<IReportDocument>::Borrow(host_->GetReportDocument(1));
        document2_ = ComPtr<IReportDocument>::Borrow(host_->GetReportDocument(2));
        if (!document1_ || !document2_) return 0;
    }
    handler_ = CReceiveCallback::Create(name_);
    if (!handler_) return 0;
    if (host_ != nullptr) host_->RegisterMessageHandler(handler_.get());
    registered_ = 1;
    return 1;
}

void PluginHostLink::Withdraw() {
    AtBoundary(u"[Vantel] Withdraw", [&] {
        if (handler_) handler_->Withdraw();
        if (registered_ && host_ != nullptr) host_->RegisterMessageHandler(nullptr);
        registered_ = 0;
        DiscardReport();
        currentMessage = nullptr;
        handler_.reset();
        document1_.reset();
        document2_.reset();
        json_.reset();
        host_ = nullptr;
    });
}

// Rows are collected only where a host can receive them; a link registered without one would
// otherwise keep every row for the life of the process.
void PluginHostLink::AddReportField(const std::u16string& name, const std::u16string& value) {
    if (registered_ && host_ != nullptr) pending_[name] = value;
}

void PluginHostLink::CommitReportRow() {
    if (!registered_ || host_ == nullptr) return;
    rows_.push_back(std::move(pending_));
    pending_.clear();
}

void PluginHostLink::FlushReport(int32_t reply, int32_t kind, const std::u16string& tag) {
    if (!registered_) return;
    IReportDocument* document = kind == 1 ? document1_.get() : document2_.get();
    if (document == nullptr) return;  // registered without a host: no rows were kept
    bool flat = kind == 2 && tag == u"Item";
    for (const Row& row : rows_) {
        ComPtr<IReportDocument> node;
        if (!flat) node = ComPtr<IReportDocument>::Borrow(document->AddNode(ToWide(tag), 1));
        IReportDocument* target = flat ? document : node.get();
        if (target == nullptr) continue;
        for (const auto& [name, value] : row)
            target->SetNodeValue(ToWide(name), ToWide(value), static_cast<uint32_t>(value.size() * 2), 1);
    }
    if (reply == 0) host_->SubmitReport(document);
    else if (currentMessage != nullptr) host_->ReplyToMessage(document, currentMessage);
    rows_.clear();
    document->ResetDocument();
}

void PluginHostLink::DiscardReport() {
    rows_.clear();
    pending_.clear();
}

}  // namespace vantel
