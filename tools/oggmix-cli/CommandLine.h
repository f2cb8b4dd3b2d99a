#pragma once
// CommandLine.h: the options of every subcommand, in one table: each entry holds an option's
// name, the form of its value, its usage text, the subcommands that take it and its parser.
// Parsing, the option lines of every usage and the refusal of an option that a subcommand
// does not take all come from this table, so that an option is added or changed in one place.
// An option is written "--name VALUE" or "--name=VALUE" (a short alias "-o VALUE"); "--" ends
// the options; every other argument is a FILE.
// Threads: the main thread. Memory: allocates.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/oggmix-cli/Command.h"
#include "tools/oggmix-cli/MixOptions.h"

namespace oggmix::cli {

// What a subcommand's arguments say. A subcommand reads the fields of the options it takes.
struct CommandLine {
    std::vector<std::string> Files;  // the arguments that are not options, in order
    MixOptions Mix;
    std::string OutPath;          // render: -o, --output
    bool StreamOnly = false;      // render: --stream
    std::string ScriptPath;       // render: --script, the plan to render instead of FILEs
    std::string EventsPath;       // render: --events, with --script
    std::string SetPath;          // render: --set, the music set a plan's states come from
    std::optional<int64_t> Seed;  // render: --seed, with --set: the playlists' order
    std::string PositionLog;      // play: --position-log
    std::optional<double> AtSec;  // spectrum: --at
};

struct Option {
    std::string_view Name;         // "--volume"
    std::string_view Alias;        // a short name ("-o"), or empty
    std::string_view Placeholder;  // the value in the usage ("SLOT:V"); empty: takes none
    std::string_view Help;         // the usage text; '\n' between its lines
    CommandSet Commands;           // the subcommands that take it
    // Takes the value (empty for an option without one) into out. Returns an empty string, or
    // what the value should have been ("SLOT:VOLUME (slot 0-7)").
    std::string (*Parse)(std::string_view value, CommandLine& out);
};

// Every option, in the order of the usage.
[[nodiscard]] std::span<const Option> Options() noexcept;

// Parses the arguments of the subcommand command into out. Returns an empty string, or what is
// wrong with the first argument that is wrong.
[[nodiscard]] std::string ParseCommandLine(CommandSet command, std::span<const std::string> args,
                                           CommandLine& out);

// Whether args ask for the help: "--help" or "-h" among the options (before a "--"), not as
// the value of an option that takes one.
[[nodiscard]] bool AsksForHelp(std::span<const std::string> args);

// What is wrong with the files of a mixing subcommand: none given, more than the mixer's
// slots, or an option naming a slot that holds no file. Empty when nothing is.
[[nodiscard]] std::string CheckMixFiles(const CommandLine& line);

// The usage lines of command's options, each ending in '\n'.
[[nodiscard]] std::string OptionsUsage(CommandSet command);

}  // namespace oggmix::cli
