// SetReader_Rules.cpp: the transition rules (when, fade, entry, bridge) and the grids they need,
// cycles of bridges, the stingers and the initial state.
#include <algorithm>
#include <charconv>

#include "music/set/SetReader_Internal.h"

namespace oggmix::music {
namespace {

constexpr int64_t kMaxBars = 1024;
constexpr int64_t kMaxCueIndex = 15;
constexpr double kMaxFadeSec = 600.0;
constexpr double kMaxFadeBeats = 1024.0;

// "bars:4" -> "4" when Text begins with Prefix; none otherwise.
std::optional<std::string_view> After(std::string_view Text, std::string_view Prefix) {
    if (!Text.starts_with(Prefix)) return std::nullopt;
    return Text.substr(Prefix.size());
}

std::optional<int64_t> WholeNumber(std::string_view Text) {
    int64_t number = 0;
    const auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), number);
    if (error != std::errc() || end != Text.data() + Text.size() || Text.empty())
        return std::nullopt;
    return number;
}

bool HasMarker(const SetTrack& Track, const std::string& Name) {
    return std::any_of(Track.Markers.begin(), Track.Markers.end(),
                       [&](const SetMarker& marker) { return marker.Name == Name; });
}

}  // namespace

std::vector<const SetTrack*> SetReader::GridTracks(const std::string& State) const {
    const SetState* state = FSet.FindState(State);
    std::vector<std::string> names;
    if (state == nullptr) return {};
    switch (state->Plays) {
        case SetState::Kind::Track: names = {state->Track}; break;
        case SetState::Kind::Layers:
            if (!state->Layers.empty()) names = {state->Layers.front().Track};
            break;
        case SetState::Kind::Playlist: names = state->Playlist.Items; break;
    }
    std::vector<const SetTrack*> tracks;
    for (const std::string& name : names)
        if (Loaded(name)) tracks.push_back(FSet.FindTrack(name));
    return tracks;
}

void SetReader::ReadTransitions(const Json::Value& Transitions) {
    if (!Transitions.isArray()) {
        Fail(Transitions, "transitions", "expects an array of rules, not " + TypeName(Transitions));
        return;
    }
    for (Json::ArrayIndex i = 0; i < Transitions.size(); ++i) {
        const Json::Value& value = Transitions[i];
        const std::string path = Child("transitions", i);
        if (!ObjectOf(value, path,
                      {"from", "to", "when", "fade", "fade_seconds", "fade_beats", "shape", "entry",
                       "via"}))
            continue;
        SetTransition rule;
        bool named = true;
        for (const auto& [key, into] : {std::pair{"from", &rule.From}, std::pair{"to", &rule.To}}) {
            const Json::Value* state = Required(value, path, key);
            const std::optional<std::string> name =
                state ? Text(*state, Child(path, key)) : std::nullopt;
            const bool known =
                name && (*name == kAnyState || Names(*state, Child(path, key), *name, "state",
                                                     FSet.FindState(*name) != nullptr));
            named = named && known;
            if (name) *into = *name;
        }
        if (const Json::Value* when = Optional(value, "when")) {
            if (auto point = ReadWhen(*when, Child(path, "when"))) rule.When = std::move(*point);
        }
        ReadFade(value, path, rule);
        if (const Json::Value* entry = Optional(value, "entry")) {
            if (auto at = ReadEntry(*entry, Child(path, "entry"))) rule.Entry = std::move(*at);
        }
        const Json::Value* via = Optional(value, "via");
        if (via != nullptr) ReadVia(*via, Child(path, "via"), rule);
        if (named) CheckGridNeeds(rule, value, path);
        FSet.Transitions.push_back(std::move(rule));
        FViaValues.push_back(via);
    }
}

