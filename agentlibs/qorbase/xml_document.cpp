#include "agentlibs/qorbase/xml_document.h"

#include <cerrno>

#include "agentlibs/qorbase/document_file.h"
#include "agentlibs/qorbase/xml_nesting.h"
#include "common/text.h"

namespace qorbase {

using vantel::IXmlNode;

namespace {

// Far deeper than any document we read, far shallower than the parser's stack allows.
constexpr size_t kMaxNesting = 256;

// Mismatched end tags are malformed, not silently accepted.
constexpr int kParseFlags = rapidxml::parse_validate_closing_tags;

std::string_view NameOf(const DomNode& element) { return {element.name(), element.name_size()}; }

bool IsElement(const DomNode* node) { return node != nullptr && node->type() == rapidxml::node_element; }

// The node itself or the first element among its following siblings.
DomNode* ElementFrom(DomNode* node) {
    while (node != nullptr && !IsElement(node)) node = node->next_sibling();
    return node;
}

DomNode* FirstChildElement(DomNode* node) { return ElementFrom(node->first_node()); }

DomNode* NextSiblingElement(DomNode* node) { return ElementFrom(node->next_sibling()); }

// The element after this one in document order; iterative, whatever the depth.
DomNode* NextElement(DomNode* element) {
    if (DomNode* child = FirstChildElement(element)) return child;
    for (; IsElement(element); element = element->parent())
        if (DomNode* sibling = NextSiblingElement(element)) return sibling;
    return nullptr;
}

// True when the element ends the chain of names `steps`; `anywhere` lets the chain start below
// the document.
bool EndsPath(DomNode* element, const std::vector<std::string_view>& steps, bool anywhere) {
    for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
        if (!IsElement(element) || NameOf(*element) != *step) return false;
        element = element->parent();
    }
    return anywhere || (element != nullptr && element->type() == rapidxml::node_document);
}

std::vector<std::string_view> Steps(std::string_view path) {
    std::vector<std::string_view> steps;
    for (size_t start = 0;;) {
        size_t slash = path.find('/', start);
        steps.push_back(path.substr(start, slash == std::string_view::npos ? slash : slash - start));
        if (slash == std::string_view::npos) return steps;
        start = slash + 1;
    }
}

struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

vantel::HResult ReadDocumentFile(const std::u16string& path, std::string* bytes) {
    errno = 0;
    std::unique_ptr<std::FILE, CloseFile> file(OpenDocumentFile(path));
    if (!file) return errno == ENOENT ? kFileNotFound : errno == EACCES ? kAccessDenied : vantel::kFail;
    char chunk[16384];
    while (size_t read = std::fread(chunk, 1, sizeof chunk, file.get())) bytes->append(chunk, read);
    return std::ferror(file.get()) ? vantel::kFail : vantel::kOk;
}

}  // namespace

XmlNode::XmlNode(DomNode* element, XmlDocument* document)
    : element_(*element), document_(*document), name_(vantel::FromUtf8(NameOf(*element))) {
    for (DomNode* node = element->first_node(); node != nullptr; node = node->next_sibling())
        if (node->type() == rapidxml::node_data || node->type() == rapidxml::node_cdata)
            text_ += vantel::FromUtf8(std::string_view(node->value(), node->value_size()));
}

uint32_t XmlNode::ChildCount() noexcept {
    return Guarded(0u, [&] { return static_cast<uint32_t>(Children().size()); });
}

IXmlNode* XmlNode::ChildAt(uint32_t index) noexcept {
    return Guarded<IXmlNode*>(nullptr, [&] { return index < Children().size() ? Children()[index] : nullptr; });
}

IXmlNode* XmlNode::ChildByName(const vantel::WChar* name) noexcept {
    if (name == nullptr) return nullptr;
    return Guarded<IXmlNode*>(nullptr, [&]() -> IXmlNode* {
        std::string wanted = vantel::ToUtf8(vantel::FromWide(name));
        for (DomNode* child = FirstChildElement(&element_); child != nullptr; child = NextSiblingElement(child))
            if (NameOf(*child) == wanted) return document_.Wrap(child);
        return nullptr;
    });
}

const vantel::WChar* XmlNode::Name() noexcept { return vantel::ToWide(name_); }

const vantel::WChar* XmlNode::Text() noexcept { return vantel::ToWide(text_); }

