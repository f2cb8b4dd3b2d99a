// CheckCommand.cpp: `oggmix-cli check SET.json`: reads and checks a music set with its tracks'
// files, and prints its tracks, parameters, states, rules (and which rule each change between
// two states follows) and stingers; or every problem, up to kShownProblems.
#include <cstdio>
#include <string>

#include "oggmix/MusicSet.h"
#include "tools/oggmix-cli/Command.h"
#include "tools/oggmix-cli/CommandLine.h"

namespace oggmix::cli {
namespace {

constexpr size_t kShownProblems = 20;

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string Seconds(int64_t frames, int32_t rateHz) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s",
                  rateHz > 0 ? static_cast<double>(frames) / rateHz : 0.0);
    return text;
}

std::string Control(const SetControl& control) {
    if (!control.Curve) return Number(control.Value);
    std::string text = "by " + control.Curve->Parameter + " [";
    for (size_t i = 0; i < control.Curve->Points.size(); ++i) {
        const auto& [x, y] = control.Curve->Points[i];
        text += (i ? " " : "") + Number(x) + ":" + Number(y);
    }
    return text + "]";
}

std::string Layer(const SetLayer& layer) {
    static const char* const kPresets[] = {"off",       "low_pass",   "high_pass",   "low_reso",
                                           "high_reso", "lo_hi_pass", "middle_reso", "wave"};
    std::string text = layer.Track;
    if (layer.LoopBars > 0) text += ", every " + std::to_string(layer.LoopBars) + " bars";
    if (layer.StartBar > 0) text += ", from bar " + std::to_string(layer.StartBar);
    if (layer.Volume.Curve || layer.Volume.Value != 1.0)
        text += ", volume " + Control(layer.Volume);
    if (layer.Pan.Curve || layer.Pan.Value != 0.0) text += ", pan " + Control(layer.Pan);
    if (layer.Filter.Preset != ToneFilter::Off) {
        text += std::string(", tone ") + kPresets[static_cast<int>(layer.Filter.Preset)];
        if (layer.Filter.Mix) text += " mixed " + Control({0.0, layer.Filter.Mix});
    }
    return text;
}

std::string When(const SetWhen& when) {
    switch (when.Point) {
        case SetWhen::Kind::Now: return "at once";
        case SetWhen::Kind::Beat: return "on the beat";
        case SetWhen::Kind::Bar: return "on the bar";
        case SetWhen::Kind::Bars: return "on every " + std::to_string(when.Bars) + " bars";
        case SetWhen::Kind::LoopEnd: return "at the loop's end";
        case SetWhen::Kind::End: return "at the end";
        case SetWhen::Kind::Marker: return "on the next marker";
        case SetWhen::Kind::NamedMarker: return "on marker " + when.Marker;
    }
    return {};
}

std::string Rule(const SetTransition& rule) {
    static const char* const kFades[] = {"cut", "fade in", "fade out", "cross-fade"};
    static const char* const kShapes[] = {"linear", "equal_power", "s_curve"};
    std::string text = rule.From + " -> " + rule.To + ": " + When(rule.When);
    if (!rule.ViaTrack.empty()) text += ", via track " + rule.ViaTrack;
    if (!rule.ViaState.empty()) text += ", via state " + rule.ViaState;
    text += std::string(", ") + kFades[static_cast<int>(rule.FadeKind)];
    if (rule.FadeKind != TransitionOptions::Fade::None)
        text += " " +
                (rule.Length.Beats > 0.0 ? Number(rule.Length.Beats) + " beats"
                                         : Number(rule.Length.Seconds) + " s") +
                " " + kShapes[static_cast<int>(rule.Shape)];
    switch (rule.Entry.At) {
        case SetEntry::Kind::Start: break;
        case SetEntry::Kind::Same: text += ", entering at the same position"; break;
        case SetEntry::Kind::SameBeat: text += ", entering on the same beat"; break;
        case SetEntry::Kind::Cue:
            text += ", entering at cue " + std::to_string(rule.Entry.CueIndex);
            break;
        case SetEntry::Kind::Marker: text += ", entering at marker " + rule.Entry.Marker; break;
    }
    return text;
}

