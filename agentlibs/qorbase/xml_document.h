// The XML document: loads UTF-16 text or a file and answers its elements.
#pragma once
#include <rapidxml/rapidxml.hpp>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "agentlibs/qorbase/com_object.h"
#include "agentlibs/qorbase/wrapper_arena.h"
#include "common/com_object.h"
#include "vantel/companion_abi.h"

namespace qorbase {

using DomNode = rapidxml::xml_node<char>;
using DomAttribute = rapidxml::xml_attribute<char>;

// Load results besides 0.
constexpr vantel::HResult kXmlMalformed = vantel::kFail;
constexpr vantel::HResult kFileNotFound = static_cast<vantel::HResult>(0x80070002u);
constexpr vantel::HResult kAccessDenied = static_cast<vantel::HResult>(0x80070005u);
constexpr vantel::HResult kInvalidArgument = static_cast<vantel::HResult>(0x80070057u);

class XmlDocument;

class XmlNode final : public vantel::IXmlNode {
public:
    XmlNode(DomNode* element, XmlDocument* document);

    uint32_t VANTEL_CALL ChildCount() noexcept override;
    IXmlNode* VANTEL_CALL ChildAt(uint32_t index) noexcept override;
    IXmlNode* VANTEL_CALL ChildByName(const vantel::WChar* name) noexcept override;
    const vantel::WChar* VANTEL_CALL Name() noexcept override;
    // The element's own character data and CDATA, in order.
    const vantel::WChar* VANTEL_CALL Text() noexcept override;
    const vantel::WChar* VANTEL_CALL Attribute(const vantel::WChar* name) noexcept override;

private:
    const std::vector<XmlNode*>& Children();

    DomNode& element_;
    XmlDocument& document_;
    std::u16string name_;
    std::u16string text_;
    std::optional<std::vector<XmlNode*>> children_;  // element children, listed on first use
};

class XmlDocument final : public vantel::ComObject<vantel::IRapidXMLDOMDocument, vantel::kIidXmlDocument> {
public:
    XmlDocument();

    int32_t VANTEL_CALL LoadFile(const vantel::WChar* path) noexcept override;
    int32_t VANTEL_CALL LoadXml(const vantel::WChar* text) noexcept override;
    // A path without a leading slash is read from the document, like one with a single slash.
    vantel::IXmlNode* VANTEL_CALL SelectSingleNode(const vantel::WChar* path) noexcept override;

    // What LoadFile does with the bytes it read: UTF-16 when they start with its byte order
    // mark, UTF-8 otherwise.
    int32_t LoadFileContents(const std::string& bytes) noexcept;

    XmlNode* Wrap(DomNode* element);
    const vantel::WChar* AttributeText(DomAttribute* attribute);

private:
    int32_t Load(std::string_view utf8);
    void Clear() noexcept;

    std::unique_ptr<rapidxml::xml_document<char>> dom_;
    std::vector<char> buffer_;  // the parsed text; the document's names and values point into it
    bool loaded_ = false;
    WrapperArena<XmlNode, DomNode> nodes_;
    std::unordered_map<const DomAttribute*, std::u16string> attributeTexts_;
};

}  // namespace qorbase
