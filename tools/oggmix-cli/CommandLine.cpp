// CommandLine.cpp: the option table, and the parsing and usage lines made from it.
#include "tools/oggmix-cli/CommandLine.h"

#include <algorithm>

#include "tools/oggmix-cli/OptionValues.h"

namespace oggmix::cli {
namespace {

constexpr CommandSet kMixing = kRender | kPlay | kSpectrum;

// Puts a read value into its setting: appended to a list, or replacing a single setting (the
// last one given counts). Without a value, returns what was expected.
template <class Value, class Setting>
std::string Take(const std::optional<Value>& value, Setting& setting, std::string_view expected) {
    if (!value) return std::string(expected);
    if constexpr (requires { setting.push_back(*value); })
        setting.push_back(*value);
    else
        setting = *value;
    return {};
}

// Parsers of the options that only set a field: a flag turned on, or the text kept.
template <bool CommandLine::*Flag>
std::string SetFlag(std::string_view, CommandLine& out) {
    out.*Flag = true;
    return {};
}
template <bool MixOptions::*Flag>
std::string SetMixFlag(std::string_view, CommandLine& out) {
    out.Mix.*Flag = true;
    return {};
}
template <std::string CommandLine::*Text>
std::string SetText(std::string_view value, CommandLine& out) {
    out.*Text = value;
    return {};
}

constexpr Option kOptions[] = {
    {"--output", "-o", "OUT.wav", "the WAV file to write", kRender, SetText<&CommandLine::OutPath>},
    {"--stream", "", "", "one FILE through its stream alone, without the mixer", kRender,
     SetFlag<&CommandLine::StreamOnly>},
    {"--script", "", "PLAN",
     "timed calls of the game player, one a line\n"
     "(SECONDS COMMAND ARGS...), rendered offline; no FILE",
     kRender, SetText<&CommandLine::ScriptPath>},
    {"--events", "", "EVENTS.txt",
     "with --script: a line per event heard\n"
     "(FRAME KIND NAME DETAIL), by frame",
     kRender, SetText<&CommandLine::EventsPath>},
    {"--set", "", "SET.json",
     "render, with --script: the music set whose states, parameters\n"
     "and stingers the plan's state, param and stinger lines name;\n"
     "play: the music set to play from the keys (no FILE)",
     kRender | kPlay, SetText<&CommandLine::SetPath>},
    {"--seed", "", "N", "with --set: the seed of the playlists' order (default: the clock)",
     kRender,
     [](std::string_view value, CommandLine& out) {
         const std::optional<int64_t> seed = ParseInteger(value);
         return Take(seed && *seed >= 0 ? seed : std::nullopt, out.Seed, "an integer, 0 or more");
     }},
    {"--position-log", "", "FILE",
     "every 10 ms a line: monotonic clock (us), slot 0's play\n"
     "time (s), the mixer's heard offset (bytes)",
     kPlay, SetText<&CommandLine::PositionLog>},
    {"--at", "", "SECONDS", "the moment, at most 10 times the file's length", kSpectrum,
     [](std::string_view value, CommandLine& out) {
         return Take(ParseSeconds(value), out.AtSec, "a number of seconds, 0 or more");
     }},
    {"--volume", "", "SLOT:V", "volume of a slot's stream (1.0 = unchanged)", kMixing,
     [](std::string_view value, CommandLine& out) {
         return Take(ParseSlotValue(value), out.Mix.Volumes, "SLOT:VOLUME (slot 0-7)");
     }},
    {"--master", "", "V", "master volume of every stream", kMixing,
     [](std::string_view value, CommandLine& out) {
         return Take(ParseFloat(value), out.Mix.MasterVolume, "a number");
     }},
    {"--pan", "", "SLOT:P", "pan, -1 left .. 0 centre .. 1 right", kMixing,
     [](std::string_view value, CommandLine& out) {
         return Take(ParseSlotValue(value), out.Mix.Pans, "SLOT:PAN (slot 0-7, pan -1 to 1)");
     }},
    {"--fade", "", "SLOT:VOLUME:SEC", "fade to VOLUME over SEC seconds of audio", kMixing,
     [](std::string_view value, CommandLine& out) {
         return Take(ParseSlotFade(value), out.Mix.Fades, "SLOT:VOLUME:SECONDS (slot 0-7)");
     }},
    {"--seek", "", "SLOT:SECONDS", "start the slot's stream there", kMixing,
     [](std::string_view value, CommandLine& out) {
         return Take(ParseSlotValue(value), out.Mix.Seeks, "SLOT:SECONDS (slot 0-7)");
     }},
    {"--limiter", "", "MIN,MAX,DOWN,DELAY", "limiter bounds, fall per group, hold in frames",
     kMixing,
     [](std::string_view value, CommandLine& out) {
         return Take(ParseLimiter(value), out.Mix.Limiter, "MIN,MAX,DOWN,DELAY (four integers)");
     }},
    {"--eq", "", "SLOT:PRESET[:SEC]",
     "tone-filter preset (LowPass, HighPass, LowReso,\n"
     "HighReso, OFF, LoHiPass, MiddleReso, Wave), reached\n"
     "over SEC seconds (default 5)",
     kMixing,
     [](std::string_view value, CommandLine& out) {
         return Take(ParseSlotPreset(value), out.Mix.Filters, PresetExpectation());
     }},
    {"--agc", "", "SLOT:LEVEL", "gain control: 0 off, 1.0 aims at full level", kMixing,
     [](std::string_view value, CommandLine& out) {
         return Take(ParseSlotLevel(value), out.Mix.GainControls,
                     "SLOT:LEVEL (slot 0-7, level 0 or more)");
     }},
    // The moment of spectrum is --at.
    {"--seconds", "", "S", "length (default: the longest file)", kRender | kPlay,
     [](std::string_view value, CommandLine& out) {
         return Take(ParseSeconds(value), out.Mix.Seconds, "a number of seconds, 0 or more");
     }},
    {"--no-loop", "", "", "play each file once", kMixing, SetMixFlag<&MixOptions::NoLoop>},
    {"--loop-tags", "", "", "loop cues from LOOPSTART with LOOPLENGTH or LOOPEND too",
     kInfo | kMixing, SetMixFlag<&MixOptions::LoopTags>},
    {"--resample", "", "",
     "convert other rates and 3 to 8 channels to 44100 Hz\n"
     "stereo (without it such files are refused)",
     kMixing, SetMixFlag<&MixOptions::Resample>},
};

const Option* Find(std::string_view name) {
    const auto named = [name](const Option& option) {
        return option.Name == name || (!option.Alias.empty() && option.Alias == name);
    };
    const auto found = std::find_if(std::begin(kOptions), std::end(kOptions), named);
    return found == std::end(kOptions) ? nullptr : &*found;
}

// The option at args[index]; moves index onto its value if that is the next argument.
std::string ParseOption(CommandSet command, std::span<const std::string> args, size_t& index,
                        CommandLine& out) {
    const std::string& arg = args[index];
    const size_t equals = arg.starts_with("--") ? arg.find('=') : std::string::npos;
    const std::string name = arg.substr(0, equals);
    const Option* option = Find(name);
    if (option == nullptr) return "unknown option '" + arg + "'";
    if ((option->Commands & command) == 0) return name + " does not apply to this subcommand";

    std::string value;
    if (option->Placeholder.empty()) {
        if (equals != std::string::npos) return name + " takes no value";
    } else if (equals != std::string::npos) {
        value = arg.substr(equals + 1);
    } else if (index + 1 < args.size()) {
        value = args[++index];
    } else {
        return name + " needs a value: " + std::string(option->Placeholder);
    }
    if (const std::string expected = option->Parse(value, out); !expected.empty())
        return name + " expects " + expected;
    return {};
}

}  // namespace

std::span<const Option> Options() noexcept { return kOptions; }

std::string ParseCommandLine(CommandSet command, std::span<const std::string> args,
                             CommandLine& out) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            if (std::string error = ParseOption(command, args, i, out); !error.empty())
                return error;
        } else {
            out.Files.push_back(arg);
        }
    }
    return {};
}

