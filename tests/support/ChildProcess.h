#pragma once
// ChildProcess.h: a program running in the background until the test stops it, by its own
// process id. Threads: the owner's. Errors: std::runtime_error when it cannot be started.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace oggmix::test {

// A program running in the background; stopped (SIGTERM) and reaped when the test is done.
class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& args,
          const std::string& stdoutPath = "/dev/null",
          const std::string& stderrPath = "/dev/null") {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<std::string> strings{program};
        strings.insert(strings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& s : strings) argv.push_back(s.data());
        argv.push_back(nullptr);
        const int error =
            posix_spawnp(&FPid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) throw std::runtime_error("cannot start " + program);
    }
    ~Child() {
        if (FPid > 0) (void)Stop(SIGTERM);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    [[nodiscard]] pid_t Pid() const noexcept { return FPid; }
    // Sends signal and waits: the exit status, or 128 + the signal that ended it.
    int Stop(int signal) {
        if (FPid <= 0) return -1;
        kill(FPid, signal);
        return Wait();
    }
    int Wait() {
        int status = 0;
        while (waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
        }
        FPid = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t FPid = 0;
};

}  // namespace oggmix::test
