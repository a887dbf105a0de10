// Arbitrary text through the XML document, as UTF-16 text and as file contents, then every node
// the paths built from the text's own names reach.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "agentlibs/qorbase/xml_document.h"
#include "common/text.h"

namespace {

void Walk(vantel::IXmlNode* node, int depth) {
    if (node == nullptr || depth > 300) return;
    node->Name();
    node->Text();
    for (const char16_t* name : {u"Name", u"a", u"xmlns", u""}) node->Attribute(vantel::ToWide(name));
    node->ChildByName(vantel::ToWide(u"a"));
    uint32_t count = node->ChildCount();
    for (uint32_t i = 0; i <= count; ++i) Walk(node->ChildAt(i), depth + 1);
}

// The first few element names as written, so that paths can find something.
std::vector<std::u16string> NamesIn(const std::u16string& text) {
    std::vector<std::u16string> names;
    for (size_t open = text.find(u'<'); open != std::u16string::npos && names.size() < 3; open = text.find(u'<', open + 1)) {
        size_t end = text.find_first_of(u" \t\r\n/>?!<", open + 1);
        if (end != open + 1) names.push_back(text.substr(open + 1, end == std::u16string::npos ? end : end - open - 1));
    }
    return names;
}

void Select(qorbase::XmlDocument* xml, const std::u16string& text) {
    std::vector<std::u16string> names = NamesIn(text);
    std::vector<std::u16string> paths = {u"", u"/", u"//", u"//a", u"/a/b", u"//a/b"};
    if (!names.empty()) {
        std::u16string chain;
        for (const std::u16string& name : names) chain += u"/" + name;
        paths.insert(paths.end(), {u"//" + names[0], u"/" + names[0], chain, u"/" + chain, names[0]});
    }
    for (const std::u16string& path : paths) Walk(xml->SelectSingleNode(vantel::ToWide(path)), 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::u16string text = vantel::FromUtf8(bytes);
    auto* xml = new qorbase::XmlDocument;
    xml->LoadXml(vantel::ToWide(text));
    Select(xml, text);
    xml->LoadFileContents(bytes);
    Select(xml, text);
    xml->Release();
    return 0;
}
