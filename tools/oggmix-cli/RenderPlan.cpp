// RenderPlan.cpp: reading a plan line by line. A bad line throws LineError inside the reader,
// which turns it into "PATH:LINE: ..."; nothing of a bad plan reaches the player.
#include "tools/oggmix-cli/RenderPlan.h"

#include "base/Utf8Path.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <utility>

#include "base/PcmFormat.h"
#include "tools/oggmix-cli/MessageText.h"
#include "tools/oggmix-cli/OptionValues.h"

namespace oggmix::cli {
namespace {

constexpr double kTailSec = 5.0;  // rendered after the last call when nothing says how long

// The player's ranges (MusicPlayer.h), so that a plan it would refuse is refused here, before
// anything renders.
constexpr int64_t kMaxCueIndex = 15;
constexpr double kMaxVolume = 2.0;
constexpr double kMaxFadeSec = 3600.0;  // fades and cooldowns
constexpr double kMaxFadeBeats = 10000.0;
constexpr double kMaxBpm = 10000.0;         // exclusive
constexpr double kMicroBeatsPerBeat = 1e6;  // a tempo is kept to a millionth of a beat
constexpr int64_t kMaxBeatsPerBar = 64;
constexpr int64_t kMaxBars = 1024;
// Times, frames and seeks beyond this (some 700 years) are refused: far below where a frame
// count at any rate would overflow 64 bits.
constexpr int64_t kFarthestFrame = 1'000'000'000'000'000;

struct LineError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Refuse(const std::string& message) { throw LineError(message); }

// A token as messages quote it.
std::string Shown(std::string_view token) { return "'" + ShownToken(token) + "'"; }

// One word of a line, its quotes taken away.
struct Token {
    std::string Text;
    size_t Equals = std::string::npos;  // the first '=' outside quotes: key=value
};

// One line's arguments after its command: the words in order, then key=value options.
class LineArgs {
public:
    // The first wordCount tokens are words whatever they hold (a FILE may contain '='); with
    // moreWords, later tokens without '=' are words too. Every other token is an option, whose
    // key must be one of keys.
    LineArgs(std::string_view command, const std::vector<Token>& tokens, size_t wordCount,
             bool moreWords, std::initializer_list<std::string_view> keys)
        : FCommand(command) {
        for (size_t i = 0; i < tokens.size(); ++i) {
            const std::string_view token = tokens[i].Text;
            const size_t equals = tokens[i].Equals;
            if (i < wordCount || (moreWords && equals == std::string::npos)) {
                FWords.push_back(token);
                continue;
            }
            if (equals == std::string::npos) Refuse("unexpected argument " + Shown(token));
            const std::string_view key = token.substr(0, equals);
            if (std::find(keys.begin(), keys.end(), key) == keys.end())
                Refuse(ShownToken(key) + "= does not belong to " + Text(command));
            if (FOptions.contains(key)) Refuse(Text(key) + "= is given twice");
            FOptions.emplace(key, token.substr(equals + 1));
        }
        if (FWords.size() < wordCount)
            Refuse(Text(command) + " needs " + std::to_string(wordCount) + " argument(s)");
    }

    [[nodiscard]] std::string_view Word(size_t index) const { return FWords[index]; }
    [[nodiscard]] size_t WordCount() const noexcept { return FWords.size(); }
    [[nodiscard]] std::optional<std::string_view> Option(std::string_view key) const {
        const auto found = FOptions.find(key);
        if (found == FOptions.end()) return std::nullopt;
        return found->second;
    }
    [[nodiscard]] std::string_view Required(std::string_view key) const {
        const std::optional<std::string_view> value = Option(key);
        if (!value) Refuse(Text(FCommand) + " needs " + Text(key) + "=");
        return *value;
    }

