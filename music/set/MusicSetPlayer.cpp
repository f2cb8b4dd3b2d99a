// MusicSetPlayer.cpp: a set's states, rules, parameters and stingers turned into the player's
// calls: tracks and layer groups loaded once, each state change a Transition by its rule.
#include "oggmix/MusicSetPlayer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <utility>

#include "music/set/LayerLoop.h"
#include "music/set/PlaylistRun.h"

namespace oggmix {
namespace {

constexpr double kFramesPerSecond = 44100.0;
// A layer that loops on its own stops this fast when its state is left.
constexpr double kLayerStopSec = 0.01;
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

SetEvent Changed(const std::string& from, const std::string& to, int64_t frame) {
    SetEvent event;
    event.From = from;
    event.To = to;
    event.Frame = frame;
    return event;
}

MusicError Refused(const std::string& what) {
    return MusicError(MusicErrorCode::InvalidArgument, what);
}

template <class Map>
auto Lookup(const Map& map, const std::string& name, const char* what) {
    const auto found = map.find(name);
    if (found == map.end())
        throw Refused(std::string("the set has no ") + what + " \"" + name + "\"");
    return found->second;
}

Quantize QuantizeOf(const SetWhen& when) {
    switch (when.Point) {
        case SetWhen::Kind::Now: return Quantize::Now;
        case SetWhen::Kind::Beat: return Quantize::Beat;
        case SetWhen::Kind::Bar: return Quantize::Bar;
        case SetWhen::Kind::Bars: return Quantize::Bars;
        case SetWhen::Kind::LoopEnd: return Quantize::LoopEnd;
        case SetWhen::Kind::End: return Quantize::End;
        // A change on a marker waits until the marker is the source's next beat.
        case SetWhen::Kind::Marker:
        case SetWhen::Kind::NamedMarker: break;
    }
    return Quantize::Beat;
}

bool OnMarker(const SetTransition* rule) {
    return rule != nullptr && (rule->When.Point == SetWhen::Kind::Marker ||
                               rule->When.Point == SetWhen::Kind::NamedMarker);
}

TransitionOptions::Entry EntryOf(const SetEntry& entry) {
    using Entry = TransitionOptions::Entry;
    switch (entry.At) {
        case SetEntry::Kind::Start: return Entry::Start;
        case SetEntry::Kind::Same: return Entry::Same;
        case SetEntry::Kind::SameBeat: return Entry::SameBeat;
        case SetEntry::Kind::Cue: return Entry::Cue;
        case SetEntry::Kind::Marker: break;
    }
    throw MusicError(MusicErrorCode::Unsupported, "an entry at a marker is not played yet");
}

}  // namespace

MusicSetPlayer::MusicSetPlayer(MusicPlayer& Player, MusicSet Set)
    : FPlayer(Player),
      FSet(std::move(Set)),
      FRandom(static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())) {
    try {
        for (const SetTrack& track : FSet.Tracks) {
            const Track loaded = FPlayer.Load(track.Path);
            FTracks[track.Name] = loaded;
            if (track.Grid.Bpm > 0.0) FPlayer.SetTempo(loaded, track.Grid);
        }
        for (const oggmix::SetParameter& parameter : FSet.Parameters)
            FParameters[parameter.Name] = parameter.Default;
        for (const oggmix::SetState& state : FSet.States) {
            switch (state.Plays) {
                case oggmix::SetState::Kind::Track:
                    FStates[state.Name] = FTracks.at(state.Track);
                    break;
                case oggmix::SetState::Kind::Playlist: {
                    std::vector<set::PlaylistRun::Item> items;
                    for (const std::string& item : state.Playlist.Items)
                        items.push_back({FTracks.at(item), FSet.FindTrack(item)});
                    FStates[state.Name] = items.front().Handle;
                    FPlaylists[state.Name] = std::make_unique<set::PlaylistRun>(
                        state.Name, state.Playlist, std::move(items));
                    break;
                }
                case oggmix::SetState::Kind::Layers: {
                    std::vector<Track> group;
                    const SetTrack* lead = nullptr;
                    for (const SetLayer& layer : state.Layers) {
                        if (layer.LoopBars > 0) continue;
                        group.push_back(FTracks.at(layer.Track));
                        if (lead == nullptr) {
                            lead = FSet.FindTrack(layer.Track);
                            FLeadOf[state.Name] = layer.Track;
                        }
                    }
                    if (lead == nullptr)
                        throw Refused("state \"" + state.Name +
                                      "\" needs a layer as long as the group");
                    for (const SetLayer& layer : state.Layers) {
                        if (layer.LoopBars == 0) continue;
                        if (lead->Grid.Bpm <= 0.0)
                            throw Refused("state \"" + state.Name +
                                          "\" has no tempo for its layers' loop_bars");
                        FLoops[state.Name][layer.Track] = std::make_unique<set::LayerLoop>(
                            FPlayer, FTracks.at(layer.Track), *FSet.FindTrack(layer.Track), *lead,
                            layer.LoopBars, layer.StartBar);
                    }
                    FStates[state.Name] =
                        group.size() == 1 ? group.front() : FPlayer.MakeLayerGroup(group);
                    break;
                }
            }
        }
        for (const auto& [name, track] : FTracks) FDucked.push_back(track);
        for (const auto& [state, loops] : FLoops)
            for (const auto& [layer, loop] : loops) FDucked.push_back(loop->Handles()[1]);
        for (const oggmix::SetStinger& stinger : FSet.Stingers)
            std::erase(FDucked, FTracks.at(stinger.Track));
        ApplyControls({}, 0.0);
    } catch (...) {
        FLoops.clear();
        for (const auto& [name, track] : FTracks) FPlayer.Unload(track);
        throw;
    }
}

