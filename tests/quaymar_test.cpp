#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agentlibs/quaymar/log_registry.h"
#include "common/path.h"
#include "common/text.h"
#include "platform/library.h"
#include "vantel/companion_abi.h"

namespace quaymar {
namespace {

namespace fs = std::filesystem;

// Relative to the working folder, so that the test and the library name it alike under Wine too.
const fs::path kFolder = fs::path("quaymar_test_logs") / "nested";

void SetConfiguredFolder(const std::string& folder) {
#ifdef _WIN32
    _putenv(("QUAYMAR_LOG_DIR=" + folder).c_str());
#else
    if (folder.empty()) unsetenv("QUAYMAR_LOG_DIR");
    else setenv("QUAYMAR_LOG_DIR", folder.c_str(), 1);
#endif
}

std::string ReadFile(const fs::path& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

class QuaymarLog : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(kFolder.parent_path());
        SetConfiguredFolder(kFolder.string());
    }
    void TearDown() override {
        logs_.reset();  // closes the files, so that they can go
        SetConfiguredFolder("");
        fs::remove_all(kFolder.parent_path());
    }

    std::string Read(const char* name) { return ReadFile(kFolder / (std::string(name) + ".log")); }

    std::unique_ptr<LogRegistry> logs_ = std::make_unique<LogRegistry>();
};

TEST_F(QuaymarLog, LinesCarryTheirLevelAndEndInOneLineFeed) {
    uintptr_t log = logs_->Create(u"format");
    ASSERT_NE(log, 0u);
    EXPECT_EQ(logs_->Add(log, 1, u"plain"), 0);
    EXPECT_EQ(logs_->Add(log, 0, u"own feed\n"), 0);
    EXPECT_EQ(logs_->Add(log, 2, u"Grüße €"), 0);
    EXPECT_EQ(logs_->Add(log, 0, u"two\nlines"), 0);
    EXPECT_EQ(logs_->Add(log, 1, u""), 0);
    // Read while the log is open: every line is out as soon as it was added.
    const std::string lines = "1 plain\n0 own feed\n2 Grüße €\n0 two\nlines\n1 \n";
    EXPECT_EQ(Read("format"), lines);

    // A log opened again continues its file.
    EXPECT_EQ(logs_->Remove(log), 0);
    log = logs_->Create(u"format");
    EXPECT_EQ(logs_->Add(log, 0, u"again"), 0);
    EXPECT_EQ(Read("format"), lines + "0 again\n");
}

TEST_F(QuaymarLog, ConcurrentLinesStayWhole) {
    uintptr_t log = logs_->Create(u"concurrent");
    ASSERT_NE(log, 0u);
    constexpr int kThreads = 8;
    constexpr int kLines = 400;
    auto lineOf = [](int thread, int line) {
        return "thread " + std::to_string(thread) + " line " + std::to_string(line) + " " +
               std::string(100 + line % 300, static_cast<char>('a' + thread));
    };
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) {
                std::string line = lineOf(t, i) + (i % 2 ? "\n" : "");
                logs_->Add(log, t % 2, std::u16string(line.begin(), line.end()));
            }
        });
    for (std::thread& writer : writers) writer.join();

    std::map<std::string, int> expected;
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kLines; ++i) ++expected[std::to_string(t % 2) + " " + lineOf(t, i)];
    std::istringstream file(Read("concurrent"));
    std::map<std::string, int> seen;
    for (std::string line; std::getline(file, line);) ++seen[line];
    EXPECT_EQ(seen, expected);
}

TEST_F(QuaymarLog, HandlesFollowCreateAndRemove) {
    uintptr_t first = logs_->Create(u"shared");
    ASSERT_NE(first, 0u);
    EXPECT_EQ(logs_->Create(u"shared"), first);
    uintptr_t other = logs_->Create(u"other");
    EXPECT_NE(other, 0u);
    EXPECT_NE(other, first);

    EXPECT_EQ(logs_->Remove(first), 0);
    EXPECT_EQ(logs_->Add(first, 0, u"still open"), 0);
    EXPECT_EQ(logs_->Remove(first), 0);
    EXPECT_NE(logs_->Add(first, 0, u"closed"), 0);
    EXPECT_NE(logs_->Remove(first), 0);
    EXPECT_EQ(Read("shared"), "0 still open\n");
    EXPECT_EQ(logs_->Add(other, 0, u"unaffected"), 0);

    EXPECT_NE(logs_->Add(0, 0, u"no log"), 0);
    EXPECT_EQ(logs_->Create(u""), 0u);
    EXPECT_EQ(logs_->Create(u"..\\escape"), 0u);
    EXPECT_EQ(logs_->Create(u"../escape"), 0u);
}

TEST_F(QuaymarLog, LastUninitClosesEveryLog) {
    EXPECT_EQ(logs_->Init(), 0);
    EXPECT_EQ(logs_->Init(), 0);
    uintptr_t log = logs_->Create(u"lifetime");
    EXPECT_EQ(logs_->Uninit(), 0);
    EXPECT_EQ(logs_->Add(log, 0, u"open"), 0);
    EXPECT_EQ(logs_->Uninit(), 0);
    EXPECT_NE(logs_->Add(log, 0, u"closed"), 0);
    EXPECT_NE(logs_->Uninit(), 0);
    EXPECT_EQ(Read("lifetime"), "0 open\n");
}

// The library as the module reaches it: loaded by path, entry points by name, logs beside it
// unless a folder is configured.
TEST(QuaymarLibrary, EntryPointsWriteBesideTheLibrary) {
    SetConfiguredFolder("");
    std::u16string testFolder = vantel::PathParent(vantel::platform::ThisModulePath());
    auto handle = vantel::platform::LoadLibraryByPath(vantel::PathAppend(testFolder, u"..\\agent\\bin\\Quaymar.dll"));
    ASSERT_NE(handle, nullptr);
    auto entry = [&](const char* name) { return vantel::platform::GetLibraryProcedure(handle, name); };
    auto init = reinterpret_cast<vantel::LogInitFn>(entry("Init"));
    auto uninit = reinterpret_cast<vantel::LogUninitFn>(entry("Uninit"));
    auto createLog = reinterpret_cast<vantel::CreateLogFn>(entry("CreateLog"));
    auto addLog = reinterpret_cast<vantel::AddLogFn>(entry("AddLog"));
    auto removeLog = reinterpret_cast<vantel::RemoveLogFn>(entry("RemoveLog"));
    ASSERT_TRUE(init && uninit && createLog && addLog && removeLog);

    EXPECT_EQ(init(), 0);
    uintptr_t log = createLog(vantel::ToWide(u"quaymar_test"), 1);
    ASSERT_NE(log, 0u);
    EXPECT_EQ(addLog(log, 1, vantel::ToWide(u"from the library")), 0);
    EXPECT_NE(addLog(log, 1, nullptr), 0);
    EXPECT_EQ(removeLog(log), 0);
    EXPECT_EQ(uninit(), 0);
    vantel::platform::FreeLibraryHandle(handle);

    fs::path folder = OwnFilePath().parent_path().parent_path() / "agent" / "bin" / "log";
    EXPECT_EQ(ReadFile(folder / "quaymar_test.log"), "1 from the library\n");
    fs::remove(folder / "quaymar_test.log");
    std::error_code ignored;
    fs::remove(folder, ignored);  // when nothing else logs there
}

}  // namespace
}  // namespace quaymar