    static std::string Text(std::string_view text) { return std::string(text); }

private:
    std::string_view FCommand;
    std::vector<std::string_view> FWords;
    std::map<std::string_view, std::string_view> FOptions;
};

// A value read with reader, or the line refused saying what it should have been.
template <class Reader>
auto Expect(Reader reader, std::string_view text, std::string_view what, std::string_view expected)
    -> std::remove_cvref_t<decltype(*reader(text))> {
    const auto value = reader(text);
    if (!value) {
        Refuse(std::string(what) + " expects " + std::string(expected) + ", not " + Shown(text));
    }
    return *value;
}

// A number from least to most.
double NumberOf(std::string_view text, std::string_view what, double least, double most,
                std::string_view expected) {
    const auto within = [least, most](std::string_view t) -> std::optional<double> {
        const std::optional<double> value = ParseDouble(t);
        return value && *value >= least && *value <= most ? value : std::nullopt;
    };
    return Expect(within, text, what, expected);
}

// A moment or a place in seconds: 0 or more, within the farthest frame.
double SecondsOf(std::string_view text, std::string_view what) {
    const double seconds = Expect(ParseSeconds, text, what, "seconds, 0 or more");
    // Rounded as a double first: a time past the 64-bit frame count has no llround.
    if (std::round(seconds * kFramesPerSecond) > static_cast<double>(kFarthestFrame))
        Refuse(std::string(what) + " is too far");
    return seconds;
}

// A fade's or a cooldown's length in seconds.
double DurationOf(std::string_view text, std::string_view what) {
    return NumberOf(text, what, 0.0, kMaxFadeSec, "seconds, 0 to 3600");
}

int64_t CountOf(std::string_view text, std::string_view what, int64_t least, int64_t most) {
    const auto within = [least, most](std::string_view t) -> std::optional<int64_t> {
        const std::optional<int64_t> value = ParseInteger(t);
        return value && *value >= least && *value <= most ? value : std::nullopt;
    };
    return Expect(within, text, what,
                  "a whole number from " + std::to_string(least) + " to " + std::to_string(most));
}

bool FlagOf(std::string_view text, std::string_view what) {
    if (text != "0" && text != "1") Refuse(std::string(what) + " expects 0 or 1");
    return text == "1";
}

// One of the words, as its value.
template <class Value>
Value OneOf(std::string_view text, std::string_view what,
            std::initializer_list<std::pair<std::string_view, Value>> choices) {
    for (const auto& [word, value] : choices)
        if (word == text) return value;
    std::string expected;
    for (const auto& choice : choices)
        expected += (expected.empty() ? "" : "|") + std::string(choice.first);
    Refuse(std::string(what) + " expects " + expected + ", not " + Shown(text));
}

// "S" seconds or "Nbeats" of the grid's tempo.
FadeLength FadeLengthOf(std::string_view text) {
    constexpr std::string_view kBeats = "beats";
    if (text.ends_with(kBeats)) {
        const std::optional<double> beats =
            ParseDouble(text.substr(0, text.size() - kBeats.size()));
        if (beats && *beats > 0.0 && *beats <= kMaxFadeBeats) return {.Beats = *beats};
    }
    const auto seconds = [](std::string_view t) -> std::optional<double> {
        const std::optional<double> value = ParseSeconds(t);
        return value && *value <= kMaxFadeSec ? value : std::nullopt;
    };
    return {.Seconds = Expect(seconds, text, "fade=", "S (0 to 3600) or Nbeats (up to 10000)")};
}

// when= for a transition: now|beat|bar|bars:N|loopend|end.
void TransitionWhen(std::string_view text, TransitionOptions& options) {
    constexpr std::string_view kBars = "bars:";
    if (text.starts_with(kBars)) {
        options.When = Quantize::Bars;
        options.Bars =
            static_cast<int32_t>(CountOf(text.substr(kBars.size()), "when=bars:", 1, kMaxBars));
        return;
    }
    options.When = OneOf<Quantize>(text, "when=",
                                   {{"now", Quantize::Now},
                                    {"beat", Quantize::Beat},
                                    {"bar", Quantize::Bar},
                                    {"loopend", Quantize::LoopEnd},
                                    {"end", Quantize::End}});
}

// to= for a transition: start|same|samebeat|cue:N.
void TransitionEntry(std::string_view text, TransitionOptions& options) {
    using Entry = TransitionOptions::Entry;
    constexpr std::string_view kCue = "cue:";
    if (text.starts_with(kCue)) {
        options.StartAt = Entry::Cue;
        options.CueIndex =
            static_cast<int32_t>(CountOf(text.substr(kCue.size()), "to=cue:", 0, kMaxCueIndex));
        return;
    }
    options.StartAt = OneOf<Entry>(
        text,
        "to=", {{"start", Entry::Start}, {"same", Entry::Same}, {"samebeat", Entry::SameBeat}});
}

// Reads one line's command into step, knowing the names defined so far: a track or a group,
// and which group a track is a layer of.
class StepReader {
public:
    StepReader(const std::filesystem::path& planFolder, const MusicSet* set)
        : FFolder(planFolder), FSet(set) {
        if (set != nullptr)
            for (const SetTrack& track : set->Tracks) FGroupOf[track.Name] = {};
    }