MusicSetPlayer::~MusicSetPlayer() {
    FLoops.clear();
    for (const auto& [name, track] : FTracks) {
        try {
            FPlayer.Unload(track);
        } catch (const MusicError&) {
            // The game unloaded it itself: nothing is left to free.
        }
    }
}

void MusicSetPlayer::ApplyControls(const std::string& Parameter, double Seconds) {
    // Empty Parameter: every control, fixed or following a curve.
    const auto follows = [&](const SetControl& control) {
        return Parameter.empty() || (control.Curve && control.Curve->Parameter == Parameter);
    };
    const auto valueOf = [&](const SetControl& control) {
        return control.Curve ? control.Curve->At(FParameters.at(control.Curve->Parameter))
                             : control.Value;
    };
    for (const oggmix::SetState& state : FSet.States) {
        for (const SetLayer& layer : state.Layers) {
            for (const Track track : HandlesOf(state.Name, layer.Track)) {
                if (follows(layer.Volume)) {
                    const double volume = std::clamp(valueOf(layer.Volume), 0.0, 2.0);
                    FVolumes[track.Id] = volume;
                    FPlayer.SetVolume(track, volume * FDuckGain, Seconds);
                }
                if (follows(layer.Pan))
                    FPlayer.SetPan(track, std::clamp(valueOf(layer.Pan), -1.0, 1.0), Seconds);
                if (Parameter.empty() && layer.Filter.Preset != ToneFilter::Off)
                    FPlayer.SetToneFilter(track, layer.Filter.Preset, 0.0);
            }
        }
    }
}

std::vector<Track> MusicSetPlayer::HandlesOf(const std::string& State,
                                             const std::string& Layer) const {
    if (const auto loops = FLoops.find(State); loops != FLoops.end())
        if (const auto loop = loops->second.find(Layer); loop != loops->second.end())
            return {loop->second->Handles().begin(), loop->second->Handles().end()};
    return {FTracks.at(Layer)};
}

void MusicSetPlayer::ForLoops(const std::string& State, const auto& Call) {
    if (const auto loops = FLoops.find(State); loops != FLoops.end())
        for (const auto& [layer, loop] : loops->second) Call(*loop);
}

