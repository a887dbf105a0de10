// Runs a shell command and answers what it printed on standard output (Linux).
#pragma once
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace vantel::testing {

struct CommandResult {
    std::string output;
    int exitCode = -1;  // -1 when the command did not run or did not exit
};

inline CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.output.append(buffer, n);
    int status = pclose(pipe);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

}  // namespace vantel::testing
