#include "agentlibs/quaymar/log_registry.h"

#include <algorithm>

#include "common/text.h"

namespace quaymar {

namespace {

constexpr int32_t kDone = 0;
constexpr int32_t kFailed = -1;

}  // namespace

int32_t LogRegistry::Init() {
    std::lock_guard guard(lock_);
    ++inits_;
    return kDone;
}

int32_t LogRegistry::Uninit() {
    std::lock_guard guard(lock_);
    if (inits_ == 0) return kFailed;
    // A writer in the middle of a line holds its log until the line is out.
    if (--inits_ == 0) logs_.clear();
    return kDone;
}

uintptr_t LogRegistry::Create(const std::u16string& name) {
    // A name is a file name: logs stay inside their folder.
    if (name.empty() || name.find_first_of(u"/\\:") != std::u16string::npos) return 0;
    std::lock_guard guard(lock_);
    for (const auto& log : logs_) {
        if (log->name == name) {
            ++log->opens;
            return log->handle;
        }
    }
    std::filesystem::path folder = LogFolder();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    auto log = std::make_shared<LogFile>();
    log->stream.open(folder / (name + u".log"), std::ios::binary | std::ios::app);
    if (!log->stream) return 0;
    log->handle = ++lastHandle_;
    log->name = name;
    logs_.push_back(log);
    return log->handle;
}

int32_t LogRegistry::Add(uintptr_t log, int32_t level, const std::u16string& line) {
    std::shared_ptr<LogFile> file;
    {
        std::lock_guard guard(lock_);
        auto found = Locate(log);
        if (found == logs_.end()) return kFailed;
        file = *found;
    }
    std::string text = std::to_string(level) + ' ' + vantel::ToUtf8(line);
    if (text.back() != '\n') text += '\n';
    std::lock_guard guard(file->writeLock);
    file->stream.write(text.data(), static_cast<std::streamsize>(text.size()));
    // Readers follow the file while the process runs.
    file->stream.flush();
    return file->stream ? kDone : kFailed;
}

int32_t LogRegistry::Remove(uintptr_t log) {
    std::lock_guard guard(lock_);
    auto found = Locate(log);
    if (found == logs_.end()) return kFailed;
    if (--(*found)->opens == 0) logs_.erase(found);
    return kDone;
}

LogRegistry::LogList::iterator LogRegistry::Locate(uintptr_t log) {
    return std::find_if(logs_.begin(), logs_.end(), [&](const auto& file) { return file->handle == log; });
}

std::filesystem::path LogFolder() {
    std::filesystem::path configured = EnvironmentPath("QUAYMAR_LOG_DIR");
    return configured.empty() ? OwnFilePath().parent_path() / "log" : configured;
}

}  // namespace quaymar
