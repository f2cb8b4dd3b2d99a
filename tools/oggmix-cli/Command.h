#pragma once
// Command.h: the subcommands of oggmix-cli. Each subcommand file registers one Command at
// start-up; main dispatches on the first argument and prints every usage for --help. A usage
// is the command's synopsis and description, then its options from the option table
// (CommandLine.h).
// Exit codes: kExitOk, kExitFailure (a file or device failed), kExitUsage (wrong usage).

#include <cstdint>
#include <span>
#include <string>

namespace oggmix::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Subcommands as bits of a set: the option table says which subcommands take an option. The
// usage lists the subcommands in the order of their bits.
using CommandSet = uint32_t;
inline constexpr CommandSet kInfo = 1u << 0;
inline constexpr CommandSet kRender = 1u << 1;
inline constexpr CommandSet kPlay = 1u << 2;
inline constexpr CommandSet kSpectrum = 1u << 3;
inline constexpr CommandSet kCheck = 1u << 4;

struct Command {
    const char* Name;      // "info", "render", ...
    CommandSet Id;         // one of the bits above
    const char* Synopsis;  // "oggmix-cli render [OPTIONS] FILE [FILE...] -o OUT.wav"
    const char* About;     // what it does; '\n' between lines
    int (*Run)(std::span<const std::string> args);  // args after the subcommand's name
    const char* Details;  // after the options in the subcommand's own --help only, or null
};

// Returns true so that a file can register at namespace scope:
//   const bool kRegistered = RegisterCommand({...});
bool RegisterCommand(const Command& command);

// Says "oggmix-cli <command>: <message>" and the usage on stderr; returns kExitUsage.
int UsageError(const char* command, const std::string& message);

}  // namespace oggmix::cli
