// The module's trace lines, for tests that check what was traced: the log binding goes to the
// agent's log library stand-in, writing into a folder of this process's own.
#pragma once
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "plugin/log_sink.h"
#include "winsim/files.h"

namespace vantel::testing {

class TraceLog {
public:
    // Binds the log once per process; lines written before the first Take are skipped too.
    TraceLog() {
        static const std::filesystem::path folder = [] {
            std::filesystem::path made =
                std::filesystem::temp_directory_path() / ("vantel-traces-" + std::to_string(::getpid()));
            std::filesystem::remove_all(made);
            setenv("QUAYMAR_LOG_DIR", made.c_str(), 1);
            BindLogSink(winsim::WindowsPath(std::string(VANTEL_AGENT_DIR) + "/bin/Quaymar.dll"), u"Vantel", 1000);
            return made;
        }();
        file_ = folder / "Vantel.log";
        Take();
    }

    // The lines written since the last call, each "level text".
    std::string Take() {
        std::ifstream file(file_, std::ios::binary);
        file.seekg(static_cast<std::streamoff>(read_));
        std::ostringstream text;
        text << file.rdbuf();
        read_ += text.str().size();
        return text.str();
    }

private:
    std::filesystem::path file_;
    size_t read_ = 0;
};

}  // namespace vantel::testing
