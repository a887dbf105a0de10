#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "agentlibs/qorbase/json_object.h"
#include "agentlibs/qorbase/xml_document.h"
#include "common/com_ptr.h"
#include "common/text.h"
#include "platform/library.h"
#include "plugin/companion.h"
#ifndef _WIN32
#include "winsim/files.h"
#include "winsim/signing.h"
#endif

namespace qorbase {
namespace {

namespace fs = std::filesystem;
using vantel::ComPtr;
using vantel::FromWide;
using vantel::ToWide;

// Absent values read as "<null>" so that expectations show what came back.
std::u16string Text(const vantel::WChar* text) { return text ? FromWide(text) : u"<null>"; }

// A build-tree path as the libraries are given it: drive Z: is the host's root under Wine and on winsim.
std::u16string OnDriveZ(const fs::path& hostPath) {
    std::u16string path = u"Z:" + vantel::FromUtf8(hostPath.generic_string());
    std::replace(path.begin(), path.end(), u'/', u'\\');
    return path;
}

// The same path as this test opens it.
fs::path Local(const fs::path& hostPath) {
#ifdef _WIN32
    std::u16string path = OnDriveZ(hostPath);
    return fs::path(std::wstring(path.begin(), path.end()));
#else
    return hostPath;
#endif
}

const fs::path kBuildDir = fs::path(VANTEL_AGENT_DIR).parent_path();

class JsonObjectTest : public ::testing::Test {
protected:
    JsonObjectTest() { *json_.put() = new JsonObject; }

    vantel::IJsonValue* Parsed(const char16_t* text) {
        EXPECT_EQ(json_->Parse(ToWide(text)), 0) << vantel::ToUtf8(text);
        return json_->Root();
    }
    vantel::IJsonValue* Member(const char16_t* name) {
        int32_t error = -1;
        vantel::IJsonValue* member = json_->Member(ToWide(name), &error);
        EXPECT_EQ(error != 0, member == nullptr);
        return member;
    }

    ComPtr<vantel::IJsonObject> json_;
};

TEST_F(JsonObjectTest, StringsArraysAndMissingMembers) {
    Parsed(uR"({"name":"Grüße €","list":["a","b"]})");
    vantel::IJsonValue* name = Member(u"name");
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(name->IsString() && !name->IsArray());
    int32_t error = -1;
    EXPECT_EQ(Text(name->StringValue(&error)), u"Grüße €");
    EXPECT_EQ(error, 0);

    vantel::IJsonValue* list = Member(u"list");
    ASSERT_TRUE(list && list->IsArray() && !list->IsString());
    ASSERT_EQ(list->ArraySize(), 2u);
    EXPECT_EQ(Text(list->ArrayItem(0, nullptr)->StringValue(nullptr)), u"a");
    EXPECT_EQ(Text(list->ArrayItem(1, nullptr)->StringValue(nullptr)), u"b");
    EXPECT_EQ(list->ArrayItem(2, &error), nullptr);
    EXPECT_NE(error, 0);
    EXPECT_EQ(list->StringValue(&error), nullptr);
    EXPECT_NE(error, 0);
    EXPECT_EQ(Member(u"list"), list);  // one object per value

    EXPECT_EQ(Member(u"absent"), nullptr);
    EXPECT_EQ(Member(u"Name"), nullptr);
    EXPECT_EQ(json_->Member(nullptr, nullptr), nullptr);
    Parsed(uR"(["name"])");
    EXPECT_EQ(Member(u"name"), nullptr);
    EXPECT_EQ(json_->Root()->ArraySize(), 1u);
}

TEST_F(JsonObjectTest, JsonTextIsCompactAndKeepsMemberOrder) {
    Parsed(uR"({ "object" : { "z" : 1, "a" : [true, null] }, "number": 5, "text": "x \"q\" é" })");
    EXPECT_EQ(Text(Member(u"object")->JsonText()), uR"({"z":1,"a":[true,null]})");
    EXPECT_EQ(Text(Member(u"number")->JsonText()), u"5");
    EXPECT_EQ(Text(Member(u"text")->JsonText()), uR"("x \"q\" é")");
}

TEST_F(JsonObjectTest, IntegerValueReadsNumbersStringsAndBooleans) {
    Parsed(uR"({"int":-42,"float":3.9,"negativeFloat":-3.9,"huge":1e300,"unsigned":18446744073709551615,
               "string":"  17 apples","signed":"-8","word":"apples","overflow":"99999999999999999999",
               "true":true,"false":false,"null":null,"array":[1],"object":{}})");
    struct Case {
        const char16_t* member;
        int64_t value;
        bool error;
    };
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    const Case cases[] = {{u"int", -42, false},    {u"float", 3, false},     {u"negativeFloat", -3, false},
                          {u"huge", kMax, false},  {u"unsigned", kMax, false}, {u"string", 17, false},
                          {u"signed", -8, false},  {u"word", 0, false},      {u"overflow", kMax, false},
                          {u"true", 1, false},     {u"false", 0, false},     {u"null", 0, true},
                          {u"array", 0, true},     {u"object", 0, true}};
    for (const Case& c : cases) {
        int32_t error = -1;
        vantel::IJsonValue* value = Member(c.member);
        ASSERT_NE(value, nullptr) << vantel::ToUtf8(c.member);
        EXPECT_EQ(value->IntegerValue(&error), c.value) << vantel::ToUtf8(c.member);
        EXPECT_EQ(error != 0, c.error) << vantel::ToUtf8(c.member);
    }
}