bool AsksForHelp(std::span<const std::string> args) {
    for (size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
        if (args[i] == "--help" || args[i] == "-h") return true;
        // "--name=value" names no option here, so it takes no next argument either.
        const Option* option = Find(args[i]);
        if (option != nullptr && !option->Placeholder.empty()) ++i;  // its value
    }
    return false;
}

std::string CheckMixFiles(const CommandLine& line) {
    if (line.Files.empty()) return "no FILE given";
    if (line.Files.size() > static_cast<size_t>(kMixSlots)) return "at most 8 files";
    const int32_t highestSlot = line.Mix.HighestSlot();
    if (highestSlot >= static_cast<int32_t>(line.Files.size()))
        return "slot " + std::to_string(highestSlot) + " holds no FILE";
    return {};
}

std::string OptionsUsage(CommandSet command) {
    // "      -o, --output OUT.wav     the WAV file to write": the text from column 31, or two
    // spaces after a longer name.
    constexpr size_t kIndent = 6;
    constexpr size_t kTextColumn = 31;
    std::string text;
    for (const Option& option : kOptions) {
        if ((option.Commands & command) == 0) continue;
        std::string line(kIndent, ' ');
        if (!option.Alias.empty()) line.append(option.Alias).append(", ");
        line += option.Name;
        if (!option.Placeholder.empty()) line.append(" ").append(option.Placeholder);
        line.resize(std::max(kTextColumn, line.size() + 2), ' ');
        for (const char c : option.Help) {
            line += c;
            if (c == '\n') line.append(kTextColumn, ' ');
        }
        text += line + '\n';
    }
    return text;
}

}  // namespace oggmix::cli