std::optional<SetWhen> SetReader::ReadWhen(const Json::Value& Value, const std::string& Path) {
    const std::optional<std::string> text = Text(Value, Path);
    if (!text) return std::nullopt;
    using Kind = SetWhen::Kind;
    static constexpr std::pair<std::string_view, Kind> kPoints[] = {
        {"now", Kind::Now},         {"beat", Kind::Beat}, {"bar", Kind::Bar},
        {"loopend", Kind::LoopEnd}, {"end", Kind::End},   {"marker", Kind::Marker}};
    for (const auto& [name, kind] : kPoints)
        if (*text == name) return SetWhen{kind, 1, {}};
    if (const auto bars = After(*text, "bars:")) {
        const std::optional<int64_t> count = WholeNumber(*bars);
        if (count && *count >= 1 && *count <= kMaxBars)
            return SetWhen{Kind::Bars, static_cast<int32_t>(*count), {}};
        Fail(Value, Path, "expects bars:N with N from 1 to 1024, not " + Quoted(*text));
        return std::nullopt;
    }
    if (const auto marker = After(*text, "marker:"); marker && !marker->empty())
        return SetWhen{Kind::NamedMarker, 1, std::string(*marker)};
    Fail(Value, Path,
         "expects now, beat, bar, bars:N, loopend, end, marker or marker:NAME, not " +
             Quoted(*text));
    return std::nullopt;
}

std::optional<SetEntry> SetReader::ReadEntry(const Json::Value& Value, const std::string& Path) {
    const std::optional<std::string> text = Text(Value, Path);
    if (!text) return std::nullopt;
    using Kind = SetEntry::Kind;
    if (*text == "start") return SetEntry{Kind::Start, 0, {}};
    if (*text == "same") return SetEntry{Kind::Same, 0, {}};
    if (*text == "same_beat") return SetEntry{Kind::SameBeat, 0, {}};
    if (const auto cue = After(*text, "cue:")) {
        const std::optional<int64_t> index = WholeNumber(*cue);
        if (index && *index >= 0 && *index <= kMaxCueIndex)
            return SetEntry{Kind::Cue, static_cast<int32_t>(*index), {}};
        Fail(Value, Path, "expects cue:N with N from 0 to 15, not " + Quoted(*text));
        return std::nullopt;
    }
    if (const auto marker = After(*text, "marker:"); marker && !marker->empty())
        return SetEntry{Kind::Marker, 0, std::string(*marker)};
    Fail(Value, Path, "expects start, same, same_beat, cue:N or marker:NAME, not " + Quoted(*text));
    return std::nullopt;
}

void SetReader::ReadFade(const Json::Value& Rule, const std::string& Path,
                         SetTransition& Transition) {
    using Fade = TransitionOptions::Fade;
    if (const Json::Value* fade = Optional(Rule, "fade")) {
        if (const auto index = Choice(*fade, Child(Path, "fade"), {"none", "in", "out", "cross"}))
            Transition.FadeKind = static_cast<Fade>(*index);
    }
    if (const Json::Value* shape = Optional(Rule, "shape")) {
        if (const auto index =
                Choice(*shape, Child(Path, "shape"), {"linear", "equal_power", "s_curve"}))
            Transition.Shape = static_cast<FadeShape>(*index);
    }
    const Json::Value* seconds = Optional(Rule, "fade_seconds");
    const Json::Value* beats = Optional(Rule, "fade_beats");
    if (seconds && beats) {
        Fail(*beats, Child(Path, "fade_beats"), "a fade is timed in seconds or in beats, not both");
        return;
    }
    const Json::Value* length = seconds ? seconds : beats;
    const std::string lengthPath = Child(Path, seconds ? "fade_seconds" : "fade_beats");
    if (Transition.FadeKind == Fade::None) {
        if (length) Fail(*length, lengthPath, "a cut (\"fade\": \"none\") has no length");
        return;
    }
    if (!length) {
        Fail(Rule, Path, "a fade needs \"fade_seconds\" or \"fade_beats\"");
        return;
    }
    if (seconds) {
        if (const auto value = Number(*seconds, lengthPath, {0.0, kMaxFadeSec}))
            Transition.Length.Seconds = *value;
    } else if (const auto value = Number(*beats, lengthPath, {0.0, kMaxFadeBeats})) {
        Transition.Length.Beats = *value;
    }
}

