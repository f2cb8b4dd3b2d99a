#pragma once
// Command.h: the subcommands of oggmix-cli. Each subcommand file registers one Command at
// start-up; main dispatches on the first argument and prints every Usage for --help.
// Exit codes: kExitOk, kExitFailure (a file or device failed), kExitUsage (wrong usage).

#include <span>
#include <string>
#include <vector>

namespace oggmix::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct Command {
    const char* Name;  // "info", "render", ...
    int Order;         // position in the usage text
    // One or more synopsis lines starting with "oggmix-cli <name>", then optionally lines
    // indented further that describe the options.
    const char* Usage;
    int (*Run)(std::span<const std::string> args);  // args after the subcommand's name
};

// Returns true so that a file can register at namespace scope:
//   const bool kRegistered = RegisterCommand({...});
bool RegisterCommand(const Command& command);

// Prints every registered command's usage to stderr (used for usage errors).
void PrintUsage();

}  // namespace oggmix::cli
