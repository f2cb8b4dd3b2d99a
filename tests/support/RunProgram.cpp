// RunProgram.cpp: posix_spawn with standard output and error captured in temporary files.
#include "tests/support/RunProgram.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <stdexcept>

#include "tests/support/TestPaths.h"

extern char** environ;

namespace oggmix::test {
namespace {

std::string ReadText(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

// Owns posix_spawn's file actions.
class FileActions {
public:
    FileActions() { posix_spawn_file_actions_init(&FActions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&FActions); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* Get() { return &FActions; }

private:
    posix_spawn_file_actions_t FActions;
};

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
    // Files rather than pipes: nothing to drain while waiting, so no deadlock on long output.
    TempDir dir;
    const std::string outPath = dir.Path() + "/out";
    const std::string errPath = dir.Path() + "/err";
    FileActions actions;
    constexpr int kFlags = O_WRONLY | O_CREAT | O_TRUNC;
    posix_spawn_file_actions_addopen(actions.Get(), 1, outPath.c_str(), kFlags, 0600);
    posix_spawn_file_actions_addopen(actions.Get(), 2, errPath.c_str(), kFlags, 0600);

    std::vector<std::string> argvStrings;
    argvStrings.push_back(program);
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argvStrings) argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), actions.Get(), nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + program);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throw std::runtime_error("cannot wait for " + program);
    }

    ProgramResult result;
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.Out = ReadText(outPath);
    result.Err = ReadText(errPath);
    return result;
}

}  // namespace oggmix::test