void Print(const MusicSet& set) {
    static const char* const kOrders[] = {"sequence", "shuffle", "random"};
    static const char* const kWhens[] = {"at once", "on the beat", "on the bar"};
    std::printf("Set: %s\n\nTracks:\n", set.Path.c_str());
    for (const SetTrack& track : set.Tracks) {
        std::printf("  %s: %s, %d Hz, %s", track.Name.c_str(), track.Path.c_str(), track.RateHz,
                    Seconds(track.LengthFrames, track.RateHz).c_str());
        if (track.Grid.Bpm > 0.0)
            std::printf(", %s bpm, %d beats a bar from frame %lld", Number(track.Grid.Bpm).c_str(),
                        track.Grid.BeatsPerBar, static_cast<long long>(track.Grid.FirstBeatFrame));
        for (const SetMarker& marker : track.Markers)
            std::printf(", marker %s at %lld", marker.Name.c_str(),
                        static_cast<long long>(marker.Frame));
        std::printf("\n");
    }
    std::printf("\nParameters:\n");
    for (const SetParameter& parameter : set.Parameters)
        std::printf("  %s: %s .. %s, default %s\n", parameter.Name.c_str(),
                    Number(parameter.Min).c_str(), Number(parameter.Max).c_str(),
                    Number(parameter.Default).c_str());
    std::printf("\nStates:\n");
    for (size_t i = 0; i < set.States.size(); ++i) {
        const SetState& state = set.States[i];
        std::string plays;
        if (state.Plays == SetState::Kind::Track) plays = "track " + state.Track;
        if (state.Plays == SetState::Kind::Layers)
            for (const SetLayer& layer : state.Layers)
                plays += (plays.empty() ? "layers " : "; ") + Layer(layer);
        if (state.Plays == SetState::Kind::Playlist) {
            for (const std::string& item : state.Playlist.Items)
                plays += (plays.empty() ? "playlist " : ", ") + item;
            plays += std::string(" (") + kOrders[static_cast<int>(state.Playlist.Order)] +
                     (state.Playlist.JoinOnBar ? ", joined on the bar)" : ", gapless)");
        }
        std::printf("  %zu %s: %s%s\n", i + 1, state.Name.c_str(), plays.c_str(),
                    state.Name == set.InitialState ? " (initial)" : "");
    }
    std::printf("\nRules (the most specific applies; among equals the later):\n");
    for (size_t i = 0; i < set.Transitions.size(); ++i)
        std::printf("  %zu %s\n", i + 1, Rule(set.Transitions[i]).c_str());
    std::printf("\nChanges:\n");
    for (const SetState& from : set.States)
        for (const SetState& to : set.States) {
            if (&from == &to) continue;
            const SetTransition* rule = set.RuleFor(from.Name, to.Name);
            std::printf("  %s -> %s: %s\n", from.Name.c_str(), to.Name.c_str(),
                        rule ? ("rule " + std::to_string(rule - set.Transitions.data() + 1)).c_str()
                             : "no rule: a cut on the next bar");
        }
    std::printf("\nStingers:\n");
    for (const SetStinger& stinger : set.Stingers)
        std::printf(
            "  %s: track %s %s, pickup %s s, duck %s dB (attack %s s, release %s s), "
            "cooldown %s s\n",
            stinger.Name.c_str(), stinger.Track.c_str(), kWhens[static_cast<int>(stinger.When)],
            Number(stinger.PickupSec).c_str(), Number(stinger.DuckDb).c_str(),
            Number(stinger.DuckAttackSec).c_str(), Number(stinger.DuckReleaseSec).c_str(),
            Number(stinger.CooldownSec).c_str());
}

int Run(std::span<const std::string> args) {
    CommandLine line;
    if (const std::string error = ParseCommandLine(kCheck, args, line); !error.empty())
        return UsageError("check", error);
    if (line.Files.size() != 1) return UsageError("check", "give one SET.json");
    try {
        Print(LoadSet(line.Files.front()));
        return kExitOk;
    } catch (const MusicSetError& e) {
        const std::vector<std::string>& problems = e.Problems();
        for (size_t i = 0; i < problems.size() && i < kShownProblems; ++i)
            std::fprintf(stderr, "%s\n", problems[i].c_str());
        if (problems.size() > kShownProblems)
            std::fprintf(stderr, "... and %zu more problems\n", problems.size() - kShownProblems);
        return kExitUsage;
    } catch (const MusicError& e) {
        std::fprintf(stderr, "oggmix-cli: %s\n", e.what());
        return kExitFailure;
    }
}

const bool kRegistered = RegisterCommand(
    {"check", kCheck, "oggmix-cli check SET.json",
     "reads a music set and loads its tracks; prints its tracks, parameters, states, rules\n"
     "and stingers, or every problem (up to 20) and exits 2",
     Run, nullptr});

}  // namespace
}  // namespace oggmix::cli
