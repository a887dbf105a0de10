#include "eventlog/event_xml.h"

#include <utility>

#include "common/text.h"
#include "plugin/companion.h"
#include "plugin/trace.h"

namespace vantel {

namespace {

// Loads the record's XML and walks to the node that holds the fields; null (traced) when the
// document cannot be made or loaded, or the path is not there.
IXmlNode* LoadFieldList(const std::u16string& xml, const char16_t* tag, ComPtr<IRapidXMLDOMDocument>* document,
                        std::initializer_list<const char16_t*> path) {
    if (ProcessCompanions().CreateXmlDocument(document) != kOk) {
        TraceError(u"%s failed to create IRapidXMLDOMDocument object", tag);
        return nullptr;
    }
    if (int32_t error = (*document)->LoadXml(ToWide(xml))) {
        TraceError(u"%s failed to loadBuf %x", tag, error);
        return nullptr;
    }
    IXmlNode* node = (*document)->SelectSingleNode(ToWide(u"//Event"));
    for (const char16_t* child : path) node = node ? node->ChildByName(ToWide(child)) : nullptr;
    return node;
}

std::u16string Text(const WChar* text) { return FromWide(text); }

}  // namespace

int ParseFireWallXML(const std::u16string& xml, FirewallFields* fields) {
    ComPtr<IRapidXMLDOMDocument> document;
    IXmlNode* data = LoadFieldList(xml, u"[ParseFireWallXML]", &document, {u"EventData"});
    if (data == nullptr) return 0;
    uint32_t count = data->ChildCount();
    if (count == 0) {
        TraceError(u"[ParseFireWallXML] no FieldCount specified for node");
        return 1;
    }
    const std::pair<const char16_t*, std::u16string FirewallFields::*> kNames[] = {
        {u"RuleName", &FirewallFields::ruleName},
        {u"SettingValueString", &FirewallFields::settingValueString},
        {u"ModifyingUser", &FirewallFields::modifyingUser},
        {u"ModifyingApplication", &FirewallFields::modifyingApplication},
        {u"ApplicationPath", &FirewallFields::applicationPath},
        {u"Direction", &FirewallFields::direction},
        {u"LocalPorts", &FirewallFields::localPorts},
        {u"Action", &FirewallFields::action},
        {u"Active", &FirewallFields::active}};
    for (uint32_t i = 0; i < count; ++i) {
        IXmlNode* item = data->ChildAt(i);
        const WChar* name = item ? item->Attribute(ToWide(u"Name")) : nullptr;
        const WChar* text = item ? item->Text() : nullptr;
        if (name == nullptr || text == nullptr) break;
        for (const auto& [known, field] : kNames)
            if (Text(name) == known) fields->*field = Text(text);
    }
    return 1;
}

int ParseWinVerifyTrustXml(const std::u16string& xml, SignatureCheckFields* fields) {
    ComPtr<IRapidXMLDOMDocument> document;
    IXmlNode* check = LoadFieldList(xml, u"[ParseWinVerifyTrustXml]", &document, {u"UserData", u"WinVerifyTrust"});
    if (check == nullptr) return 0;
    uint32_t count = check->ChildCount();
    if (count == 0) {
        TraceError(u"[ParseWinVerifyTrustXml] no FieldCount specified for node");
        return 1;
    }
    auto attribute = [](IXmlNode* node, const char16_t* name) { return Text(node->Attribute(ToWide(name))); };
    for (uint32_t i = 0; i < count; ++i) {
        IXmlNode* item = check->ChildAt(i);
        if (item == nullptr) break;
        std::u16string name = Text(item->Name());
        if (name == u"FileInfo") {
            fields->filePath = attribute(item, u"filePath");
        } else if (name == u"DigestInfo") {
            fields->digestAlgorithm = attribute(item, u"digestAlgorithm");
            fields->digest = attribute(item, u"digest");
        } else if (name == u"EventAuxInfo") {
            fields->processName = attribute(item, u"ProcessName");
        } else if (name == u"Result") {
            fields->result = attribute(item, u"value");
        }
    }
    return 1;
}

}  // namespace vantel
