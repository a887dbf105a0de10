#include "plugin/companion.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/text.h"
#include "winsim/files.h"
#include "winsim/registry.h"
#include "winsim/signing.h"

namespace vantel {
namespace {

namespace fs = std::filesystem;

const fs::path kQorbase = fs::path(VANTEL_AGENT_DIR) / "Qorbase.dll";
const char16_t kAppPaths[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\QorExtHost.exe";

fs::path ExePath() { return fs::read_symlink("/proc/self/exe"); }

class Companion : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = fs::temp_directory_path() / ("vantel-companion-" + std::to_string(::getpid()));
        fs::create_directories(scratch_);
        winsim::SetFileSigner(ExePath().string(), "agent");
        winsim::SetFileSigner(kQorbase.string(), "agent");
    }
    void TearDown() override {
        for (const fs::path& placed : placed_) fs::remove(placed);
        fs::remove_all(scratch_);
        winsim::RegDeleteTree(winsim::Hive::LocalMachine, kAppPaths);
    }
    // Puts a signed copy of the companion library at the path, removed after the test.
    std::u16string Place(const fs::path& path) {
        fs::copy_file(kQorbase, path, fs::copy_options::overwrite_existing);
        winsim::SetFileSigner(path.string(), "agent");
        placed_.push_back(path);
        return winsim::WindowsPath(path.string());
    }

    fs::path scratch_;
    std::vector<fs::path> placed_;
};

TEST_F(Companion, LoadsOnlyWhatVerifiesAndWorks) {
    CompanionLibrary missing;
    EXPECT_FALSE(missing.Load(winsim::WindowsPath((scratch_ / "Qorbase.dll").string())));
    void* object = nullptr;
    EXPECT_EQ(missing.CreateObject(kIidJsonObject, &object), kNotImplemented);

    fs::path garbage = scratch_ / "garbage.dll";
    std::ofstream(garbage) << "not a library";
    winsim::SetFileSigner(garbage.string(), "agent");
    EXPECT_FALSE(CompanionLibrary().Load(winsim::WindowsPath(garbage.string())));

    fs::path foreign = scratch_ / "foreign.dll";
    fs::copy_file(kQorbase, foreign);
    winsim::SetFileSigner(foreign.string(), "someone else");
    EXPECT_FALSE(CompanionLibrary().Load(winsim::WindowsPath(foreign.string())));

    CompanionLibrary good;
    ASSERT_TRUE(good.Load(winsim::WindowsPath(kQorbase.string())));
    ComPtr<IJsonObject> json;
    EXPECT_EQ(good.CreateObject(kIidJsonObject, json.put_void()), kOk);
    ASSERT_TRUE(json);
    EXPECT_EQ(json->Parse(ToWide(u"{\"a\":1}")), 0);
}

TEST_F(Companion, DirectBindingIsTriedOnceAndItsOutcomeKept) {
    CompanionBindings failing;
    ComPtr<IJsonObject> json;
    EXPECT_LT(failing.CreateJsonObject(winsim::WindowsPath((scratch_ / "none.dll").string()), &json), 0);
    EXPECT_LT(failing.CreateJsonObject(winsim::WindowsPath(kQorbase.string()), &json), 0);

    CompanionBindings working;
    EXPECT_EQ(working.CreateJsonObject(winsim::WindowsPath(kQorbase.string()), &json), kOk);
    EXPECT_EQ(working.CreateJsonObject(u"Z:\\nowhere\\Qorbase.dll", &json), kOk);
    EXPECT_TRUE(json);
    json.reset();  // released before the binding frees the library that made it
}

TEST_F(Companion, SearchOrderIsExecutableFolderThenParentThenAppPaths) {
    EXPECT_EQ(CompanionBindings::FindCompanion(u"Qorconf.dll"), u"");

    winsim::RegSetString(winsim::Hive::LocalMachine, kAppPaths, u"path", winsim::WindowsPath(scratch_.string()));
    std::u16string registered = Place(scratch_ / "Qorconf.dll");
    EXPECT_EQ(CompanionBindings::FindCompanion(u"Qorconf.dll"), registered);

    std::u16string parent = Place(ExePath().parent_path().parent_path() / "Qorconf.dll");
    EXPECT_EQ(CompanionBindings::FindCompanion(u"Qorconf.dll"), parent);

    std::u16string own = Place(ExePath().parent_path() / "Qorconf.dll");
    EXPECT_EQ(CompanionBindings::FindCompanion(u"Qorconf.dll"), own);
}

TEST_F(Companion, XmlDocumentsComeFromTheSearchedPair) {
    winsim::RegSetString(winsim::Hive::LocalMachine, kAppPaths, u"path", winsim::WindowsPath(scratch_.string()));
    Place(scratch_ / "Qorconf.dll");
    CompanionBindings bindings;
    ComPtr<IRapidXMLDOMDocument> document;
    ASSERT_EQ(bindings.CreateXmlDocument(&document), kOk);
    ASSERT_EQ(document->LoadXml(ToWide(u"<root><a>1</a></root>")), 0);
    IXmlNode* node = document->SelectSingleNode(ToWide(u"//a"));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(FromWide(node->Text()), u"1");
}

}  // namespace
}  // namespace vantel
