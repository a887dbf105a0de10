// The logs of one process: named files that many threads append whole lines to.
#pragma once
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quaymar {

class LogRegistry {
public:
    // Init and Uninit pair up; undoing the last Init closes every log.
    int32_t Init();
    int32_t Uninit();
    // Opens "<folder>/<name>.log" for appending, or hands out the handle of the open log of that
    // name again; 0 when the file cannot be opened.
    uintptr_t Create(const std::u16string& name);
    // Appends "<level> <line>" with a line feed unless the line brings its own; 0 once written.
    int32_t Add(uintptr_t log, int32_t level, const std::u16string& line);
    // Closes the log when every Create of it has been removed.
    int32_t Remove(uintptr_t log);

private:
    struct LogFile {
        uintptr_t handle;
        std::u16string name;
        int opens = 1;
        std::mutex writeLock;
        std::ofstream stream;
    };

    using LogList = std::vector<std::shared_ptr<LogFile>>;
    // With lock_ held.
    LogList::iterator Locate(uintptr_t log);

    std::mutex lock_;
    LogList logs_;
    uintptr_t lastHandle_ = 0;
    int inits_ = 0;
};

// QUAYMAR_LOG_DIR when set, else the "log" folder beside the library's own file.
std::filesystem::path LogFolder();

// Supplied per OS.
std::filesystem::path OwnFilePath();
std::filesystem::path EnvironmentPath(const char* name);

}  // namespace quaymar
