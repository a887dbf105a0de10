// The log binding happens once per process, so each case runs in a child process of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "plugin/factory.h"
#include "winsim/signing.h"

namespace vantel {
namespace {

namespace fs = std::filesystem;

enum class LogLibrary { Missing, Garbage, Unsigned, Signed };

fs::path ExeFolder() { return fs::read_symlink("/proc/self/exe").parent_path(); }

// Lays out "Quaymar.dll" beside the test executable (which plays the module), runs a plugin's
// life cycle and answers what reached the log file.
std::string RunWithLogLibrary(LogLibrary kind) {
    fs::path logDir = fs::temp_directory_path() / ("vantel-log-" + std::to_string(::getpid()));
    fs::remove_all(logDir);
    setenv("QUAYMAR_LOG_DIR", logDir.c_str(), 1);
    fs::path library = ExeFolder() / "Quaymar.dll";
    fs::remove(library);
    if (kind == LogLibrary::Garbage) std::ofstream(library) << "not a library";
    if (kind == LogLibrary::Unsigned || kind == LogLibrary::Signed)
        fs::copy_file(fs::path(VANTEL_AGENT_DIR) / "bin" / "Quaymar.dll", library);
    if (kind != LogLibrary::Unsigned) {
        winsim::SetFileSigner(library.string(), "agent");
        winsim::SetFileSigner(fs::read_symlink("/proc/self/exe").string(), "agent");
    }

    IKestranePlugin* users = CreatePluginObject(&kClsidNtUsers);
    bool lifeCycleWorks = users && users->Start() == 0 && users->Stop() == 0 && users->Destroy() == 0;
    fs::remove(library);

    std::ostringstream log;
    log << std::ifstream(logDir / "Vantel.log").rdbuf();
    fs::remove_all(logDir);
    return lifeCycleWorks ? log.str() : "life cycle failed";
}

void ExpectLog(LogLibrary kind, bool withLines) {
    std::string log = RunWithLogLibrary(kind);
    bool hasLines = log.find("[CNtUsers] Start\n") != std::string::npos &&
                    log.find("[CNtUsers] Stop\n") != std::string::npos;
    std::exit(log != "life cycle failed" && hasLines == withLines ? 0 : 1);
}

class LogSink : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(LogSink, SignedLibraryReceivesTheTraces) {
    EXPECT_EXIT(ExpectLog(LogLibrary::Signed, true), ::testing::ExitedWithCode(0), "");
}

TEST_F(LogSink, WithoutAUsableLibraryTracesAreDroppedAndPluginsStillWork) {
    EXPECT_EXIT(ExpectLog(LogLibrary::Missing, false), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(ExpectLog(LogLibrary::Garbage, false), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(ExpectLog(LogLibrary::Unsigned, false), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vantel