TransitionOptions MusicSetPlayer::OptionsFor(const SetTransition* Rule, Track From) const {
    TransitionOptions options;
    if (Rule == nullptr) {
        // No rule: a cut on the next bar, or at once where the source has no tempo.
        options.When = FPlayer.TempoOf(From).Bpm > 0.0 ? Quantize::Bar : Quantize::Now;
        return options;
    }
    if (!Rule->ViaState.empty())
        throw MusicError(MusicErrorCode::Unsupported, "a change through a state is not played yet");
    options.When = QuantizeOf(Rule->When);
    options.Bars = Rule->When.Bars;
    options.StartAt = EntryOf(Rule->Entry);
    options.CueIndex = Rule->Entry.CueIndex;
    options.FadeKind = Rule->FadeKind;
    options.Length = Rule->Length;
    options.Shape = Rule->Shape;
    if (!Rule->ViaTrack.empty()) options.Bridge = FTracks.at(Rule->ViaTrack);
    return options;
}

Track MusicSetPlayer::Entering(const std::string& State) {
    if (const auto playlist = FPlaylists.find(State); playlist != FPlaylists.end())
        return playlist->second->First(FRandom);
    return Lookup(FStates, State, "state");
}

bool MusicSetPlayer::Loops(const std::string& State) const {
    const auto playlist = FPlaylists.find(State);
    return playlist == FPlaylists.end() || playlist->second->Loops();
}

void MusicSetPlayer::Began(const std::string& State, int64_t Frame, bool FromStart) {
    if (FromStart)
        FStartedAt[State] = Frame;
    else
        FStartedAt.erase(State);
    ForLoops(State, [Frame](set::LayerLoop& loop) { loop.Begin(Frame); });
    if (const auto playlist = FPlaylists.find(State); playlist != FPlaylists.end())
        playlist->second->Begin(Frame);
}

void MusicSetPlayer::Leaving(const std::string& State, int64_t Frame) {
    ForLoops(State, [Frame](set::LayerLoop& loop) {
        if (Frame < 0)
            loop.End(0.0);
        else
            loop.Limit(Frame);
    });
    if (const auto playlist = FPlaylists.find(State); playlist != FPlaylists.end())
        playlist->second->Hold(FPlayer);
}

void MusicSetPlayer::Staying(const std::string& State) {
    ForLoops(State, [](set::LayerLoop& loop) { loop.Limit(kNever); });
    if (const auto playlist = FPlaylists.find(State); playlist != FPlaylists.end())
        playlist->second->Resume();
}

int64_t MusicSetPlayer::SetState(const std::string& Name) {
    (void)Lookup(FStates, Name, "state");
    const bool heard = !FNow.Current.empty() && FPlayer.IsPlaying(StateTrack(FNow.Current));
    const bool deferred = std::exchange(FDeferred, false);
    if (!heard) {
        if (!FNow.Current.empty()) Leaving(FNow.Current, -1);
        const int64_t frame = FPlayer.Play(Entering(Name), {.Loop = Loops(Name)});
        Began(Name, frame, true);
        FTold.push_back(Changed(FNow.Current, Name, frame));
        FNow = {Name, {}, -1};
        return frame;
    }
    if (Name == FNow.Pending && !deferred) return FNow.PendingFrame;
    if (!FNow.Pending.empty()) Leaving(FNow.Pending, -1);
    const SetTransition* rule = FSet.RuleFor(FNow.Current, Name);
    if (Name == FNow.Current || OnMarker(rule)) {
        // Playing the source again withdraws the change waiting from it; it plays on.
        const int64_t frame = FPlayer.Play(StateTrack(FNow.Current), {.Loop = Loops(FNow.Current)});
        FNow.Pending.clear();
        FNow.PendingFrame = -1;
        if (Name == FNow.Current) {
            Staying(Name);
            return frame;
        }
        // On a marker the change is asked of the player once the marker is near (Update).
        FNow.Pending = Name;
        FNow.PendingFrame = NextMarker(FNow.Current, rule->When);
        FDeferred = true;
        Leaving(FNow.Current, FNow.PendingFrame);
        return FNow.PendingFrame;
    }
    return Change(Name, rule);
}

int64_t MusicSetPlayer::Change(const std::string& Name, const SetTransition* Rule) {
    const Track from = StateTrack(FNow.Current);
    TransitionOptions options = OptionsFor(Rule, from);
    options.Loop = Loops(Name);
    const int64_t frame = FPlayer.Transition(from, Entering(Name), options);
    Leaving(FNow.Current, frame);
    // Through a bridge the destination starts where the bridge ends.
    const SetTrack* bridge =
        Rule != nullptr && !Rule->ViaTrack.empty() ? FSet.FindTrack(Rule->ViaTrack) : nullptr;
    Began(Name, bridge == nullptr ? frame : frame + OutputFrames(*bridge),
          Rule == nullptr || Rule->Entry.At == SetEntry::Kind::Start);
    FNow.Pending = Name;
    FNow.PendingFrame = frame;
    return frame;
}

