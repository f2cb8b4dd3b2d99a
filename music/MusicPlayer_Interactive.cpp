// MusicPlayer_Interactive.cpp: the output clock, tempo, layer groups, and the changes that land
// on a frame: PlayAt, transitions, timed volumes and stingers; the offline render.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "music/MusicArguments.h"
#include "music/MusicPlayer_Impl.h"
#include "music/TempoTags.h"

namespace oggmix {
namespace {

using Change = music::ScheduledChange;
using Kind = music::ScheduledChange::Kind;

// Segments a shaped fade is drawn with: straight ramps between points of the curve.
constexpr int kShapeSegments = 32;
// A stream takes a fade aiming below 0.01 for a fade-out and pauses: a fade-in never aims
// that low on its way up.
constexpr float kLowestRisingFade = 0.011f;
// How many loop jumps ahead a quantized point is looked for.
constexpr int kPredictedJumps = 64;
// A sounding track that jumps dips to kLowestRisingFade over this many frames before the jump
// and comes back up over as many after it (5 ms).
constexpr int64_t kDipFrames = 220;

double ShapeGain(FadeShape shape, double x, bool rising) {
    x = std::clamp(x, 0.0, 1.0);
    const double t = rising ? x : 1.0 - x;
    switch (shape) {
        case FadeShape::Linear: return t;
        case FadeShape::EqualPower: return std::sin(t * std::numbers::pi / 2.0);
        case FadeShape::SCurve: return t * t * (3.0 - 2.0 * t);
    }
    return t;
}

}  // namespace

// ---- Members, groups and tempo ----

std::vector<MusicPlayer::Impl::TrackState*> MusicPlayer::Impl::Members(Track Which) {
    if (const auto group = FGroups.find(Which.Id); group != FGroups.end()) {
        std::vector<TrackState*> layers;
        for (const uint32_t id : group->second.Layers) layers.push_back(&FTracks.at(id));
        return layers;
    }
    return {&Find(Which)};
}

music::TempoGrid MusicPlayer::Impl::TagGrid(const TOggData& Stream) {
    return music::TagGridOf(Stream);
}

void MusicPlayer::SetTempo(Track Which, const Tempo& Grid) {
    const std::vector<Impl::TrackState*> members = FImpl->Members(Which);
    music::TempoGrid grid;
    if (Grid.Bpm != 0.0) {
        const std::optional<int64_t> bpm = music::BpmToMicro(Grid.Bpm);
        if (!bpm)
            throw MusicError(MusicErrorCode::InvalidArgument,
                             "the tempo must be above 0 and below 10000 beats per minute, not " +
                                 std::to_string(Grid.Bpm));
        grid.BpmMicro = *bpm;
    }
    grid.BeatsPerBar =
        static_cast<int32_t>(music::CheckRange(Grid.BeatsPerBar, 1, 64, "the beats per bar"));
    if (Grid.FirstBeatFrame < 0)
        throw MusicError(MusicErrorCode::InvalidArgument,
                         "the first beat's frame must be 0 or more");
    grid.FirstBeatFrame = music::CheckFarthest(Grid.FirstBeatFrame, "the first beat's frame");
    MixerGuard guard(*FImpl->FMixer);
    for (Impl::TrackState* state : members) {
        grid.RateHz = state->Stream->Rate();
        state->Grid = grid;
    }
}

Tempo MusicPlayer::TempoOf(Track Which) {
    const Impl::TrackState& lead = *FImpl->Members(Which).front();
    const music::TempoGrid& grid = lead.Grid;
    return {grid.Known() ? static_cast<double>(grid.BpmMicro) / music::kMicroBeatsPerBeat : 0.0,
            grid.BeatsPerBar, grid.FirstBeatFrame, music::TagTempoOf(*lead.Stream).Problem};
}

Track MusicPlayer::MakeLayerGroup(const std::vector<Track>& Layers) {
    if (Layers.empty())
        throw MusicError(MusicErrorCode::InvalidArgument, "a layer group needs a layer");
    std::vector<Impl::TrackState*> states;
    for (const Track layer : Layers) {
        Impl::TrackState& state = FImpl->Find(layer);
        if (state.GroupId != 0)
            throw MusicError(MusicErrorCode::InvalidArgument,
                             FImpl->Describe(state) + " is a layer of another group already");
        if (std::find(states.begin(), states.end(), &state) != states.end())
            throw MusicError(MusicErrorCode::InvalidArgument,
                             FImpl->Describe(state) + " is named twice");
        if (!states.empty() && state.Stream->PcmTotal() != states.front()->Stream->PcmTotal())
            throw MusicError(
                MusicErrorCode::InvalidArgument,
                "layers share one playhead and so one length: " + FImpl->Describe(state) +
                    " differs from " + FImpl->Describe(*states.front()));
        states.push_back(&state);
    }
    const uint32_t id = FImpl->NewTrackId();
    Impl::GroupState group;
    for (Impl::TrackState* state : states) group.Layers.push_back(state->Id);
    MixerGuard guard(*FImpl->FMixer);
    for (Impl::TrackState* state : states) state->GroupId = id;
    FImpl->FGroups.emplace(id, std::move(group));
    return Track{id};
}

// ---- The output clock ----

int64_t MusicPlayer::HeardFrame() { return FImpl->FDevice->HeardFrames(); }

// While the device rests no frame is mixed, yet the clock goes on: a change made now lands
// where the device would have got to.
int64_t MusicPlayer::MixedFrame() {
    return std::max(FImpl->NextOutFrame(), FImpl->FDevice->HeardFrames());
}

std::chrono::steady_clock::time_point MusicPlayer::WhenHeard(int64_t Frame) {
    Frame = std::clamp(Frame, -music::kFarthestFrame, music::kFarthestFrame);
    const auto now = std::chrono::steady_clock::now();
    const int64_t heard = FImpl->FDevice->HeardFrames();
    const auto ahead =
        std::chrono::duration<double>(static_cast<double>(Frame - heard) / kFramesPerSecond);
    return now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(ahead);
}

void MusicPlayer::RenderOffline(std::span<int16_t> Interleaved) {
    if (!FImpl->FDevice->Offline())
        throw MusicError(MusicErrorCode::InvalidArgument,
                         "an offline render needs the \"offline\" back end, not \"" +
                             FImpl->FDevice->BackendName() + "\"");
    FImpl->FDevice->RenderOffline(Interleaved.first(Interleaved.size() - Interleaved.size() % 2));
}

// ---- Where a track will be ----

int64_t MusicPlayer::Impl::OutputFramesOf(const TrackState& State, int64_t SourceFrames) const {
    const int32_t rate = State.Stream->Rate();
    if (rate == kFramesPerSecond) return SourceFrames;
    if (rate == kFramesPerSecond / 2) return 2 * SourceFrames;
    return std::llround(static_cast<double>(SourceFrames) * kFramesPerSecond / rate);
}

MusicPlayer::Impl::Landing MusicPlayer::Impl::Predict(TrackState& Lead, Quantize When, int32_t Bars,
                                                      int64_t MinOut) {
    const int64_t earliest = std::max(NextOutFrame(), MinOut);
    TOggData& stream = *Lead.Stream;
    // Not playing: there is nothing to wait for.
    if (stream.GetState(true) < 2 || Lead.FadingTo != Ending::None)
        return {earliest, stream.PositionFrame(true)};
    const music::TempoGrid& grid = Lead.Grid;
    if ((When == Quantize::Beat || When == Quantize::Bar || When == Quantize::Bars) &&
        !grid.Known())
        throw MusicError(MusicErrorCode::InvalidArgument,
                         Describe(Lead) + " has no tempo to wait for a beat or bar on");
    const int64_t length = stream.PcmTotal();
    const bool looping = stream.GetState(true) == 3;
    // The music from the first frame not yet mixed on, through the jumps it will take.
    int64_t segmentSource = stream.PositionFrame(true);
    int64_t segmentOut = NextOutFrame();
    for (int turn = 0; turn <= kPredictedJumps; ++turn) {
        // The next jump: the nearest armed cue's end ahead, else the end of the track.
        int64_t jumpAt = length;
        int64_t jumpTo = looping ? 0 : -1;
        for (int32_t i = 0; i < kCueCount; ++i) {
            const CueFrames& cue = stream.CuePositions()[static_cast<size_t>(i)];
            if (stream.Cues()[static_cast<size_t>(i)].Count == 0 || cue.StartFrame == cue.EndFrame)
                continue;
            if (cue.EndFrame > segmentSource && cue.EndFrame < jumpAt) {
                jumpAt = cue.EndFrame;
                jumpTo = cue.StartFrame;
            }
        }
        const auto outOf = [&](int64_t source) {
            return segmentOut + OutputFramesOf(Lead, source - segmentSource);
        };
        if (When == Quantize::LoopEnd || When == Quantize::End) {
            // The point is the jump itself: the first frame after it.
            const bool reached = When == Quantize::LoopEnd || jumpAt == length;
            if (reached && outOf(jumpAt) >= earliest)
                return {outOf(jumpAt), std::max<int64_t>(jumpTo, 0)};
        } else if (When == Quantize::Now) {
            // The first frame that can still be honoured.
            const int64_t behindOut = std::max<int64_t>(0, earliest - segmentOut);
            const int64_t rate = Lead.Stream->Rate();
            const int64_t target =
                segmentSource + (behindOut * rate + kFramesPerSecond - 1) / kFramesPerSecond;
            if (target < jumpAt) return {std::max(outOf(target), earliest), target};
        } else {
            // Grid points inside this stretch; a beat on the very frame of a jump is never
            // played, the music being elsewhere by then.
            for (int64_t from = segmentSource;;) {
                const int64_t beat =
                    When == Quantize::Beat
                        ? grid.BeatAtOrAfter(from)
                        : grid.BarBeatAtOrAfter(from, When == Quantize::Bars ? Bars : 1);
                const int64_t target = grid.BeatFrame(beat);
                if (target >= jumpAt) break;
                if (outOf(target) >= earliest) return {outOf(target), target};
                from = target + 1;
            }
        }
        if (jumpTo < 0) break;  // the track ends first
        segmentOut = outOf(jumpAt);
        segmentSource = jumpTo;
    }
    throw MusicError(MusicErrorCode::InvalidArgument,
                     Describe(Lead) + " never reaches the point asked for while it plays");
}

// ---- Scheduled changes ----

void MusicPlayer::Impl::ScheduleFade(TrackState& State, int64_t From, int64_t Frames,
                                     FadeShape Shape, bool Rising, bool StartsTrack, bool Loop) {
    const auto seconds = [](int64_t frames) {
        return static_cast<float>(static_cast<double>(frames) / kFramesPerSecond);
    };
    const int segments = Frames <= 0 || Shape == FadeShape::Linear ? 1 : kShapeSegments;
    for (int i = 0; i < segments; ++i) {
        const int64_t begin = From + Frames * i / segments;
        const int64_t end = From + Frames * (i + 1) / segments;
        auto gain = static_cast<float>(
            ShapeGain(Shape, Frames <= 0 ? 1.0 : static_cast<double>(i + 1) / segments, Rising));
        if (Rising && i + 1 < segments) gain = std::max(gain, kLowestRisingFade);
        Change change;
        change.Frame = begin;
        change.What = i == 0 && StartsTrack ? Kind::Start : Kind::FadeTo;
        change.TrackId = State.Id;
        change.Value = Frames <= 0 ? (Rising ? 1.0f : 0.0f) : gain;
        change.Seconds = seconds(end - begin);
        change.Loop = Loop;
        change.Falling = !Rising;
        ScheduleChange(change);
    }
}

int32_t MusicPlayer::Impl::FadeChanges(int64_t Frames, FadeShape Shape) {
    return Frames <= 0 || Shape == FadeShape::Linear ? 1 : kShapeSegments;
}

void MusicPlayer::Impl::ScheduleJump(TrackState& State, int64_t At,
                                     std::unique_ptr<PreparedPosition> To) {
    const int64_t dipFrom = std::max(NextOutFrame(), At - kDipFrames);
    Change dip;
    dip.Frame = dipFrom;
    dip.What = Kind::FadeTo;
    dip.TrackId = State.Id;
    dip.Value = kLowestRisingFade;
    dip.Seconds = static_cast<float>(static_cast<double>(At - dipFrom) / kFramesPerSecond);
    ScheduleChange(dip);
    Change jump;
    jump.Frame = At;
    jump.What = Kind::Jump;
    jump.TrackId = State.Id;
    jump.Position = FPositions.Hold(std::move(To));
    ScheduleChange(jump);
}

void MusicPlayer::Impl::ScheduleMarker(int64_t Frame, MusicEventKind Kind, uint32_t Id) {
    Change change;
    change.Frame = Frame;
    change.What = Kind::Marker;
    change.TrackId = Id;
    change.Event = {Kind, Track{Id}, -1, Frame};
    ScheduleChange(change);
}

int64_t MusicPlayer::PlayAt(Track Which, int64_t Frame, const PlayOptions& Options) {
    music::CheckFarthest(Frame, "the output frame to play at");
    const double fadeSec = music::CheckSeconds(Options.FadeInSec, "the fade-in");
    return FImpl->StartMembers(FImpl->Members(Which), FImpl->IdsOf(Which), Frame, Options.Loop,
                               fadeSec);
}

int64_t MusicPlayer::Impl::FadeFrames(const FadeLength& Length, const TrackState& Lead) const {
    music::CheckSeconds(Length.Seconds, "the fade");
    music::CheckRange(Length.Beats, 0.0, 10000.0, "the fade in beats");
    if (Length.Beats > 0.0) {
        if (!Lead.Grid.Known())
            throw MusicError(MusicErrorCode::InvalidArgument,
                             Describe(Lead) + " has no tempo to count a fade in beats");
        return OutputFramesOf(Lead, std::llround(Length.Beats * Lead.Grid.FramesPerBeat()));
    }
    return std::llround(Length.Seconds * kFramesPerSecond);
}

void MusicPlayer::Impl::ApplyRestart(TrackState& State, std::unique_ptr<PreparedPosition> From) {
    if (!From) return;
    if (State.FadingTo == Ending::Stop && !State.Rewound)
        FSpent.push_back(State.Stream->StopAt(std::move(From), true));
    else
        FSpent.push_back(State.Stream->ApplyPosition(std::move(From), true));
    Publish(State);
}

int64_t MusicPlayer::Transition(Track From, Track To, const TransitionOptions& Options) {
    using Fade = TransitionOptions::Fade;
    using Entry = TransitionOptions::Entry;
    FImpl->CheckApart(From, To, "a transition");
    FImpl->WakeDevice();
    const std::vector<Impl::TrackState*> to = FImpl->Members(To);
    Impl::TrackState* bridge = Options.Bridge.Id != 0 ? &FImpl->Find(Options.Bridge) : nullptr;
    if (bridge != nullptr) {
        const std::vector<Impl::TrackState*> from = FImpl->Members(From);
        if (std::find(from.begin(), from.end(), bridge) != from.end() ||
            std::find(to.begin(), to.end(), bridge) != to.end())
            throw MusicError(MusicErrorCode::InvalidArgument,
                             "the bridge must be a third track, not " + FImpl->Describe(*bridge));
    }
    const int32_t bars = static_cast<int32_t>(music::CheckRange(Options.Bars, 1, 1024, "bars"));
    if (Options.StartAt == Entry::Cue) {
        music::CheckRange(Options.CueIndex, 0, kCueCount - 1, "the cue index");
        if (to.front()->Stream->Cues()[static_cast<size_t>(Options.CueIndex)].Count == 0)
            throw MusicError(MusicErrorCode::InvalidArgument, FImpl->Describe(*to.front()) +
                                                                  " has no loop cue " +
                                                                  std::to_string(Options.CueIndex));
    }

    for (int attempt = 0;; ++attempt) {
        // The latest request wins: from a destination still waiting for its frame, the
        // transition goes from that request's source on its frame instead; a request from
        // the same source again replaces the earlier one.
        Track source = From;
        uint32_t replaced = 0;
        Impl::Landing landing;
        std::vector<int64_t> entries;
        int64_t fadeFrames = 0;
        {
            MixerGuard guard(*FImpl->FMixer);
            if (const Impl::Request* earlier = FImpl->PendingTo(From.Id)) {
                source = Track{earlier->From};
                replaced = earlier->Id;
                landing = {earlier->Landing, earlier->LandingSource};
                FImpl->CheckApart(source, To, "a transition");
            }
            Impl::TrackState& lead = *FImpl->Members(source).front();
            if (replaced == 0) landing = FImpl->Predict(lead, Options.When, bars, 0);
            fadeFrames =
                Options.FadeKind == Fade::None ? 0 : FImpl->FadeFrames(Options.Length, lead);
            for (Impl::TrackState* state : to) {
                const TOggData& stream = *state->Stream;
                int64_t entry = 0;
                if (Options.StartAt == Entry::Same) entry = landing.Source;
                if (Options.StartAt == Entry::Cue)
                    entry = stream.CuePositions()[static_cast<size_t>(Options.CueIndex)].StartFrame;
                if (Options.StartAt == Entry::SameBeat && lead.Grid.Known() &&
                    state->Grid.Known()) {
                    // The same place within the bar: the beat at or before the landing, and
                    // how far past it.
                    int64_t beat = lead.Grid.BeatAtOrAfter(landing.Source);
                    if (lead.Grid.BeatFrame(beat) > landing.Source) --beat;
                    const int64_t past = landing.Source - lead.Grid.BeatFrame(beat);
                    entry = state->Grid.BeatFrame(lead.Grid.BeatInBar(beat)) + past;
                }
                entries.push_back(
                    std::clamp<int64_t>(entry, 0, std::max<int64_t>(0, stream.PcmTotal() - 1)));
            }
        }
        // Made ready aside: the destination at its entry (a sounding one jumps there), the
        // bridge at its start.
        std::vector<std::unique_ptr<PreparedPosition>> prepared;
        for (size_t i = 0; i < to.size(); ++i)
            prepared.push_back(to[i]->Stream->PreparePosition(entries[i]));
        std::unique_ptr<PreparedPosition> bridgeStart =
            bridge != nullptr ? bridge->Stream->PreparePosition(0) : nullptr;

        // A fade of no length is a cut, whatever its kind.
        const bool fadeOut =
            fadeFrames > 0 && (Options.FadeKind == Fade::Out || Options.FadeKind == Fade::Cross);
        const bool fadeIn =
            fadeFrames > 0 && (Options.FadeKind == Fade::In || Options.FadeKind == Fade::Cross);

        MixerGuard guard(*FImpl->FMixer, &FImpl->FSpent);
        // The mixer went past the point meanwhile: find the next one.
        if (FImpl->NextOutFrame() > landing.Out && attempt < 3) continue;
        const std::vector<Impl::TrackState*> from = FImpl->Members(source);
        // What waits for the destination and the bridge goes, and a transition from the same
        // source; the source's own start, if it waits, stays.
        std::vector<uint32_t> ids = FImpl->IdsOf(To);
        if (bridge != nullptr) ids.push_back(bridge->Id);
        Impl::Withdrawal out = FImpl->WithdrawalFor(ids);
        if (replaced != 0) out.Requests.push_back(replaced);
        if (const Impl::Request* earlier = FImpl->PendingFrom(source.Id))
            out.Requests.push_back(earlier->Id);
        for (const uint32_t id : FImpl->IdsOf(source)) ids.push_back(id);

        std::vector<bool> sounding;
        std::vector<Impl::TrackState*> starting = to;
        int32_t changes = 2 + (bridge != nullptr ? 1 : 0);
        int32_t jumps = 0;
        for (Impl::TrackState* state : to) {
            sounding.push_back(FImpl->Sounds(*state));
            const int64_t rise = fadeIn ? fadeFrames : (sounding.back() ? kDipFrames : 0);
            changes += FImpl->FadeChanges(rise, Options.Shape) +
                       (sounding.back() ? Impl::kJumpChanges : 0);
            jumps += sounding.back() ? 1 : 0;
        }
        for (size_t i = 0; i < from.size(); ++i)
            changes += fadeOut ? FImpl->FadeChanges(fadeFrames, Options.Shape) : 1;
        if (bridge != nullptr) starting.push_back(bridge);
        FImpl->CheckRoom(out, changes, jumps, starting);
        FImpl->Withdraw(out);

        const int64_t at = std::max(landing.Out, FImpl->NextOutFrame());
        FImpl->BeginRequest(ids, at, source.Id, To.Id, landing.Source);
        int64_t destinationAt = at;
        if (bridge != nullptr) {
            FImpl->EnsureSlot(*bridge);
            FImpl->ApplyRestart(*bridge, std::move(bridgeStart));
            FImpl->ScheduleFade(*bridge, at, 0, FadeShape::Linear, true, true, false);
            destinationAt = at + FImpl->OutputFramesOf(*bridge, bridge->Stream->PcmTotal());
        }
        for (size_t i = 0; i < to.size(); ++i) {
            FImpl->EnsureSlot(*to[i]);
            // A destination already playing goes on playing: it jumps to its entry, never
            // falling silent.
            if (sounding[i])
                FImpl->ScheduleJump(*to[i], destinationAt, std::move(prepared[i]));
            else
                FImpl->ApplyRestart(*to[i], std::move(prepared[i]));
            const int64_t rise = fadeIn ? fadeFrames : (sounding[i] ? kDipFrames : 0);
            FImpl->ScheduleFade(*to[i], destinationAt, rise, Options.Shape, true, true,
                                Options.Loop);
        }
        for (Impl::TrackState* state : from) {
            if (fadeOut)
                FImpl->ScheduleFade(*state, at, fadeFrames, Options.Shape, false, false, true);
            else
                FImpl->ScheduleFadeOut(*state, at, false, 0.0);
        }
        FImpl->ScheduleMarker(at, MusicEventKind::TransitionStart, To.Id);
        FImpl->ScheduleMarker(
            std::max(at + (fadeOut ? fadeFrames : 0), destinationAt + (fadeIn ? fadeFrames : 0)),
            MusicEventKind::TransitionEnd, To.Id);
        return at;
    }
}

int64_t MusicPlayer::SetVolume(Track Which, double Volume, const VolumeChange& Change) {
    const double volume = music::CheckRange(Volume, 0.0, 2.0, "the volume");
    if (Change.When != Quantize::Now && Change.When != Quantize::Beat &&
        Change.When != Quantize::Bar)
        throw MusicError(MusicErrorCode::InvalidArgument,
                         "a volume change lands now, on a beat or on a bar");
    const std::vector<Impl::TrackState*> members = FImpl->Members(Which);
    // A layer follows its group's grid.
    Impl::TrackState& lead = members.front()->GroupId != 0
                                 ? *FImpl->Members(Track{members.front()->GroupId}).front()
                                 : *members.front();
    const int64_t frames = FImpl->FadeFrames(Change.Length, lead);
    const std::vector<uint32_t> ids = FImpl->IdsOf(Which);
    MixerGuard guard(*FImpl->FMixer);
    music::ScheduledChange setting;
    setting.Frame = Change.When == Quantize::Now ? FImpl->NextOutFrame()
                                                 : FImpl->Predict(lead, Change.When, 1, 0).Out;
    setting.What = Kind::VolumeTo;
    setting.Value = static_cast<float>(volume);
    setting.Seconds = static_cast<float>(static_cast<double>(frames) / kFramesPerSecond);
    return FImpl->ScheduleSetting(members, ids, setting);
}

int64_t MusicPlayer::Impl::ScheduleSetting(const std::vector<TrackState*>& Members,
                                           const std::vector<uint32_t>& Ids,
                                           music::ScheduledChange Setting) {
    // The latest change of a setting for a track replaces one still waiting; settings are
    // no request of the transport's, so that a stop or a transition leaves them be.
    Withdrawal out = WithdrawalFor(Ids, Scope::Setting);
    out.Setting = Setting.What;
    CheckRoom(out, static_cast<int32_t>(Members.size()), 0, {});
    Withdraw(out);
    FRequestId = 0;
    for (const TrackState* state : Members) {
        Setting.TrackId = state->Id;
        ScheduleChange(Setting);
    }
    return Setting.Frame;
}

int64_t MusicPlayer::Impl::SetNow(Track Which, music::ScheduledChange Setting) {
    const std::vector<TrackState*> members = Members(Which);
    const std::vector<uint32_t> ids = IdsOf(Which);
    MixerGuard guard(*FMixer);
    Setting.Frame = NextOutFrame();
    return ScheduleSetting(members, ids, Setting);
}

int64_t MusicPlayer::PlayStinger(Track Stinger, const StingerOptions& Options) {
    FImpl->WakeDevice();
    Impl::TrackState& stinger = FImpl->Find(Stinger);
    Impl::TrackState& grid = *FImpl->Members(Options.Grid).front();
    if (&grid == &stinger)
        throw MusicError(MusicErrorCode::InvalidArgument,
                         "a stinger lands on another track's grid, not its own");
    if (Options.When != Quantize::Beat && Options.When != Quantize::Bar)
        throw MusicError(MusicErrorCode::InvalidArgument, "a stinger lands on a beat or a bar");
    if (Options.PickupFrames < 0 || Options.PickupFrames > stinger.Stream->PcmTotal())
        throw MusicError(MusicErrorCode::InvalidArgument,
                         "the pickup must be 0 to the stinger's length in frames");
    const double cooldownSec = music::CheckSeconds(Options.CooldownSec, "the cooldown");
    const int64_t pickup = FImpl->OutputFramesOf(stinger, Options.PickupFrames);
    std::unique_ptr<PreparedPosition> start = stinger.Stream->PreparePosition(0);
    MixerGuard guard(*FImpl->FMixer, &FImpl->FSpent);
    const int64_t at = FImpl->Predict(grid, Options.When, 1, FImpl->NextOutFrame() + pickup).Out;
    // The cooldown is the stinger's own: from its last downbeat to this one.
    if (stinger.LastStingerOut >= 0 &&
        static_cast<double>(at - stinger.LastStingerOut) < cooldownSec * kFramesPerSecond)
        return -1;
    // Triggered again before its last start was heard, the new one replaces it; while it
    // sounds, it dips out over a few milliseconds where the new one starts.
    const std::vector<uint32_t> ids{stinger.Id};
    const Impl::Withdrawal out = FImpl->WithdrawalFor(ids);
    const bool sounding = FImpl->Sounds(stinger);
    FImpl->CheckRoom(out, 1 + (sounding ? Impl::kJumpChanges : 0), sounding ? 1 : 0, {&stinger});
    FImpl->Withdraw(out);
    const int64_t startAt = at - pickup;
    FImpl->BeginRequest(ids, startAt);
    FImpl->EnsureSlot(stinger);
    if (sounding) {
        FImpl->ScheduleJump(stinger, startAt, std::move(start));
        FImpl->ScheduleFade(stinger, startAt, kDipFrames, FadeShape::Linear, true, true, false);
    } else {
        FImpl->FSpent.push_back(stinger.Stream->StopAt(std::move(start), true));
        Impl::Publish(stinger);
        FImpl->ScheduleFade(stinger, startAt, 0, FadeShape::Linear, true, true, false);
    }
    stinger.LastStingerOut = at;
    return at;
}

int64_t MusicPlayer::NextBeat(Track Which) { return FImpl->NextGridPoint(Which, Quantize::Beat); }

int64_t MusicPlayer::NextBar(Track Which) { return FImpl->NextGridPoint(Which, Quantize::Bar); }

int64_t MusicPlayer::Impl::NextGridPoint(Track Which, Quantize When) {
    TrackState& lead = *Members(Which).front();
    MixerGuard guard(*FMixer);
    if (!lead.Grid.Known())
        throw MusicError(MusicErrorCode::InvalidArgument, Describe(lead) + " has no tempo");
    if (!Sounds(lead) || lead.FadingTo != Ending::None) return -1;
    return Predict(lead, When, 1, 0).Out;
}

}  // namespace oggmix