TEST_F(JsonObjectTest, FailedParseLeavesNothingBehind) {
    Parsed(uR"({"kept":1})");
    const char16_t* failures[] = {u"", u"{", uR"({"a":1,})", uR"({"a":1} trailing)", u"[1,2", uR"("\ud800")"};
    for (const char16_t* text : failures) {
        EXPECT_LT(json_->Parse(ToWide(text)), 0) << vantel::ToUtf8(text);
        EXPECT_EQ(json_->Root(), nullptr);
        EXPECT_EQ(Member(u"kept"), nullptr);
    }
    EXPECT_LT(json_->Parse(nullptr), 0);
}

TEST_F(JsonObjectTest, ValuesOfANewParseAreItsOwn) {
    Parsed(uR"({"a":"first","list":["x"]})");
    EXPECT_EQ(Text(Member(u"a")->StringValue(nullptr)), u"first");
    EXPECT_EQ(Text(Member(u"list")->JsonText()), uR"(["x"])");
    Parsed(uR"({"a":"second","list":["y","z"]})");
    EXPECT_EQ(Text(Member(u"a")->StringValue(nullptr)), u"second");
    EXPECT_EQ(Text(Member(u"list")->JsonText()), uR"(["y","z"])");
    EXPECT_EQ(Member(u"list")->ArraySize(), 2u);
}

TEST_F(JsonObjectTest, NestingIsBounded) {
    auto nested = [](size_t depth) {
        return std::u16string(depth, u'[') + u"1" + std::u16string(depth, u']');
    };
    std::u16string shallow = nested(100);
    ASSERT_EQ(json_->Parse(ToWide(shallow)), 0);
    EXPECT_EQ(Text(json_->Root()->JsonText()), shallow);
    EXPECT_LT(json_->Parse(ToWide(nested(100000))), 0);
    // Brackets inside strings are text, not nesting.
    std::u16string inString = u"[\"" + std::u16string(100000, u'[') + u"\"]";
    EXPECT_EQ(json_->Parse(ToWide(inString)), 0);
}

TEST(JsonReferences, CountIsSafeAcrossThreads) {
    ComPtr<vantel::IJsonObject> json;
    *json.put() = new JsonObject;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                json->AddRef();
                json->Release();
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(json->AddRef(), 2u);
    EXPECT_EQ(json->Release(), 1u);
}

constexpr char16_t kEventXml[] = uR"(<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'>
  <System>
    <Provider Name='Microsoft-Windows-Security-Auditing' Guid='{54849625-5478-4994-A5BA-3E3B0328C30D}'/>
    <EventID>4624</EventID>
    <TimeCreated SystemTime='2024-03-01T10:15:30.1234567Z'/>
    <Computer>host.example</Computer>
  </System>
  <EventData>
    <Data Name='SubjectUserSid'>S-1-5-18</Data>
    <Data Name='TargetUserName'>alice</Data>
    <Data Name='LogonType'>2</Data>
  </EventData>
