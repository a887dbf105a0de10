#include "winsim/programs.h"

#include <map>
#include <memory>
#include <mutex>

#include "common/text.h"
#include "winsim/handles.h"
#include "winsim/secedit.h"
#include "winsim/system.h"

namespace winsim {

namespace {

constexpr int32_t kErrorFileNotFound = 2;
constexpr int32_t kErrorInvalidHandle = 6;

struct Program {
    std::mutex lock;  // held while the program finishes, so that it finishes once
    uint32_t remaining;
    std::function<uint32_t()> finish;
    bool ended = false;
    uint32_t exitCode = kStillActive;

    // Ends the program when its remaining time fits in the wait; otherwise spends the wait.
    bool Advance(uint32_t milliseconds) {
        std::lock_guard guard(lock);
        if (ended) return true;
        if (remaining == kNeverEnds) return false;
        if (milliseconds != kNeverEnds && remaining > milliseconds) {
            remaining -= milliseconds;
            return false;
        }
        exitCode = finish();
        ended = true;
        return true;
    }
};

struct Programs {
    std::mutex lock;
    std::map<uintptr_t, std::shared_ptr<Program>> running;
    std::vector<std::u16string> started;
};

Programs& ThePrograms() {
    static Programs* programs = new Programs;  // outlives threads still waiting at exit
    return *programs;
}

std::shared_ptr<Program> Find(uintptr_t process) {
    Programs& programs = ThePrograms();
    std::lock_guard guard(programs.lock);
    auto found = programs.running.find(process);
    return found == programs.running.end() ? nullptr : found->second;
}

// The security configuration tool, named by its full path or, as the shell searches the system
// folder, by its file name alone.
bool IsSecedit(const std::u16string& file) {
    return vantel::EqualsIgnoreCase(file, SystemDirectory() + u"\\secedit.exe") ||
           vantel::EqualsIgnoreCase(file, u"secedit.exe");
}

}  // namespace

int32_t ShellExecuteProgram(const std::u16string& file, const std::u16string& parameters, uintptr_t* process) {
    if (!IsSecedit(file)) return kErrorFileNotFound;
    Programs& programs = ThePrograms();
    {
        std::lock_guard guard(programs.lock);
        programs.started.push_back(file + u" " + parameters);
    }
    ProgramRun run = StartSecedit(parameters);
    auto program = std::make_shared<Program>();
    program->remaining = run.milliseconds;
    program->finish = std::move(run.finish);
    program->Advance(0);  // a program without run time is done as it starts
    *process = NextHandleValue();
    std::lock_guard guard(programs.lock);
    programs.running.emplace(*process, std::move(program));
    return 0;
}

bool WaitForProgram(uintptr_t process, uint32_t milliseconds) {
    std::shared_ptr<Program> program = Find(process);
    return program && program->Advance(milliseconds);
}

int32_t GetProgramExitCode(uintptr_t process, uint32_t* code) {
    std::shared_ptr<Program> program = Find(process);
    if (!program) return kErrorInvalidHandle;
    std::lock_guard guard(program->lock);
    *code = program->exitCode;
    return 0;
}

void CloseProgram(uintptr_t process) {
    Programs& programs = ThePrograms();
    std::lock_guard guard(programs.lock);
    programs.running.erase(process);
}

std::vector<std::u16string> StartedPrograms() {
    Programs& programs = ThePrograms();
    std::lock_guard guard(programs.lock);
    return programs.started;
}

void ForgetStartedPrograms() {
    Programs& programs = ThePrograms();
    std::lock_guard guard(programs.lock);
    programs.started.clear();
}

}  // namespace winsim