void SetReader::ReadVia(const Json::Value& Value, const std::string& Path,
                        SetTransition& Transition) {
    const std::optional<std::string> text = Text(Value, Path);
    if (!text) return;
    if (const auto state = After(*text, "state:")) {
        const std::string name(*state);
        if (Names(Value, Path, name, "state", FSet.FindState(name) != nullptr))
            Transition.ViaState = name;
    } else if (Names(Value, Path, *text, "track", FSet.FindTrack(*text) != nullptr)) {
        Transition.ViaTrack = *text;
    }
}

void SetReader::CheckGridNeeds(const SetTransition& Rule, const Json::Value& Value,
                               const std::string& Path) {
    using When = SetWhen::Kind;
    const auto anyTrackHas = [&](const std::string& marker) {
        return std::any_of(FSet.Tracks.begin(), FSet.Tracks.end(),
                           [&](const SetTrack& track) { return HasMarker(track, marker); });
    };
    // What a state's grid tracks lack, or empty.
    const auto lacking = [&](const std::string& state, auto&& has, const std::string& what) {
        for (const SetTrack* track : GridTracks(state))
            if (!has(*track))
                return "state " + Quoted(state) + " plays track " + Quoted(track->Name) +
                       ", which has " + what;
        return std::string();
    };
    const auto hasTempo = [](const SetTrack& track) { return track.Grid.Bpm > 0.0; };
    const bool exactFrom = Rule.From != kAnyState;
    const bool exactTo = Rule.To != kAnyState;
    const Json::Value* when = Optional(Value, "when");
    const std::string whenPath = Child(Path, "when");
    if (when && exactFrom) {
        std::string missing;
        switch (Rule.When.Point) {
            case When::Beat:
            case When::Bar:
            case When::Bars: missing = lacking(Rule.From, hasTempo, "no tempo"); break;
            case When::Marker:
                missing = lacking(
                    Rule.From, [](const SetTrack& track) { return !track.Markers.empty(); },
                    "no markers");
                break;
            case When::NamedMarker:
                missing = lacking(
                    Rule.From,
                    [&](const SetTrack& track) { return HasMarker(track, Rule.When.Marker); },
                    "no marker " + Quoted(Rule.When.Marker));
                break;
            default: break;
        }
        if (!missing.empty()) Fail(*when, whenPath, missing);
    } else if (when && Rule.When.Point == When::NamedMarker && !anyTrackHas(Rule.When.Marker)) {
        Fail(*when, whenPath, "no track has a marker " + Quoted(Rule.When.Marker));
    }
    if (const Json::Value* beats = Optional(Value, "fade_beats"); beats && exactFrom) {
        if (const std::string missing = lacking(Rule.From, hasTempo, "no tempo"); !missing.empty())
            Fail(*beats, Child(Path, "fade_beats"), missing);
    }
    const Json::Value* entry = Optional(Value, "entry");
    const std::string entryPath = Child(Path, "entry");
    if (entry && Rule.Entry.At == SetEntry::Kind::Marker) {
        std::string missing;
        if (exactTo)
            missing = lacking(
                Rule.To, [&](const SetTrack& track) { return HasMarker(track, Rule.Entry.Marker); },
                "no marker " + Quoted(Rule.Entry.Marker));
        else if (!anyTrackHas(Rule.Entry.Marker))
            missing = "no track has a marker " + Quoted(Rule.Entry.Marker);
        if (!missing.empty()) Fail(*entry, entryPath, missing);
    } else if (entry && Rule.Entry.At == SetEntry::Kind::SameBeat && exactTo) {
        if (const std::string missing = lacking(Rule.To, hasTempo, "no tempo"); !missing.empty())
            Fail(*entry, entryPath, missing);
    }
}