int64_t MusicSetPlayer::NextMarker(const std::string& State, const SetWhen& When) const {
    const oggmix::SetState& state = *FSet.FindState(State);
    const auto started = FStartedAt.find(State);
    if (state.Plays == oggmix::SetState::Kind::Playlist || started == FStartedAt.end())
        throw MusicError(MusicErrorCode::Unsupported,
                         "a change on a marker from state \"" + State +
                             "\" is not played yet: it did not begin at its start");
    const SetTrack& source = *FSet.FindTrack(
        state.Plays == oggmix::SetState::Kind::Track ? state.Track : FLeadOf.at(State));
    std::vector<int64_t> markers;
    for (const SetMarker& marker : source.Markers)
        if (When.Point == SetWhen::Kind::Marker || marker.Name == When.Marker)
            markers.push_back(
                std::llround(static_cast<double>(marker.Frame) * kFramesPerSecond / source.RateHz));
    const int64_t length = OutputFrames(source);
    const int64_t mixed = FPlayer.MixedFrame();
    if (!markers.empty() && length > 0) {
        for (int64_t pass = std::max<int64_t>(0, (mixed - started->second) / length);; ++pass) {
            for (const int64_t marker : markers)
                if (started->second + pass * length + marker >= mixed)
                    return started->second + pass * length + marker;
            if (!Loops(State)) break;
        }
    }
    throw Refused("state \"" + State + "\" has no marker ahead to change on");
}

int64_t MusicSetPlayer::OutputFrames(const SetTrack& Source) {
    return std::llround(static_cast<double>(Source.LengthFrames) * kFramesPerSecond /
                        Source.RateHz);
}

void MusicSetPlayer::SetPlaylistSeed(uint64_t Seed) { FRandom.seed(Seed); }

SetStateNow MusicSetPlayer::State() const { return FNow; }

int64_t MusicSetPlayer::SetParameter(const std::string& Name, double Value, double Seconds) {
    const oggmix::SetParameter* parameter = FSet.FindParameter(Name);
    if (parameter == nullptr) throw Refused("the set has no parameter \"" + Name + "\"");
    if (!std::isfinite(Value) || !std::isfinite(Seconds) || Seconds < 0.0)
        throw Refused("a parameter's value and time must be finite, the time not below 0");
    FParameters[Name] = std::clamp(Value, parameter->Min, parameter->Max);
    const int64_t frame = FPlayer.MixedFrame();
    ApplyControls(Name, Seconds);
    return frame;
}

double MusicSetPlayer::Parameter(const std::string& Name) const {
    return Lookup(FParameters, Name, "parameter");
}

int64_t MusicSetPlayer::TriggerStinger(const std::string& Name) {
    const SetStinger* stinger = FSet.FindStinger(Name);
    if (stinger == nullptr) throw Refused("the set has no stinger \"" + Name + "\"");
    const Track track = FTracks.at(stinger->Track);
    const bool onGrid = stinger->When != Quantize::Now && !FNow.Current.empty() &&
                        FPlayer.TempoOf(StateTrack(FNow.Current)).Bpm > 0.0;
    if (!onGrid) {
        // Off the grid the player keeps no cooldown: it is kept here, from the last start.
        const auto last = FStingerStarts.find(Name);
        if (last != FStingerStarts.end() &&
            FPlayer.MixedFrame() - last->second <
                std::llround(stinger->CooldownSec * kFramesPerSecond))
            return -1;
        const int64_t start = FPlayer.Play(track, {.Loop = false});
        FStingerStarts[Name] = start;
        Duck(*stinger, start);
        return start;
    }
    StingerOptions options;
    options.Grid = StateTrack(FNow.Current);
    options.When = stinger->When;
    options.PickupFrames = std::llround(stinger->PickupSec * kFramesPerSecond);
    options.CooldownSec = stinger->CooldownSec;
    const int64_t downbeat = FPlayer.PlayStinger(track, options);
    if (downbeat >= 0) Duck(*stinger, downbeat - options.PickupFrames);
    return downbeat;
}

