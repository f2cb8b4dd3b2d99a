// SetReader_States.cpp: the states: one track, a group of layers that must fit the group's
// bars, or a playlist.
#include <cmath>

#include "music/set/SetReader_Internal.h"

namespace oggmix::music {
namespace {

constexpr Range kVolumes{0.0, 2.0};
constexpr Range kPans{-1.0, 1.0};
constexpr Range kMixes{0.0, 1.0};
constexpr int64_t kMaxLoopBars = 4096;
constexpr int64_t kMaxStartBar = 1 << 20;

// Source frames of one bar of Grid, at RateHz (the layer's own rate, which may differ).
double BarFrames(const Tempo& Grid, int32_t RateHz) {
    return 60.0 * RateHz * Grid.BeatsPerBar / Grid.Bpm;
}

}  // namespace

void SetReader::ReadStates(const Json::Value& States) {
    if (!IsObject(States, "states")) return;
    if (States.empty()) Fail(States, "states", "a set needs a state");
    // Every state is named before any is read, so that the rules may name them all.
    for (const std::string& name : JsonSource::KeysInOrder(States)) {
        SetState state;
        state.Name = name;
        FSet.States.push_back(std::move(state));
    }
    for (SetState& state : FSet.States) {
        const Json::Value& value = States[state.Name];
        const std::string path = Child("states", state.Name);
        if (state.Name == kAnyState) Fail(value, path, "\"*\" stands for any state in a rule");
        if (!ObjectOf(value, path, {"track", "layers", "playlist", "order", "weights", "join"}))
            continue;
        const Json::Value* track = Optional(value, "track");
        const Json::Value* layers = Optional(value, "layers");
        const Json::Value* playlist = Optional(value, "playlist");
        if ((track != nullptr) + (layers != nullptr) + (playlist != nullptr) != 1) {
            Fail(value, path, "a state plays one of \"track\", \"layers\" or \"playlist\"");
            continue;
        }
        if (track != nullptr) {
            state.Plays = SetState::Kind::Track;
            if (const auto name = TrackName(*track, Child(path, "track"))) state.Track = *name;
        } else if (layers != nullptr) {
            state.Plays = SetState::Kind::Layers;
            ReadLayers(*layers, Child(path, "layers"), state);
        } else {
            state.Plays = SetState::Kind::Playlist;
        }
        // A playlist's options, read (or refused) with or without one.
        ReadPlaylist(value, path, state);
    }
}

void SetReader::ReadLayers(const Json::Value& Layers, const std::string& Path, SetState& State) {
    if (!Layers.isArray() || Layers.empty()) {
        Fail(Layers, Path, "expects an array of one layer or more");
        return;
    }
    const SetTrack* group = nullptr;
    for (Json::ArrayIndex i = 0; i < Layers.size(); ++i) {
        const Json::Value& value = Layers[i];
        const std::string path = Child(Path, i);
        if (!ObjectOf(value, path,
                      {"track", "loop_bars", "volume", "pan", "tone_filter", "start_bar"}))
            continue;
        SetLayer layer;
        const Json::Value* track = Required(value, path, "track");
        if (track == nullptr) continue;
        const std::optional<std::string> name = TrackName(*track, Child(path, "track"));
        if (name) layer.Track = *name;
        if (const Json::Value* bars = Optional(value, "loop_bars")) {
            if (const auto count = Integer(*bars, Child(path, "loop_bars"), 1, kMaxLoopBars))
                layer.LoopBars = static_cast<int32_t>(*count);
        }
        if (const Json::Value* start = Optional(value, "start_bar")) {
            if (const auto bar = Integer(*start, Child(path, "start_bar"), 0, kMaxStartBar))
                layer.StartBar = static_cast<int32_t>(*bar);
        }
        if (const Json::Value* volume = Optional(value, "volume")) {
            if (auto control = ReadControl(*volume, Child(path, "volume"), kVolumes))
                layer.Volume = std::move(*control);
        }
        if (const Json::Value* pan = Optional(value, "pan")) {
            if (auto control = ReadControl(*pan, Child(path, "pan"), kPans))
                layer.Pan = std::move(*control);
        }
        if (const Json::Value* filter = Optional(value, "tone_filter")) {
            if (auto tone = ReadToneFilter(*filter, Child(path, "tone_filter")))
                layer.Filter = std::move(*tone);
        }
        // The first layer is the group's grid and length; without it nothing can be fitted.
        if (i == 0 && name && Loaded(*name)) group = FSet.FindTrack(*name);
        if (group != nullptr && name && Loaded(*name))
            CheckLayerFits(layer, *group, *track, Child(path, "track"));
        State.Layers.push_back(std::move(layer));
    }
}

void SetReader::CheckLayerFits(const SetLayer& Layer, const SetTrack& Group,
                               const Json::Value& Where, const std::string& Path) {
    const SetTrack& track = *FSet.FindTrack(Layer.Track);
    const bool hasGrid = Group.Grid.Bpm > 0.0;
    if ((Layer.LoopBars > 0 || Layer.StartBar > 0) && !hasGrid) {
        Fail(Where, Path,
             "the group has no tempo (its first layer, track " + Quoted(Group.Name) +
                 ", has none), so it has no bars to " +
                 (Layer.LoopBars > 0 ? "loop on" : "start on"));
        return;
    }
    if (Layer.LoopBars > 0) {
        const double barFrames = BarFrames(Group.Grid, track.RateHz);
        const double bars = static_cast<double>(track.LengthFrames) / barFrames;
        const double whole = std::round(bars);
        if (whole < 1.0 ||
            std::abs(static_cast<double>(track.LengthFrames) - whole * barFrames) > 1.0) {
            Fail(Where, Path,
                 "track " + Quoted(track.Name) + " is " + Shown(bars) +
                     " bars of the group's grid long, not a whole number");
        } else if (whole > Layer.LoopBars) {
            Fail(Where, Path,
                 "track " + Quoted(track.Name) + " is " + Shown(whole) +
                     " bars long but restarts every " + std::to_string(Layer.LoopBars));
        }
    } else if (&track != &Group) {
        // Without loop_bars a layer shares the group's playhead, so it is as long as the group.
        const double groupFrames = static_cast<double>(Group.LengthFrames) * track.RateHz /
                                   static_cast<double>(Group.RateHz);
        if (std::abs(static_cast<double>(track.LengthFrames) - groupFrames) > 1.0)
            Fail(Where, Path,
                 "track " + Quoted(track.Name) + " is " + std::to_string(track.LengthFrames) +
                     " frames long, the group " + Shown(std::round(groupFrames)) +
                     " (a layer without loop_bars is as long as the group)");
    }
    if (Layer.StartBar > 0) {
        const double groupBars =
            static_cast<double>(Group.LengthFrames) / BarFrames(Group.Grid, Group.RateHz);
        if (Layer.StartBar >= groupBars)
            Fail(Where, Path,
                 "starts on bar " + std::to_string(Layer.StartBar) + ", after the group's end (" +
                     Shown(groupBars) + " bars)");
    }
}

std::optional<SetToneFilter> SetReader::ReadToneFilter(const Json::Value& Value,
                                                       const std::string& Path) {
    SetToneFilter filter;
    const Json::Value* preset = &Value;
    std::string presetPath = Path;
    if (Value.isObject()) {
        if (!ObjectOf(Value, Path, {"preset", "parameter", "curve"})) return std::nullopt;
        preset = Required(Value, Path, "preset");
        presetPath = Child(Path, "preset");
        if (Optional(Value, "parameter") != nullptr || Optional(Value, "curve") != nullptr) {
            // The mix is a curve of its own: read it from the same object, less "preset".
            Json::Value curve(Json::objectValue);
            for (const char* key : {"parameter", "curve"})
                if (const Json::Value* member = Optional(Value, key)) curve[key] = *member;
            curve.setOffsetStart(Value.getOffsetStart());
            filter.Mix = ReadCurve(curve, Path, kMixes);
            if (!filter.Mix) return std::nullopt;
        }
        if (preset == nullptr) return std::nullopt;
    } else if (!Value.isString()) {
        Fail(
            Value, Path,
            "expects a preset name or an object with a preset and a curve, not " + TypeName(Value));
        return std::nullopt;
    }
    // In the order of ToneFilter.
    const std::optional<size_t> index = Choice(*preset, presetPath,
                                               {"off", "low_pass", "high_pass", "low_reso",
                                                "high_reso", "lo_hi_pass", "middle_reso", "wave"});
    if (!index) return std::nullopt;
    filter.Preset = static_cast<ToneFilter>(*index);
    return filter;
}

void SetReader::ReadPlaylist(const Json::Value& Value, const std::string& Path, SetState& State) {
    const bool isPlaylist = State.Plays == SetState::Kind::Playlist;
    for (const char* key : {"order", "weights", "join"}) {
        if (const Json::Value* option = Optional(Value, key); option && !isPlaylist)
            Fail(*option, Child(Path, key), "only a playlist takes it");
    }
    if (!isPlaylist) return;
    SetPlaylist& playlist = State.Playlist;
    const Json::Value& items = Value["playlist"];
    const std::string itemsPath = Child(Path, "playlist");
    if (!items.isArray() || items.empty()) {
        Fail(items, itemsPath, "expects an array of one track name or more");
        return;
    }
    for (Json::ArrayIndex i = 0; i < items.size(); ++i)
        if (const auto name = TrackName(items[i], Child(itemsPath, i)))
            playlist.Items.push_back(*name);
    if (const Json::Value* order = Optional(Value, "order")) {
        if (const auto index =
                Choice(*order, Child(Path, "order"), {"sequence", "shuffle", "random"}))
            playlist.Order = static_cast<PlaylistOrder>(*index);
    }
    if (const Json::Value* join = Optional(Value, "join")) {
        if (const auto index = Choice(*join, Child(Path, "join"), {"gapless", "bar"}))
            playlist.JoinOnBar = *index == 1;
    }
    const Json::Value* weights = Optional(Value, "weights");
    if (weights == nullptr) return;
    const std::string weightsPath = Child(Path, "weights");
    if (playlist.Order != PlaylistOrder::Random) {
        Fail(*weights, weightsPath, "only a playlist in random order takes weights");
        return;
    }
    if (!weights->isArray() || weights->size() != items.size()) {
        Fail(*weights, weightsPath,
             "expects an array of " + std::to_string(items.size()) + " numbers, one per item");
        return;
    }
    for (Json::ArrayIndex i = 0; i < weights->size(); ++i) {
        const auto weight = Number((*weights)[i], Child(weightsPath, i), {0.0, 1e9});
        if (weight && *weight <= 0.0)
            Fail((*weights)[i], Child(weightsPath, i), "a weight must be above 0");
        else if (weight)
            playlist.Weights.push_back(*weight);
    }
}

}  // namespace oggmix::music
