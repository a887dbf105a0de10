#include "winsim/scheduled_tasks.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>

#include "common/text.h"
#include "winsim/files.h"
#include "winsim/system.h"

namespace winsim {

namespace {

constexpr int32_t kFileNotFound = static_cast<int32_t>(0x80070002u);
constexpr int32_t kInvalidData = static_cast<int32_t>(0x8007000Du);
constexpr char16_t kExtension[] = u".job";

// A task file: one "key=value" line each for the program, the parameters and the creator.
constexpr const char* kKeys[] = {"Program=", "Parameters=", "Creator="};

std::atomic<int32_t>& SchedulerFailure() {
    static std::atomic<int32_t> failure{0};
    return failure;
}

std::u16string TaskPath(const std::u16string& name) { return TasksFolder() + u"\\" + name + kExtension; }

std::string Contents(const ScheduledTask& task) {
    std::string text;
    const std::u16string* values[] = {&task.program, &task.parameters, &task.creator};
    for (size_t i = 0; i < std::size(kKeys); ++i) text += kKeys[i] + vantel::ToUtf8(*values[i]) + "\n";
    return text;
}

}  // namespace

bool AddTask(const std::u16string& name, const ScheduledTask& task) { return WriteFile(TaskPath(name), Contents(task)); }

bool ChangeTask(const std::u16string& name, const ScheduledTask& task) {
    std::error_code error;
    return std::filesystem::exists(HostPath(TaskPath(name)), error) && AddTask(name, task);
}

bool RemoveTask(const std::u16string& name) { return DeleteFile(TaskPath(name)); }

void FailTaskScheduler(int32_t result) { SchedulerFailure() = result; }

int32_t TaskSchedulerFailure() { return SchedulerFailure(); }

std::u16string TasksFolder() {
    std::u16string folder = WindowsDirectory() + u"\\Tasks";
    std::error_code error;
    std::filesystem::create_directories(HostPath(folder), error);
    return folder;
}

std::vector<std::u16string> TaskFileNames() {
    std::vector<std::u16string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(HostPath(TasksFolder()), error)) {
        std::u16string name = vantel::FromUtf8(entry.path().filename().string());
        size_t length = std::char_traits<char16_t>::length(kExtension);
        if (entry.is_regular_file(error) && name.size() > length &&
            vantel::EqualsIgnoreCase(name.substr(name.size() - length), kExtension))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int32_t ReadTask(const std::u16string& name, ScheduledTask* task) {
    std::ifstream file(HostPath(TaskPath(name)), std::ios::binary);
    if (!file) return kFileNotFound;
    std::u16string* values[] = {&task->program, &task->parameters, &task->creator};
    std::string line;
    for (size_t i = 0; i < std::size(kKeys); ++i) {
        if (!std::getline(file, line) || line.rfind(kKeys[i], 0) != 0) return kInvalidData;
        *values[i] = vantel::FromUtf8(line.substr(std::char_traits<char>::length(kKeys[i])));
    }
    return 0;
}

}  // namespace winsim