</Event>)";

class XmlDocumentTest : public ::testing::Test {
protected:
    XmlDocumentTest() { *xml_.put() = new XmlDocument; }

    vantel::IXmlNode* Select(const char16_t* path) { return xml_->SelectSingleNode(ToWide(path)); }
    std::u16string SelectedText(const char16_t* path) {
        vantel::IXmlNode* node = Select(path);
        return node ? Text(node->Text()) : u"<null>";
    }

    ComPtr<vantel::IRapidXMLDOMDocument> xml_;
};

TEST_F(XmlDocumentTest, EventDataOfAWindowsEvent) {
    ASSERT_EQ(xml_->LoadXml(ToWide(kEventXml)), 0);
    vantel::IXmlNode* event = Select(u"//Event");
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(Text(event->Name()), u"Event");
    EXPECT_EQ(Text(event->Attribute(ToWide(u"xmlns"))), u"http://schemas.microsoft.com/win/2004/08/events/event");
    EXPECT_EQ(event->ChildCount(), 2u);

    vantel::IXmlNode* data = event->ChildByName(ToWide(u"EventData"));
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(data->ChildCount(), 3u);
    const char16_t* expected[][2] = {{u"SubjectUserSid", u"S-1-5-18"}, {u"TargetUserName", u"alice"}, {u"LogonType", u"2"}};
    for (uint32_t i = 0; i < 3; ++i) {
        vantel::IXmlNode* item = data->ChildAt(i);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(Text(item->Name()), u"Data");
        EXPECT_EQ(Text(item->Attribute(ToWide(u"Name"))), expected[i][0]);
        EXPECT_EQ(Text(item->Text()), expected[i][1]);
    }
    EXPECT_EQ(data->ChildAt(3), nullptr);
    EXPECT_EQ(data->ChildAt(0)->Attribute(ToWide(u"Missing")), nullptr);
    EXPECT_EQ(data->ChildAt(0)->Attribute(ToWide(u"name")), nullptr);
    EXPECT_EQ(event->ChildByName(ToWide(u"Data")), nullptr);

    EXPECT_EQ(SelectedText(u"//System/EventID"), u"4624");
    EXPECT_EQ(SelectedText(u"/Event/System/Computer"), u"host.example");
    EXPECT_EQ(Text(Select(u"/Event/System/Provider")->Attribute(ToWide(u"Name"))), u"Microsoft-Windows-Security-Auditing");
}

TEST_F(XmlDocumentTest, TextAndChildrenOfMixedContent) {
    ASSERT_EQ(xml_->LoadXml(ToWide(u"<root>one <a>1</a>two<![CDATA[<3]]><!-- note --><b/>&lt;&amp;&#x20AC;</root>")), 0);
    vantel::IXmlNode* root = Select(u"//root");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Text(root->Text()), u"one two<3<&€");
    ASSERT_EQ(root->ChildCount(), 2u);
    EXPECT_EQ(Text(root->ChildAt(0)->Name()), u"a");
    EXPECT_EQ(Text(root->ChildAt(0)->Text()), u"1");
    EXPECT_EQ(Text(root->ChildAt(1)->Name()), u"b");
    EXPECT_EQ(Text(root->ChildAt(1)->Text()), u"");
}