void SetReader::CheckBridgeCycles() {
    // A rule through a state hands the change to that state's own rule towards the same
    // destination; following those hand-overs must reach the destination. Runs on a set
    // without problems, so every rule and its "via" value are at hand.
    if (std::none_of(FSet.Transitions.begin(), FSet.Transitions.end(),
                     [](const SetTransition& rule) { return !rule.ViaState.empty(); }))
        return;
    // Per destination every state is walked once: a walk stops at a state an earlier walk
    // has passed, which leads on as that walk found, so each cycle is told once.
    std::set<size_t> told;
    for (const SetState& to : FSet.States) {
        std::set<std::string> walked;
        for (const SetState& from : FSet.States) {
            std::vector<std::string> path;
            for (std::string at = from.Name; at != to.Name && !walked.contains(at);) {
                path.push_back(at);
                const SetTransition* rule = FSet.RuleFor(at, to.Name);
                if (rule == nullptr || rule->ViaState.empty()) break;
                const auto index = static_cast<size_t>(rule - FSet.Transitions.data());
                if (std::find(path.begin(), path.end(), rule->ViaState) != path.end()) {
                    if (told.insert(index).second) {
                        std::string chain;
                        for (const std::string& state : path) chain += state + " -> ";
                        Fail(*FViaValues[index],
                             Child(Child("transitions", static_cast<Json::ArrayIndex>(index)),
                                   "via"),
                             "a cycle of bridges on the way to " + Quoted(to.Name) + ": " + chain +
                                 rule->ViaState);
                    }
                    break;
                }
                at = rule->ViaState;
            }
            walked.insert(path.begin(), path.end());
        }
    }
}

void SetReader::ReadStingers(const Json::Value& Stingers) {
    if (!IsObject(Stingers, "stingers")) return;
    for (const std::string& name : JsonSource::KeysInOrder(Stingers)) {
        const Json::Value& value = Stingers[name];
        const std::string path = Child("stingers", name);
        SetStinger stinger;
        stinger.Name = name;
        if (ObjectOf(value, path,
                     {"track", "when", "pickup_seconds", "duck_db", "duck_attack_seconds",
                      "duck_release_seconds", "cooldown_seconds"})) {
            if (const Json::Value* track = Required(value, path, "track"))
                if (const auto named = TrackName(*track, Child(path, "track")))
                    stinger.Track = *named;
            if (const Json::Value* when = Optional(value, "when")) {
                if (const auto index = Choice(*when, Child(path, "when"), {"now", "beat", "bar"}))
                    stinger.When = static_cast<Quantize>(*index);
            }
            const auto read = [&](const char* key, Range within, double& into) {
                if (const Json::Value* member = Optional(value, key))
                    if (const auto number = Number(*member, Child(path, key), within))
                        into = *number;
            };
            read("pickup_seconds", {0.0, 60.0}, stinger.PickupSec);
            read("duck_db", {-96.0, 0.0}, stinger.DuckDb);
            read("duck_attack_seconds", {0.0, 10.0}, stinger.DuckAttackSec);
            read("duck_release_seconds", {0.0, 10.0}, stinger.DuckReleaseSec);
            read("cooldown_seconds", {0.0, 3600.0}, stinger.CooldownSec);
            if (const SetTrack* track = FSet.FindTrack(stinger.Track);
                track && Loaded(track->Name) &&
                stinger.PickupSec * track->RateHz > static_cast<double>(track->LengthFrames))
                Fail(value["pickup_seconds"], Child(path, "pickup_seconds"),
                     "the pickup is longer than track " + Quoted(track->Name));
        }
        FSet.Stingers.push_back(std::move(stinger));
    }
}

void SetReader::ReadInitialState(const Json::Value& Value) {
    const std::optional<std::string> name = Text(Value, "initial_state");
    if (name && Names(Value, "initial_state", *name, "state", FSet.FindState(*name) != nullptr))
        FSet.InitialState = *name;
}

}  // namespace oggmix::music
