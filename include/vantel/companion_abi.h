// Objects made by the agent's companion libraries ("Qorbase.dll", "Qorconf.dll").
#pragma once
#include "vantel/abi.h"

namespace vantel {

inline constexpr Guid kIidJsonObject = {0x2164081D, 0xF31A, 0x421B, {0xB4, 0xED, 0x46, 0x1F, 0x97, 0xF5, 0x19, 0xC2}};
inline constexpr Guid kIidXmlDocument = {0x3966DBEA, 0xDAD7, 0x4EB4, {0xBF, 0x62, 0x24, 0x92, 0xA4, 0xB4, 0xDE, 0x97}};

// A value inside a parsed JSON object. Values and the texts they return are owned by the
// object that parsed them and stay valid until its next Parse or its release.
struct IJsonValue {
    virtual int32_t VANTEL_CALL IsString() = 0;
    virtual int32_t VANTEL_CALL IsArray() = 0;
    virtual uint32_t VANTEL_CALL ArraySize() = 0;
    virtual IJsonValue* VANTEL_CALL ArrayItem(uint32_t index, int32_t* error) = 0;
    virtual const WChar* VANTEL_CALL StringValue(int32_t* error) = 0;
    virtual int64_t VANTEL_CALL IntegerValue(int32_t* error) = 0;
    virtual const WChar* VANTEL_CALL JsonText() = 0;

protected:
    ~IJsonValue() = default;
};

struct IJsonObject : IUnknownLike {
    // 0 when the text parsed; the root stays empty otherwise.
    virtual int32_t VANTEL_CALL Parse(const WChar* text) = 0;
    virtual IJsonValue* VANTEL_CALL Root() = 0;
    // Null when the root is no object or has no such member.
    virtual IJsonValue* VANTEL_CALL Member(const WChar* name, int32_t* error) = 0;

protected:
    ~IJsonObject() = default;
};

// A node of a loaded XML document, owned by the document.
struct IXmlNode {
    virtual uint32_t VANTEL_CALL ChildCount() = 0;
    virtual IXmlNode* VANTEL_CALL ChildAt(uint32_t index) = 0;
    virtual IXmlNode* VANTEL_CALL ChildByName(const WChar* name) = 0;
    virtual const WChar* VANTEL_CALL Name() = 0;
    virtual const WChar* VANTEL_CALL Text() = 0;
    // Null when the node has no such attribute.
    virtual const WChar* VANTEL_CALL Attribute(const WChar* name) = 0;

protected:
    ~IXmlNode() = default;
};

struct IRapidXMLDOMDocument : IUnknownLike {
    virtual int32_t VANTEL_CALL LoadFile(const WChar* path) = 0;
    virtual int32_t VANTEL_CALL LoadXml(const WChar* text) = 0;
    // Paths: "//name" finds the first element of that name anywhere, "/a/b" walks from the root,
    // and "//a/b" combines both. Null when nothing matches or nothing is loaded.
    virtual IXmlNode* VANTEL_CALL SelectSingleNode(const WChar* path) = 0;

protected:
    ~IRapidXMLDOMDocument() = default;
};

// Entry points of a companion library.
using InitLibsFn = int32_t(VANTEL_CALL*)(uint32_t* version);
using CreateObjectFn = HResult(VANTEL_CALL*)(const Guid* iid, void** object);

// Entry points of the diagnostic log library ("Quaymar.dll").
using LogInitFn = int32_t(VANTEL_CALL*)();
using LogUninitFn = int32_t(VANTEL_CALL*)();
using CreateLogFn = uintptr_t(VANTEL_CALL*)(const WChar* name, uint32_t number);
using AddLogFn = int32_t(VANTEL_CALL*)(uintptr_t log, int32_t level, const WChar* line);
using RemoveLogFn = int32_t(VANTEL_CALL*)(uintptr_t log);

}  // namespace vantel
