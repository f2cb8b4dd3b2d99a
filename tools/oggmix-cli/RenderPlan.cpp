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
#include <set>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <utility>

#include "base/PcmFormat.h"
#include "tools/oggmix-cli/OptionValues.h"

namespace oggmix::cli {
namespace {

constexpr double kTailSec = 5.0;  // rendered after the last call when nothing says how long
constexpr int32_t kMaxCueIndex = 15;

struct LineError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Refuse(const std::string& message) { throw LineError(message); }

// One line's arguments after its command: the words in order, then key=value options.
class LineArgs {
public:
    // The first wordCount tokens are words whatever they hold (a FILE may contain '='); with
    // moreWords, later tokens without '=' are words too. Every other token is an option, whose
    // key must be one of keys.
    LineArgs(std::string_view command, const std::vector<std::string_view>& tokens,
             size_t wordCount, bool moreWords, std::initializer_list<std::string_view> keys)
        : FCommand(command) {
        for (size_t i = 0; i < tokens.size(); ++i) {
            const std::string_view token = tokens[i];
            const size_t equals = token.find('=');
            if (i < wordCount || (moreWords && equals == std::string_view::npos)) {
                FWords.push_back(token);
                continue;
            }
            if (equals == std::string_view::npos)
                Refuse("unexpected argument '" + Text(token) + "'");
            const std::string_view key = token.substr(0, equals);
            if (std::find(keys.begin(), keys.end(), key) == keys.end())
                Refuse(Text(key) + "= does not belong to " + Text(command));
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
        Refuse(std::string(what) + " expects " + std::string(expected) + ", not '" +
               std::string(text) + "'");
    }
    return *value;
}

double SecondsOf(std::string_view text, std::string_view what) {
    return Expect(ParseSeconds, text, what, "seconds, 0 or more");
}

int64_t CountOf(std::string_view text, std::string_view what, int64_t least) {
    const auto atLeast = [least](std::string_view t) -> std::optional<int64_t> {
        const std::optional<int64_t> value = ParseInteger(t);
        return value && *value >= least ? value : std::nullopt;
    };
    return Expect(atLeast, text, what, "a whole number from " + std::to_string(least));
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
    Refuse(std::string(what) + " expects " + expected + ", not '" + std::string(text) + "'");
}

// "S" seconds or "Nbeats" of the grid's tempo.
FadeLength FadeLengthOf(std::string_view text) {
    constexpr std::string_view kBeats = "beats";
    if (text.ends_with(kBeats)) {
        const std::optional<double> beats =
            ParseDouble(text.substr(0, text.size() - kBeats.size()));
        if (beats && *beats > 0.0) return {.Beats = *beats};
    }
    return {.Seconds = Expect(ParseSeconds, text, "fade=", "S or Nbeats")};
}

// when= for a transition: now|beat|bar|bars:N|loopend|end.
void TransitionWhen(std::string_view text, TransitionOptions& options) {
    constexpr std::string_view kBars = "bars:";
    if (text.starts_with(kBars)) {
        options.When = Quantize::Bars;
        options.Bars = static_cast<int32_t>(
            std::min<int64_t>(CountOf(text.substr(kBars.size()), "when=bars:", 1), INT32_MAX));
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
        const int64_t index = CountOf(text.substr(kCue.size()), "to=cue:", 0);
        if (index > kMaxCueIndex) Refuse("to=cue: expects a cue index from 0 to 15");
        options.CueIndex = static_cast<int32_t>(index);
        return;
    }
    options.StartAt = OneOf<Entry>(
        text,
        "to=", {{"start", Entry::Start}, {"same", Entry::Same}, {"samebeat", Entry::SameBeat}});
}

// Reads one line's command into step. names holds the names defined so far.
class StepReader {
public:
    StepReader(const std::filesystem::path& planFolder, std::set<std::string>& names)
        : FFolder(planFolder), FNames(names) {}

    PlanAction Read(std::string_view command, const std::vector<std::string_view>& tokens) {
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
        if (command == "stinger") {
            return Stinger(
                LineArgs(command, tokens, 1, false, {"grid", "when", "pickup", "cooldown"}));
        }
        if (command == "stop") {
            const LineArgs args(command, tokens, 1, false, {"fade"});
            const std::optional<std::string_view> fade = args.Option("fade");
            return StopStep{Known(args.Word(0)), fade ? SecondsOf(*fade, "fade=") : 0.0};
        }
        if (command == "pause" || command == "resume") {
            const LineArgs args(command, tokens, 1, false, {});
            return PauseStep{Known(args.Word(0)), command == "resume"};
        }
        if (command == "seek") {
            const LineArgs args(command, tokens, 2, false, {});
            return SeekStep{Known(args.Word(0)), SecondsOf(args.Word(1), "seek")};
        }
        Refuse("unknown command '" + std::string(command) + "'");
    }

private:
    std::string Known(std::string_view name) const {
        std::string text(name);
        if (!FNames.contains(text)) Refuse("unknown name '" + text + "'");
        return text;
    }
    std::string Defined(std::string_view name) {
        std::string text(name);
        if (!FNames.insert(text).second) Refuse("'" + text + "' is already a name");
        return text;
    }
    PlanAction Load(const LineArgs& args) {
        const std::filesystem::path file = PathFromUtf8(args.Word(1));
        return LoadStep{Defined(args.Word(0)),
                        Utf8FromPath(file.is_absolute() ? file : FFolder / file)};
    }