    PlanAction Read(std::string_view command, const std::vector<Token>& tokens) {
        if (command == "load") return Load(LineArgs(command, tokens, 2, false, {}));
        if (command == "tempo") return TempoOf(LineArgs(command, tokens, 4, false, {}));
        if (command == "layer") return Layer(LineArgs(command, tokens, 2, true, {}));
        if (command == "play")
            return Play(LineArgs(command, tokens, 1, false, {"loop", "fade", "at"}));
        if (command == "transition") {
            return Transition(LineArgs(command, tokens, 2, false,
                                       {"when", "to", "fade", "fadekind", "shape", "via", "loop"}));
        }
        if (command == "volume")
            return Volume(LineArgs(command, tokens, 2, false, {"fade", "when"}));
        if (command == "state" || command == "param") return SetCall(command, tokens);
        if (command == "stinger") {
            if (FSet != nullptr && tokens.size() == 1 && FSet->FindStinger(tokens[0].Text))
                return SetStingerStep{tokens[0].Text};
            return Stinger(
                LineArgs(command, tokens, 1, false, {"grid", "when", "pickup", "cooldown"}));
        }
        if (command == "stop") {
            const LineArgs args(command, tokens, 1, false, {"fade"});
            const std::optional<std::string_view> fade = args.Option("fade");
            return StopStep{Known(args.Word(0)), fade ? DurationOf(*fade, "fade=") : 0.0};
        }
        if (command == "pause" || command == "resume") {
            const LineArgs args(command, tokens, 1, false, {});
            return PauseStep{Known(args.Word(0)), command == "resume"};
        }
        if (command == "seek") {
            const LineArgs args(command, tokens, 2, false, {});
            return SeekStep{Known(args.Word(0)), SecondsOf(args.Word(1), "seek")};
        }
        Refuse("unknown command " + Shown(command));
    }

private:
    bool IsName(const std::string& name) const {
        return FGroups.contains(name) || FGroupOf.contains(name);
    }
    std::string Known(std::string_view name) const {
        std::string text(name);
        if (!IsName(text)) Refuse("unknown name " + Shown(name));
        return text;
    }
    // A name that stands for one track, not a group.
    std::string KnownTrack(std::string_view name, std::string_view role) const {
        std::string text = Known(name);
        if (FGroups.contains(text))
            Refuse(std::string(role) + " must be a track, not the group " + Shown(name));
        return text;
    }
    // The track a name leads with: itself, or a group's first layer.
    const std::string& Lead(const std::string& name) const {
        const auto group = FGroups.find(name);
        return group == FGroups.end() ? name : group->second.front();
    }
    std::string Defined(std::string_view name) const {
        std::string text(name);
        if (IsName(text)) Refuse(Shown(name) + " is already a name");
        return text;
    }

    PlanAction Load(const LineArgs& args) {
        const std::filesystem::path file = PathFromUtf8(args.Word(1));
        LoadStep step{Defined(args.Word(0)),
                      Utf8FromPath(file.is_absolute() ? file : FFolder / file)};
        FGroupOf.emplace(step.Name, std::string());
        return step;
    }

    PlanAction TempoOf(const LineArgs& args) {
        Tempo grid;
        grid.Bpm = Expect(ParseDouble, args.Word(1), "tempo", "BPM BEATS_PER_BAR FIRST_BEAT_FRAME");
        if (!(grid.Bpm > 0.0 && grid.Bpm < kMaxBpm) ||
            std::llround(grid.Bpm * kMicroBeatsPerBeat) <= 0)
            Refuse("tempo expects a BPM above 0 and below 10000");
        grid.BeatsPerBar =
            static_cast<int32_t>(CountOf(args.Word(2), "BEATS_PER_BAR", 1, kMaxBeatsPerBar));
        grid.FirstBeatFrame = CountOf(args.Word(3), "FIRST_BEAT_FRAME", 0, kFarthestFrame);
        return TempoStep{Known(args.Word(0)), grid};
    }

