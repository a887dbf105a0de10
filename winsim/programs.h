// Programs the simulated machine starts through the shell. It knows one: its security
// configuration tool, "secedit.exe" in the system folder (winsim/secedit.h).
//
// A started program takes its run time, which passes only while someone waits for it: a wait
// ends at once, with the program ended, when the program's remaining time fits in it, and
// otherwise uses up that much of the remaining time and times out. So no wait costs real time,
// and a test sets a program's time to 0 (done as it starts) or beyond any wait.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace winsim {

constexpr uint32_t kNeverEnds = 0xFFFFFFFFu;
constexpr uint32_t kStillActive = 259;

// A program's run as it starts: its time, and the work it does at the end, answering its
// exit code.
struct ProgramRun {
    uint32_t milliseconds;
    std::function<uint32_t()> finish;
};

// The machine's side. ShellExecuteEx of a file: 2 when it is no program the machine knows.
int32_t ShellExecuteProgram(const std::u16string& file, const std::u16string& parameters, uintptr_t* process);
// True when the program has ended within the time (0xFFFFFFFF: whatever time it takes).
bool WaitForProgram(uintptr_t process, uint32_t milliseconds);
// kStillActive while it runs; 6 for a handle that is not open.
int32_t GetProgramExitCode(uintptr_t process, uint32_t* code);
void CloseProgram(uintptr_t process);

// Control: the command lines started so far ("file parameters"), oldest first; and forgetting them.
std::vector<std::u16string> StartedPrograms();
void ForgetStartedPrograms();

}  // namespace winsim