    PlanAction TempoOf(const LineArgs& args) {
        Tempo grid;
        grid.Bpm = Expect(ParseDouble, args.Word(1), "tempo", "BPM BEATS_PER_BAR FIRST_BEAT_FRAME");
        if (grid.Bpm <= 0.0) Refuse("tempo expects a BPM above 0");
        grid.BeatsPerBar = static_cast<int32_t>(
            std::min<int64_t>(CountOf(args.Word(2), "BEATS_PER_BAR", 1), INT32_MAX));
        grid.FirstBeatFrame = CountOf(args.Word(3), "FIRST_BEAT_FRAME", 0);
        return TempoStep{Known(args.Word(0)), grid};
    }

    PlanAction Layer(const LineArgs& args) {
        LayerStep step;
        for (size_t i = 1; i < args.WordCount(); ++i) step.Layers.push_back(Known(args.Word(i)));
        step.Group = Defined(args.Word(0));
        return step;
    }

    PlanAction Play(const LineArgs& args) {
        PlayStep step{Known(args.Word(0)), {}, std::nullopt};
        if (const auto loop = args.Option("loop")) step.Options.Loop = FlagOf(*loop, "loop=");
        if (const auto fade = args.Option("fade"))
            step.Options.FadeInSec = SecondsOf(*fade, "fade=");
        if (const auto at = args.Option("at")) step.AtFrame = CountOf(*at, "at=", 0);
        return step;
    }

    PlanAction Transition(const LineArgs& args) {
        using Fade = TransitionOptions::Fade;
        TransitionStep step{Known(args.Word(0)), Known(args.Word(1)), {}, {}};
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
        if (const auto via = args.Option("via")) step.Via = Known(*via);
        if (const auto loop = args.Option("loop")) options.Loop = FlagOf(*loop, "loop=");
        return step;
    }

    PlanAction Volume(const LineArgs& args) {
        VolumeStep step{Known(args.Word(0)), 0.0, {}};
        step.Volume = Expect(ParseDouble, args.Word(1), "volume", "a number");
        if (const auto fade = args.Option("fade")) step.Change.Length = FadeLengthOf(*fade);
        if (const auto when = args.Option("when")) {
            step.Change.When = OneOf<Quantize>(
                *when, "when=",
                {{"now", Quantize::Now}, {"beat", Quantize::Beat}, {"bar", Quantize::Bar}});
        }
        return step;
    }

    PlanAction Stinger(const LineArgs& args) {
        StingerStep step{Known(args.Word(0)), Known(args.Required("grid")), {}};
        step.Options.When = OneOf<Quantize>(
            args.Required("when"), "when=", {{"beat", Quantize::Beat}, {"bar", Quantize::Bar}});
        if (const auto pickup = args.Option("pickup"))
            step.Options.PickupFrames = CountOf(*pickup, "pickup=", 0);
        if (const auto cooldown = args.Option("cooldown"))
            step.Options.CooldownSec = SecondsOf(*cooldown, "cooldown=");
        return step;
    }

    std::filesystem::path FFolder;
    std::set<std::string>& FNames;
};

// The line's tokens, without its comment.
std::vector<std::string_view> Tokens(std::string_view line) {
    line = line.substr(0, line.find('#'));
    std::vector<std::string_view> tokens;
    constexpr std::string_view kSpace = " \t\r";
    for (size_t start = line.find_first_not_of(kSpace); start != std::string_view::npos;) {
        const size_t stop = std::min(line.find_first_of(kSpace, start), line.size());
        tokens.push_back(line.substr(start, stop - start));
        start = line.find_first_not_of(kSpace, stop);
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

PlanProblem ReadRenderPlan(const std::string& path, RenderPlan& out) {
    std::ifstream file(PathFromUtf8(path));
    if (!file) return {path + ": cannot read the plan", false};
    out = RenderPlan{path, {}, std::nullopt};
    std::set<std::string> names;
    StepReader reader(PathFromUtf8(path).parent_path(), names);
    int64_t lastFrame = 0;
    std::string line;
    for (int32_t number = 1; std::getline(file, line); ++number) {
        try {
            const std::vector<std::string_view> tokens = Tokens(line);
            if (tokens.empty()) continue;
            if (out.EndFrame) Refuse("nothing may follow the end line");
            if (tokens.size() < 2) Refuse("expects SECONDS COMMAND ARGS...");
            const double seconds = SecondsOf(tokens[0], "the time");
            // Rounded as a double first: a time past the 64-bit frame count has no llround.
            if (std::round(seconds * kFramesPerSecond) > 1e15) Refuse("the time is too far");
            const int64_t frame = std::llround(seconds * kFramesPerSecond);
            if (frame < lastFrame) Refuse("the time goes back");
            lastFrame = frame;
            const std::vector<std::string_view> rest(tokens.begin() + 2, tokens.end());
            if (tokens[1] == "end") {
                if (!rest.empty()) Refuse("end takes no argument");
                out.EndFrame = frame;
                continue;
            }
            out.Steps.push_back({number, frame, reader.Read(tokens[1], rest)});
        } catch (const LineError& error) {
            return {path + ":" + std::to_string(number) + ": " + error.what(), true};
        }
    }
    return {};
}

}  // namespace oggmix::cli