    PlanAction Layer(const LineArgs& args) {
        LayerStep step;
        for (size_t i = 1; i < args.WordCount(); ++i) {
            std::string layer = KnownTrack(args.Word(i), "a layer");
            if (std::find(step.Layers.begin(), step.Layers.end(), layer) != step.Layers.end())
                Refuse(Shown(layer) + " is named twice");
            if (!FGroupOf.at(layer).empty())
                Refuse(Shown(layer) + " is a layer of the group " + Shown(FGroupOf.at(layer)));
            step.Layers.push_back(std::move(layer));
        }
        step.Group = Defined(args.Word(0));
        for (const std::string& layer : step.Layers) FGroupOf[layer] = step.Group;
        FGroups.emplace(step.Group, step.Layers);
        return step;
    }

    PlanAction Play(const LineArgs& args) {
        PlayStep step{Known(args.Word(0)), {}, std::nullopt};
        if (const auto loop = args.Option("loop")) step.Options.Loop = FlagOf(*loop, "loop=");
        if (const auto fade = args.Option("fade"))
            step.Options.FadeInSec = DurationOf(*fade, "fade=");
        if (const auto at = args.Option("at"))
            step.AtFrame = CountOf(*at, "at=", 0, kFarthestFrame);
        return step;
    }

    PlanAction Transition(const LineArgs& args) {
        using Fade = TransitionOptions::Fade;
        TransitionStep step{Known(args.Word(0)), Known(args.Word(1)), {}, {}};
        if (step.From == step.To)
            Refuse("a transition needs two tracks; both are " + Shown(step.From));
        TransitionOptions& options = step.Options;
        TransitionWhen(args.Required("when"), options);
        if (const auto to = args.Option("to")) TransitionEntry(*to, options);
        const auto fade = args.Option("fade");
        const auto kind = args.Option("fadekind");
        if (kind && !fade) Refuse("fadekind= needs fade=");
        if (fade) {
            options.Length = FadeLengthOf(*fade);
            options.FadeKind =
                kind ? OneOf<Fade>(*kind, "fadekind=",
                                   {{"cross", Fade::Cross}, {"in", Fade::In}, {"out", Fade::Out}})
                     : Fade::Cross;
        }
        if (const auto shape = args.Option("shape")) {
            options.Shape = OneOf<FadeShape>(*shape, "shape=",
                                             {{"linear", FadeShape::Linear},
                                              {"power", FadeShape::EqualPower},
                                              {"scurve", FadeShape::SCurve}});
        }
        if (const auto via = args.Option("via")) {
            step.Via = KnownTrack(*via, "via=");
            if (step.Via == Lead(step.From) || step.Via == Lead(step.To))
                Refuse("via= must name a third track, not " + Shown(step.Via));
        }
        if (const auto loop = args.Option("loop")) options.Loop = FlagOf(*loop, "loop=");
        return step;
    }

    PlanAction Volume(const LineArgs& args) {
        VolumeStep step{Known(args.Word(0)), 0.0, {}};
        step.Volume = NumberOf(args.Word(1), "volume", 0.0, kMaxVolume, "a number from 0 to 2");
        if (const auto fade = args.Option("fade")) step.Change.Length = FadeLengthOf(*fade);
        if (const auto when = args.Option("when")) {
            step.Change.When = OneOf<Quantize>(
                *when, "when=",
                {{"now", Quantize::Now}, {"beat", Quantize::Beat}, {"bar", Quantize::Bar}});
        }
        return step;
    }

    PlanAction Stinger(const LineArgs& args) {
        StingerStep step{KnownTrack(args.Word(0), "a stinger"), Known(args.Required("grid")), {}};
        if (Lead(step.Grid) == step.Name)
            Refuse("a stinger lands on another track's grid, not its own");
        step.Options.When = OneOf<Quantize>(
            args.Required("when"), "when=", {{"beat", Quantize::Beat}, {"bar", Quantize::Bar}});
        if (const auto pickup = args.Option("pickup"))
            step.Options.PickupFrames = CountOf(*pickup, "pickup=", 0, kFarthestFrame);
        if (const auto cooldown = args.Option("cooldown"))
            step.Options.CooldownSec = DurationOf(*cooldown, "cooldown=");
        return step;
    }

