#pragma once
// RunProgram.h: runs a built program as a user would, and collects what it printed.
// Threads: any. Memory: allocates. Errors: std::runtime_error when it cannot be started.

#include <string>
#include <vector>

namespace oggmix::test {

struct ProgramResult {
    int ExitCode = -1;  // the exit status, or 128 + signal number when a signal ended it
    std::string Out;    // standard output
    std::string Err;    // standard error
};

// Runs program with args (without argv[0]) and waits for it. The environment is inherited.
[[nodiscard]] ProgramResult RunProgram(const std::string& program,
                                       const std::vector<std::string>& args);

}  // namespace oggmix::test