void MusicSetPlayer::Duck(const oggmix::SetStinger& Stinger, int64_t Start) {
    if (Stinger.DuckDb >= 0.0) return;
    const SetTrack& track = *FSet.FindTrack(Stinger.Track);
    const int64_t frames = OutputFrames(track);
    // Triggered again while it sounds, the stinger starts anew: its earlier sound ends there.
    for (StingerSound& sound : FSounding)
        if (sound.Stinger == &Stinger) sound.End = std::min(sound.End, Start);
    FSounding.push_back({&Stinger, Start, Start + frames});
}

void MusicSetPlayer::FollowDucking() {
    const int64_t now = FPlayer.MixedFrame();
    std::erase_if(FSounding, [now](const StingerSound& sound) { return sound.End <= now; });
    // Overlapping stingers duck once, as deep as the deepest of them.
    const StingerSound* deepest = nullptr;
    for (const StingerSound& sound : FSounding)
        if (sound.Start <= now &&
            (deepest == nullptr || sound.Stinger->DuckDb < deepest->Stinger->DuckDb))
            deepest = &sound;
    const double db = deepest == nullptr ? 0.0 : deepest->Stinger->DuckDb;
    if (db == FDuckDb) return;
    const double seconds = db < FDuckDb ? deepest->Stinger->DuckAttackSec : FDuckRelease;
    if (deepest != nullptr) {
        FDuckRelease = deepest->Stinger->DuckReleaseSec;
        FDuckName = deepest->Stinger->Name;
    }
    FDuckDb = db;
    FDuckGain = std::pow(10.0, db / 20.0);
    for (const Track track : FDucked) {
        const auto volume = FVolumes.find(track.Id);
        FPlayer.SetVolume(track, (volume == FVolumes.end() ? 1.0 : volume->second) * FDuckGain,
                          seconds);
    }
    SetEvent event;
    event.Kind = SetEventKind::Ducked;
    event.Frame = now;
    event.Name = FDuckName;
    event.Db = db;
    FTold.push_back(std::move(event));
}

std::vector<SetEvent> MusicSetPlayer::Update() {
    if (FDeferred) {
        // On the beat that is the marker, or (a marker between beats) as soon as it is mixed.
        const Track from = StateTrack(FNow.Current);
        const bool onBeat = FPlayer.NextBeat(from) == FNow.PendingFrame;
        if (onBeat || FNow.PendingFrame <= FPlayer.MixedFrame()) {
            FDeferred = false;
            const SetTransition* rule = FSet.RuleFor(FNow.Current, FNow.Pending);
            SetTransition now = *rule;
            if (!onBeat) now.When.Point = SetWhen::Kind::Now;
            Change(std::string(FNow.Pending), &now);
        }
    }
    if (!FNow.Pending.empty() && FNow.PendingFrame < FPlayer.MixedFrame()) {
        ForLoops(FNow.Current, [](set::LayerLoop& loop) { loop.End(kLayerStopSec); });
        FTold.push_back(Changed(FNow.Current, FNow.Pending, FNow.PendingFrame));
        FNow = {FNow.Pending, {}, -1};
    }
    FollowDucking();
    for (const std::string* state : {&FNow.Current, &FNow.Pending})
        if (const auto playlist = FPlaylists.find(*state); playlist != FPlaylists.end())
            playlist->second->Follow(FPlayer, FRandom, FTold);
    if (!FNow.Current.empty())
        ForLoops(FNow.Current, [](set::LayerLoop& loop) { loop.Schedule(); });
    if (!FNow.Pending.empty())
        ForLoops(FNow.Pending, [](set::LayerLoop& loop) { loop.Schedule(); });
    return std::exchange(FTold, {});
}

Track MusicSetPlayer::TrackOf(const std::string& Name) const {
    return Lookup(FTracks, Name, "track");
}

Track MusicSetPlayer::StateTrack(const std::string& State) const {
    if (const auto playlist = FPlaylists.find(State); playlist != FPlaylists.end())
        return playlist->second->Current();
    return Lookup(FStates, State, "state");
}

}  // namespace oggmix