    PlanAction SetCall(std::string_view command, const std::vector<Token>& tokens) {
        if (FSet == nullptr) Refuse(LineArgs::Text(command) + " needs a music set (--set)");
        if (command == "state") {
            const LineArgs args(command, tokens, 1, false, {});
            if (FSet->FindState(std::string(args.Word(0))) == nullptr)
                Refuse("the set has no state " + Shown(args.Word(0)));
            return SetStateStep{std::string(args.Word(0))};
        }
        const LineArgs args(command, tokens, 2, false, {"fade"});
        const SetParameter* parameter = FSet->FindParameter(std::string(args.Word(0)));
        if (parameter == nullptr) Refuse("the set has no parameter " + Shown(args.Word(0)));
        SetParamStep step{parameter->Name, 0.0, 0.0};
        step.Value = NumberOf(args.Word(1), "param", parameter->Min, parameter->Max,
                              "a value within the parameter's range");
        if (const auto fade = args.Option("fade")) step.FadeSec = DurationOf(*fade, "fade=");
        return step;
    }

    std::filesystem::path FFolder;
    const MusicSet* FSet;
    std::map<std::string, std::vector<std::string>> FGroups;  // a group's layers
    std::map<std::string, std::string> FGroupOf;              // a track's group, empty for none
};

// The line's tokens, up to its comment. A '"' opens a quoted stretch, closed by the next '"',
// in which blanks, '#' and '=' are text, and \" and \\ stand for " and \. A '#' starting a
// token (at the line's start or after a blank, outside quotes) starts a comment: elsewhere it
// is text, so that a file may be "take#2.ogg".
std::vector<Token> Tokens(std::string_view line) {
    constexpr std::string_view kBlank = " \t\r";
    std::vector<Token> tokens;
    for (size_t at = line.find_first_not_of(kBlank);
         at != std::string_view::npos && line[at] != '#'; at = line.find_first_not_of(kBlank, at)) {
        Token token;
        while (at < line.size() && kBlank.find(line[at]) == std::string_view::npos) {
            const char c = line[at++];
            if (c != '"') {
                if (c == '=' && token.Equals == std::string::npos) token.Equals = token.Text.size();
                token.Text += c;
                continue;
            }
            for (;; ++at) {
                if (at == line.size()) Refuse("a quote is not closed");
                if (line[at] == '"') break;
                if (line[at] == '\\' && at + 1 < line.size() &&
                    (line[at + 1] == '"' || line[at + 1] == '\\'))
                    ++at;
                token.Text += line[at];
            }
            ++at;  // the closing quote
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

}  // namespace

int64_t RenderPlan::LengthFrames(std::optional<double> seconds) const {
    if (EndFrame) return *EndFrame;
    if (seconds) return std::llround(*seconds * kFramesPerSecond);
    const int64_t last = Steps.empty() ? 0 : Steps.back().Frame;
    return last + std::llround(kTailSec * kFramesPerSecond);
}

PlanProblem ReadRenderPlan(const std::string& path, RenderPlan& out, std::optional<MusicSet> set) {
    std::ifstream file(PathFromUtf8(path));
    if (!file) return {Printable(path) + ": cannot read the plan", false};
    out = RenderPlan{path, {}, std::nullopt, std::move(set)};
    StepReader reader(PathFromUtf8(path).parent_path(), out.Set ? &*out.Set : nullptr);
    int64_t lastFrame = 0;
    std::string line;
    for (int32_t number = 1; std::getline(file, line); ++number) {
        try {
            const std::vector<Token> tokens = Tokens(line);
            if (tokens.empty()) continue;
            if (out.EndFrame) Refuse("nothing may follow the end line");
            if (tokens.size() < 2) Refuse("expects SECONDS COMMAND ARGS...");
            const int64_t frame =
                std::llround(SecondsOf(tokens[0].Text, "the time") * kFramesPerSecond);
            if (frame < lastFrame) Refuse("the time goes back");
            lastFrame = frame;
            const std::vector<Token> rest(tokens.begin() + 2, tokens.end());
            if (tokens[1].Text == "end") {
                if (!rest.empty()) Refuse("end takes no argument");
                out.EndFrame = frame;
                continue;
            }
            out.Steps.push_back({number, frame, reader.Read(tokens[1].Text, rest)});
        } catch (const LineError& error) {
            return {Printable(path) + ":" + std::to_string(number) + ": " + error.what(), true};
        }
    }
    return {};
}

}  // namespace oggmix::cli
