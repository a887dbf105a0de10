#include "monitors/attack_log.h"

#include "common/com_ptr.h"
#include "common/text.h"
#include "plugin/companion.h"
#include "plugin/trace.h"

namespace vantel {

std::u16string AttackAddress(const std::u16string& log) {
    size_t mark = log.find(u"ip:");
    size_t comma = log.rfind(u',');
    if (mark == std::u16string::npos || comma == std::u16string::npos) return log;
    size_t start = mark + 3;
    return comma < start ? std::u16string() : log.substr(start, comma - start);
}

int ParseAttackLog(const std::u16string& lastId, const std::u16string& path, std::vector<AttackRecord>* attacks) {
    attacks->clear();
    ComPtr<IRapidXMLDOMDocument> document;
    if (ProcessCompanions().CreateXmlDocument(&document) != kOk) {
        TraceError(u"[ParseAttackLog] failed to create IRapidXMLDOMDocument object");
        return 0;
    }
    if (int32_t error = document->LoadFile(ToWide(path))) {
        TraceError(u"[ParseAttackLog] failed to load %x", error);
        return 0;
    }
    return ReadAttackEntries(document.get(), LeadingInt64(lastId), attacks);
}

int ReadAttackEntries(IRapidXMLDOMDocument* document, int64_t lastId, std::vector<AttackRecord>* attacks) {
    attacks->clear();
    IXmlNode* root = document->SelectSingleNode(ToWide(u"//root"));
    if (root == nullptr) {
        TraceError(u"[ParseAttackLog] No Rule specified for node");
        return 1;
    }
    uint32_t count = root->ChildCount();
    if (count < 1) {
        TraceError(u"[ParseAttackLog] no EventCount specified for node");
        return 1;
    }
    for (uint32_t i = 0; i < count; ++i) {
        IXmlNode* entry = root->ChildAt(i);
        if (entry == nullptr) break;
        AttackRecord attack{FromWide(entry->Attribute(ToWide(u"id"))), {}, {}, {}};
        if (LeadingInt64(attack.id) <= lastId) continue;
        uint32_t fields = entry->ChildCount();
        if (fields < 1) {
            TraceError(u"[ParseAttackLog] no FieldCount specified for node");
            return 1;
        }
        for (uint32_t j = 0; j < fields; ++j) {
            IXmlNode* field = entry->ChildAt(j);
            if (field == nullptr) break;
            std::u16string name = FromWide(field->Name());
            if (name == u"type") attack.type = FromWide(field->Text());
            else if (name == u"time") attack.time = FromWide(field->Text());
            else if (name == u"log") attack.ip = AttackAddress(FromWide(field->Text()));
        }
        attacks->push_back(std::move(attack));
    }
    return 1;
}

}  // namespace vantel