const vantel::WChar* XmlNode::Attribute(const vantel::WChar* name) noexcept {
    if (name == nullptr) return nullptr;
    return Guarded<const vantel::WChar*>(nullptr, [&]() -> const vantel::WChar* {
        std::string wanted = vantel::ToUtf8(vantel::FromWide(name));
        DomAttribute* attribute = element_.first_attribute(wanted.data(), wanted.size());
        return attribute ? document_.AttributeText(attribute) : nullptr;
    });
}

const std::vector<XmlNode*>& XmlNode::Children() {
    if (!children_) {
        std::vector<XmlNode*> children;
        for (DomNode* child = FirstChildElement(&element_); child != nullptr; child = NextSiblingElement(child))
            children.push_back(document_.Wrap(child));
        children_ = std::move(children);
    }
    return *children_;
}

XmlDocument::XmlDocument()
    : dom_(std::make_unique<rapidxml::xml_document<char>>()) {}

int32_t XmlDocument::LoadFile(const vantel::WChar* path) noexcept {
    Clear();
    if (path == nullptr) return kInvalidArgument;
    return Guarded(kOutOfMemory, [&] {
        std::string bytes;
        vantel::HResult result = ReadDocumentFile(vantel::FromWide(path), &bytes);
        return result == vantel::kOk ? LoadFileContents(bytes) : result;
    });
}

int32_t XmlDocument::LoadXml(const vantel::WChar* text) noexcept {
    Clear();
    if (text == nullptr) return kInvalidArgument;
    return Guarded(kOutOfMemory, [&] { return Load(vantel::ToUtf8(vantel::FromWide(text))); });
}

int32_t XmlDocument::LoadFileContents(const std::string& bytes) noexcept {
    return Guarded(kOutOfMemory, [&] {
        auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
        if (bytes.size() < 2 || byte(0) != 0xFF || byte(1) != 0xFE) return Load(bytes);  // rapidxml skips a UTF-8 mark
        std::u16string text((bytes.size() - 2) / 2, u'\0');
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char16_t>(byte(2 + 2 * i) | byte(3 + 2 * i) << 8);
        return Load(vantel::ToUtf8(text));
    });
}

IXmlNode* XmlDocument::SelectSingleNode(const vantel::WChar* path) noexcept {
    if (!loaded_ || path == nullptr) return nullptr;
    return Guarded<IXmlNode*>(nullptr, [&]() -> IXmlNode* {
        std::string text = vantel::ToUtf8(vantel::FromWide(path));
        bool anywhere = text.starts_with("//");
        size_t slashes = anywhere ? 2 : text.starts_with('/') ? 1 : 0;
        std::vector<std::string_view> steps = Steps(std::string_view(text).substr(slashes));
        for (std::string_view step : steps)
            if (step.empty()) return nullptr;
        for (DomNode* element = FirstChildElement(dom_.get()); element != nullptr; element = NextElement(element))
            if (EndsPath(element, steps, anywhere)) return Wrap(element);
        return nullptr;
    });
}

XmlNode* XmlDocument::Wrap(DomNode* element) { return nodes_.Get(element, this); }

const vantel::WChar* XmlDocument::AttributeText(DomAttribute* attribute) {
    auto found = attributeTexts_.find(attribute);
    if (found == attributeTexts_.end())
        found = attributeTexts_.emplace(attribute, vantel::FromUtf8({attribute->value(), attribute->value_size()})).first;
    return vantel::ToWide(found->second);
}

int32_t XmlDocument::Load(std::string_view utf8) {
    Clear();
    buffer_.assign(utf8.begin(), utf8.end());
    buffer_.push_back('\0');
    if (!XmlNestingWithin(buffer_.data(), kMaxNesting)) return kXmlMalformed;
    try {
        dom_->parse<kParseFlags>(buffer_.data());
    } catch (const rapidxml::parse_error&) {
        return kXmlMalformed;
    }
    loaded_ = FirstChildElement(dom_.get()) != nullptr;
    return loaded_ ? vantel::kOk : kXmlMalformed;
}

void XmlDocument::Clear() noexcept {
    // Wrappers and texts first: they point into the parsed document, which points into the buffer.
    nodes_.Clear();
    attributeTexts_.clear();
    dom_->clear();
    buffer_.clear();
    loaded_ = false;
}

}  // namespace qorbase