TEST_F(XmlDocumentTest, PathForms) {
    ASSERT_EQ(xml_->LoadXml(ToWide(uR"(<?xml version="1.0"?>
<root>
  <a id='1'><c/></a>
  <a id='2'><b>second</b></a>
  <ns:item xmlns:ns='urn:x'>prefixed</ns:item>
</root>)")),
              0);
    EXPECT_EQ(Text(Select(u"/root/a")->Attribute(ToWide(u"id"))), u"1");
    EXPECT_EQ(SelectedText(u"//a/b"), u"second");  // the first a has no b
    EXPECT_EQ(SelectedText(u"/root/a/b"), u"second");
    EXPECT_EQ(SelectedText(u"root/a/b"), u"second");
    EXPECT_EQ(SelectedText(u"//b"), u"second");
    EXPECT_EQ(SelectedText(u"//ns:item"), u"prefixed");
    const char16_t* misses[] = {u"/a", u"/b", u"//item", u"//missing", u"//root/b", u"", u"/", u"//", u"/root//a", u"//a/"};
    for (const char16_t* path : misses) EXPECT_EQ(Select(path), nullptr) << vantel::ToUtf8(path);
    EXPECT_EQ(xml_->SelectSingleNode(nullptr), nullptr);
}

TEST_F(XmlDocumentTest, MalformedInputFailsCleanly) {
    std::u16string event = kEventXml;
    std::u16string truncated = event.substr(0, event.size() * 3 / 5);
    const std::u16string failures[] = {u"",
                                       u"   ",
                                       u"just text",
                                       u"<root>",
                                       u"<root><a></root>",
                                       u"<a></b>",
                                       u"<root attr='x>",
                                       u"<root attr=x/>",
                                       u"<!-- only a comment -->",
                                       u"<root/><",
                                       u"<root>&#xFFFFFFFF;</root>",
                                       truncated};
    for (const std::u16string& text : failures) {
        ASSERT_EQ(xml_->LoadXml(ToWide(u"<root/>")), 0);
        EXPECT_EQ(xml_->LoadXml(ToWide(text)), vantel::kFail) << vantel::ToUtf8(text);
        EXPECT_EQ(Select(u"//root"), nullptr) << vantel::ToUtf8(text);
    }
    EXPECT_EQ(xml_->LoadXml(nullptr), kInvalidArgument);
}

TEST_F(XmlDocumentTest, NestingIsBoundedWhereverEndTagsHide) {
    // Elements opened in runs of 200, each run followed by the decoy, and then all closed.
    auto nested = [](int runs, const std::u16string& decoy) {
        std::u16string text = u"<r>";
        for (int run = 0; run < runs; ++run) {
            for (int i = 0; i < 200; ++i) text += u"<a>";
            text += decoy;
        }
        for (int i = 0; i < runs * 200; ++i) text += u"</a>";
        return text + u"</r>";
    };
    ASSERT_EQ(xml_->LoadXml(ToWide(nested(1, u""))), 0);
    EXPECT_EQ(SelectedText(u"/r/a/a/a"), u"");
    std::u16string endTags;
    for (int i = 0; i < 200; ++i) endTags += u"</a>";
    // A scan that took any of these end tags for real ones would let the parser recurse 40000 deep.
    const std::u16string decoys[] = {u"",
                                     u"<!--" + endTags + u"-->",
                                     u"<![CDATA[" + endTags + u"]]>",
                                     u"<?pi " + endTags + u"?>",
                                     u"<!DOCTYPE r [" + endTags + u"]>",
                                     u"<x v='" + endTags + u"'/>",
                                     u"<x v=\"" + endTags + u"\"/>",
                                     u"<x a\"b='" + endTags + u"'/>"};
    for (const std::u16string& decoy : decoys)
        EXPECT_EQ(xml_->LoadXml(ToWide(nested(200, decoy))), vantel::kFail) << vantel::ToUtf8(decoy.substr(0, 12));
}

TEST_F(XmlDocumentTest, NewLoadsGiveTheirOwnNodes) {
    ASSERT_EQ(xml_->LoadXml(ToWide(u"<root><a>first</a></root>")), 0);
    EXPECT_EQ(SelectedText(u"/root/a"), u"first");
    ASSERT_EQ(xml_->LoadXml(ToWide(u"<root><a>second</a><a>third</a></root>")), 0);
    EXPECT_EQ(SelectedText(u"/root/a"), u"second");
    EXPECT_EQ(Select(u"/root")->ChildCount(), 2u);
}

TEST_F(XmlDocumentTest, LoadFileReadsUtf8AndUtf16) {
    fs::path file = kBuildDir / "tests" / "qorbase_test_document.xml";
    auto write = [&](const std::string& bytes) { std::ofstream(Local(file), std::ios::binary) << bytes; };

    write("\xEF\xBB\xBF<root><a n='\xC3\xA9'>\xE2\x82\xAC</a></root>");
    ASSERT_EQ(xml_->LoadFile(ToWide(OnDriveZ(file))), 0);
    EXPECT_EQ(SelectedText(u"/root/a"), u"€");
    EXPECT_EQ(Text(Select(u"/root/a")->Attribute(ToWide(u"n"))), u"é");

    std::string utf16 = "\xFF\xFE";
    for (char16_t c : std::u16string(u"<root><b>é</b></root>")) {
        utf16 += static_cast<char>(c & 0xFF);
        utf16 += static_cast<char>(c >> 8);
    }
    write(utf16);
    ASSERT_EQ(xml_->LoadFile(ToWide(OnDriveZ(file))), 0);
    EXPECT_EQ(SelectedText(u"//b"), u"é");

    write("<root><unfinished>");
    EXPECT_EQ(xml_->LoadFile(ToWide(OnDriveZ(file))), vantel::kFail);
    fs::remove(Local(file));
    EXPECT_EQ(xml_->LoadFile(ToWide(OnDriveZ(file))), kFileNotFound);
    EXPECT_EQ(Select(u"//b"), nullptr);
}

// The library as the module reaches it: loaded by path, entry points by name.
TEST(QorbaseLibrary, MakesItsObjectsThroughTheModulesLoader) {
    std::u16string path = OnDriveZ(fs::path(VANTEL_AGENT_DIR) / "Qorbase.dll");
#ifndef _WIN32
    winsim::SetFileSigner(winsim::HostPath(path), "agent");
    winsim::SetFileSigner(winsim::HostPath(vantel::platform::ThisModulePath()), "agent");
#endif
    vantel::CompanionLibrary library;
    ASSERT_TRUE(library.Load(path));

    ComPtr<vantel::IJsonObject> json;
    ASSERT_EQ(library.CreateObject(vantel::kIidJsonObject, json.put_void()), vantel::kOk);
    ComPtr<vantel::IUnknownLike> unknown;
    EXPECT_EQ(json->QueryInterface(vantel::kIidUnknown, unknown.put_void()), vantel::kOk);
    ComPtr<vantel::IJsonObject> again;
    EXPECT_EQ(json->QueryInterface(vantel::kIidJsonObject, again.put_void()), vantel::kOk);
    EXPECT_EQ(again.get(), json.get());
    void* other = &other;
    EXPECT_EQ(json->QueryInterface(vantel::kIidXmlDocument, &other), vantel::kNoInterface);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(json->Parse(ToWide(uR"({"a":["b"]})")), 0);
    EXPECT_EQ(Text(json->Member(ToWide(u"a"), nullptr)->ArrayItem(0, nullptr)->StringValue(nullptr)), u"b");

    ComPtr<vantel::IRapidXMLDOMDocument> xml;
    ASSERT_EQ(library.CreateObject(vantel::kIidXmlDocument, xml.put_void()), vantel::kOk);
    EXPECT_EQ(xml->QueryInterface(vantel::kIidJsonObject, &other), vantel::kNoInterface);
    EXPECT_EQ(xml->LoadXml(ToWide(kEventXml)), 0);
    EXPECT_EQ(Text(xml->SelectSingleNode(ToWide(u"//EventID"))->Text()), u"4624");

    void* unknownClass = &unknownClass;
    EXPECT_EQ(library.CreateObject(vantel::kIidUnknown, &unknownClass), vantel::kNoInterface);
    EXPECT_EQ(unknownClass, nullptr);

    vantel::platform::LibraryHandle handle = vantel::platform::LoadLibraryByPath(path);
    auto initLibs = reinterpret_cast<vantel::InitLibsFn>(vantel::platform::GetLibraryProcedure(handle, "InitLibs"));
    ASSERT_NE(initLibs, nullptr);
    uint32_t version = 256;
    EXPECT_EQ(initLibs(&version), 0);
    version = 255;
    EXPECT_NE(initLibs(&version), 0);
    EXPECT_NE(initLibs(nullptr), 0);
    vantel::platform::FreeLibraryHandle(handle);
}

}  // namespace
}  // namespace qorbase
