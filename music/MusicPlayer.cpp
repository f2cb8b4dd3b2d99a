// MusicPlayer.cpp: opening and closing the player, loading and unloading tracks, and the
// device thread's side: mixing a block when the device asks for more, and writing down what
// each block holds.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>

#include "base/Exceptions.h"
#include "base/Utf8Path.h"
#include "music/MusicArguments.h"
#include "music/MusicPlayer_Impl.h"
#include "sound/platform/AudioBackend.h"

namespace oggmix {
namespace {

// Handles are unique in the process, so that a stale one never names another track.
std::atomic<uint32_t> gNextTrackId{1};

std::unique_ptr<TVorbisFileDLL> BindDecoder(const std::string& path) {
    auto binding = std::make_unique<TVorbisFileDLL>(false);
    if (path.empty()) {
        (void)binding->BindLinked();
        return binding;
    }
    try {
        if (!binding->LoadDLL(path))
            throw MusicError(MusicErrorCode::NoDecoder,
                             "the decoding library " + path + " lacks entry points");
    } catch (const ERangeError& e) {
        throw MusicError(MusicErrorCode::NoDecoder,
                         "the decoding library " + path + " cannot be loaded: " + e.Message());
    }
    return binding;
}

constexpr int32_t kMinBlockFrames = 1024;
constexpr int32_t kMaxBlockFrames = 8192;

int32_t CheckBlockFrames(int32_t frames) {
    if (frames < kMinBlockFrames || frames > kMaxBlockFrames || frames % 4 != 0)
        throw MusicError(MusicErrorCode::InvalidArgument,
                         "BlockFrames must be 1024 to 8192 frames and a multiple of 4, not " +
                             std::to_string(frames));
    return frames;
}

int32_t LatencyOf(int32_t ms) {
    if (ms == 0) return kDefaultLatencyMs;
    return static_cast<int32_t>(music::CheckRange(ms, 10, 1000, "LatencyMs"));
}

}  // namespace

MusicPlayer::Impl::Impl(const PlayerOptions& Options)
    : FBlockFrames(CheckBlockFrames(Options.BlockFrames)),
      FDecoder(BindDecoder(Options.DecoderPath)),
      FMixer(std::make_unique<TOggPlayer>(FBlockFrames * 2 * kBytesPerFrame, kSlotCount)) {
    {
        MixerGuard guard(*FMixer);
        FMixer->OnMix = [this](int32_t*, int32_t) { OnMixed(); };
    }
    const std::string backend = Options.Backend.empty() ? AudioBackendName() : Options.Backend;
    FDevice = std::make_unique<music::DeviceLink>(
        backend, LatencyOf(Options.LatencyMs), Options.RequireDevice,
        [this](std::span<int16_t> out) { return Pull(out); },
        [this](int64_t frames) { Skip(frames); });
    FSeenLosses = FDevice->Losses();
    FDevice->Start();
}

MusicPlayer::Impl::~Impl() {
    // The device stops pulling first; then the streams go, while their binding is still here.
    FDevice.reset();
    {
        MixerGuard guard(*FMixer);
        for (int32_t slot = 0; slot < kSlotCount; ++slot) FMixer->ClearSlot(slot, false);
    }
    FTracks.clear();
    music::ForgetPlayer(FPlayerNumber);
}

MusicPlayer::Impl::TrackState& MusicPlayer::Impl::Find(Track Which) {
    const auto found = FTracks.find(Which.Id);
    if (found != FTracks.end()) return found->second;
    if (const uint32_t owner = music::OwnerOf(Which.Id); owner != 0 && owner != FPlayerNumber)
        throw MusicError(MusicErrorCode::InvalidTrack,
                         "track " + std::to_string(Which.Id) + " belongs to player " +
                             std::to_string(owner) + ", not to this one (player " +
                             std::to_string(FPlayerNumber) + ")");
    throw MusicError(MusicErrorCode::InvalidTrack,
                     "track " + std::to_string(Which.Id) +
                         " is not loaded in this player (never loaded, or unloaded)");
}

std::string MusicPlayer::Impl::Describe(const TrackState& State) const {
    return "track " + std::to_string(State.Id) + " (" + State.Name + ")";
}

std::unique_ptr<TOggData> MusicPlayer::Impl::NewStream() const {
    // The mixer renders each stream into its own pieces on the device's thread, which must not
    // allocate: no ring, and decoders set up before they reach it.
    auto stream = std::make_unique<TOggData>(FBlockFrames * kBytesPerWideFrame, StreamUse::Direct);
    stream->SetDecoderBinding(FDecoder.get());
    // A game's music comes from many tools: their LOOPSTART tags loop it too, and any rate
    // and channel count plays.
    stream->SetLoopStartTags(true);
    stream->SetConversion(true);
    stream->SetPlayRecords(true);
    return stream;
}

Track MusicPlayer::Impl::AddTrack(std::unique_ptr<TOggData> Stream, const std::string& Name) {
    if (!Stream->Renders())
        throw MusicError(MusicErrorCode::Unsupported,
                         Name + ": " + std::to_string(Stream->Rate()) + " Hz with " +
                             std::to_string(Stream->Channels()) +
                             " channels cannot be played (8000 to 192000 Hz, 1 to 8 channels)");
    Stream->Fade(1.0f, 0.0f);
    Stream->SetMasterVolume(static_cast<float>(FMasterVolume));
    const uint32_t id = NewTrackId();
    TrackState state;
    state.Id = id;
    state.Name = Name;
    state.Grid = TagGrid(*Stream);
    state.Stream = std::move(Stream);
    state.Ledger = std::make_unique<music::shared::TrackLedger>(ViewOf(state));
    MixerGuard guard(*FMixer);  // the device thread looks tracks up by id
    FTracks.emplace(id, std::move(state));
    return Track{id};
}

uint32_t MusicPlayer::Impl::NewTrackId() noexcept {
    const uint32_t id = gNextTrackId.fetch_add(1);
    music::RecordOwner(id, FPlayerNumber);
    return id;
}

void MusicPlayer::Impl::EnsureSlot(TrackState& State) {
    if (State.Slot >= 0) return;
    int32_t chosen = -1;
    for (int32_t slot = 0; slot < kSlotCount && chosen < 0; ++slot)
        if (FSlotTrack[static_cast<size_t>(slot)] == nullptr) chosen = slot;
    // A track at rest gives up its slot, unless it is to start on a frame still to come.
    for (int32_t slot = 0; slot < kSlotCount && chosen < 0; ++slot)
        if (const uint32_t id = FSlotTrack[static_cast<size_t>(slot)]->Id;
            FMixer->Slots(slot)->GetState(true) < 2 &&
            !FSchedule.Any([id](const music::ScheduledChange& c) { return c.TrackId == id; }))
            chosen = slot;
    if (chosen < 0)
        throw MusicError(MusicErrorCode::TooManyPlaying,
                         Describe(State) + " cannot play: " + std::to_string(kMaxPlayingTracks) +
                             " tracks are playing already");
    TrackState*& holder = FSlotTrack[static_cast<size_t>(chosen)];
    if (holder != nullptr) holder->Slot = -1;
    FMixer->SetSlot(chosen, State.Stream.get(), false);
    holder = &State;
    State.Slot = chosen;
}

Track MusicPlayer::Load(const std::string& Path) {
    auto stream = FImpl->NewStream();
    try {
        if (std::error_code error; std::filesystem::is_directory(PathFromUtf8(Path), error))
            throw MusicError(MusicErrorCode::ReadFailed, Path + ": is a directory");
        if (!stream->LoadFromFile(Path))
            throw MusicError(MusicErrorCode::FileNotFound, Path + ": no such file");
    } catch (const EInOutError& e) {
        throw MusicError(MusicErrorCode::ReadFailed,
                         Path + ": cannot be read (" + e.Message() + ")");
    } catch (const ERangeError&) {
        throw MusicError(MusicErrorCode::NotOggVorbis, Path + ": not an Ogg Vorbis file");
    } catch (const std::bad_alloc&) {
        throw MusicError(MusicErrorCode::ReadFailed, Path + ": too large to hold in memory");
    }
    return FImpl->AddTrack(std::move(stream), Path);
}

Track MusicPlayer::Load(std::span<const std::byte> Bytes, const std::string& Name) {
    auto stream = FImpl->NewStream();
    const auto* first = reinterpret_cast<const uint8_t*>(Bytes.data());
    try {
        (void)stream->LoadFromStream(
            std::make_unique<MemoryStream>(std::vector<uint8_t>(first, first + Bytes.size())));
    } catch (const ERangeError&) {
        throw MusicError(MusicErrorCode::NotOggVorbis, Name + ": not an Ogg Vorbis file");
    }
    return FImpl->AddTrack(std::move(stream), Name);
}

void MusicPlayer::Unload(Track Which) {
    auto& groups = FImpl->FGroups;
    const std::vector<uint32_t> ids = FImpl->IdsOf(Which);
    if (const auto group = groups.find(Which.Id); group != groups.end()) {
        music::ForgetOwner(Which.Id);
        // A group goes; its layers stay, each a track of its own again, and what was waiting
        // for the group goes with it.
        MixerGuard guard(*FImpl->FMixer, &FImpl->FSpent);
        FImpl->Withdraw(FImpl->WithdrawalFor({Which.Id}, Impl::Scope::All));
        for (const uint32_t id : group->second.Layers) FImpl->FTracks.at(id).GroupId = 0;
        groups.erase(group);
        return;
    }
    Impl::TrackState& state = FImpl->Find(Which);
    music::ForgetOwner(Which.Id);
    std::unique_ptr<TOggData> stream;  // freed once out of the device thread's reach
    MixerGuard guard(*FImpl->FMixer, &FImpl->FSpent);
    FImpl->Withdraw(FImpl->WithdrawalFor(ids, Impl::Scope::All));
    if (state.Slot >= 0) {
        FImpl->FMixer->ClearSlot(state.Slot, false);
        FImpl->FSlotTrack[static_cast<size_t>(state.Slot)] = nullptr;
    }
    if (const auto group = groups.find(state.GroupId); group != groups.end()) {
        std::erase(group->second.Layers, Which.Id);
        if (group->second.Layers.empty()) {
            FImpl->Withdraw(FImpl->WithdrawalFor({group->first}, Impl::Scope::All));
            groups.erase(group);
        }
    }
    stream = std::move(state.Stream);
    FImpl->FTracks.erase(Which.Id);
}

// ---- The device thread ----

bool MusicPlayer::Impl::Pull(std::span<int16_t> Interleaved) noexcept {
    // Exactly what the device asks for is mixed, no more: a change lands on the first frame
    // the device has not taken yet, and is heard as soon as the device can play it.
    const auto asked = std::chrono::steady_clock::now();
    MixerGuard guard(*FMixer, MixerGuard::Spinning{});
    const auto waitedUs = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now() - asked)
                              .count();
    if (waitedUs > FLongestWaitUs.load(std::memory_order_relaxed))
        FLongestWaitUs.store(waitedUs, std::memory_order_relaxed);
    const int64_t start = NextOutFrame();
    const int64_t end = start + static_cast<int64_t>(Interleaved.size() / 2);
    int64_t at = start;
    while (at < end) {
        // Every change due by this frame first, then the frames up to the next change, a
        // block at most.
        while (FSchedule.NextFrame() <= at) {
            Apply(FSchedule.Front());
            FSchedule.PopFront();
        }
        FPieceStart = at;
        FPieceFrames =
            static_cast<int32_t>(std::min({end, FSchedule.NextFrame(), at + FBlockFrames}) - at);
        (void)FMixer->MixFrames(Interleaved.subspan(static_cast<size_t>(at - start) * 2,
                                                    static_cast<size_t>(FPieceFrames) * 2),
                                false);
        at += FPieceFrames;
    }
    for (const TrackState* state : FSlotTrack)
        if (state != nullptr) Publish(*state);
    FMixedFrames.store(end, std::memory_order_release);
    if (FSchedule.NextFrame() != INT64_MAX) return true;
    for (int32_t slot = 0; slot < kSlotCount; ++slot)
        if (FSlotTrack[static_cast<size_t>(slot)] != nullptr &&
            FMixer->Slots(slot)->GetState(true) >= 2)
            return true;
    return false;
}

void MusicPlayer::Impl::Skip(int64_t Frames) {
    MixerGuard guard(*FMixer);
    FMixedFrames.store(FMixedFrames.load(std::memory_order_relaxed) + Frames,
                       std::memory_order_release);
}

MusicPlayer::Impl::TrackState* MusicPlayer::Impl::FindById(uint32_t Id) noexcept {
    const auto found = FTracks.find(Id);
    return found == FTracks.end() ? nullptr : &found->second;
}

void MusicPlayer::Impl::Apply(const music::ScheduledChange& Change) noexcept {
    using Kind = music::ScheduledChange::Kind;
    if (Change.What == Kind::Marker) {
        MusicEvent event = Change.Event;
        event.Frame = Change.Frame;
        (void)FEvents.Push({Change.Frame, event, false});
        return;
    }
    TrackState* state = FindById(Change.TrackId);
    if (state == nullptr) return;
    TOggData& stream = *state->Stream;
    switch (Change.What) {
        case Kind::Start: StartNow(*state, Change); break;
        case Kind::FadeOut: FadeOutNow(*state, Change); break;
        case Kind::FadeTo:
            stream.Fade(Change.Value, Change.Seconds);
            // A fade-out's first step: the track stops once the fade falls silent.
            if (Change.Falling && state->FadingTo == Ending::None) {
                state->FadingTo = Ending::Stop;
                state->FadeFromOut = Change.Frame;
                state->SilentOut = -1;
                state->SilentSource = -1;
                state->Rewound = false;
                state->BeatsUntil = Change.Frame;
            }
            break;
        case Kind::VolumeTo: stream.SetVolume(Change.Value, Change.Seconds); break;
        case Kind::PanTo: stream.SetPan(Change.Value, Change.Seconds); break;
        case Kind::FilterTo: {
            const auto& v = Change.Preset->Values;
            if (Change.Preset->ValueCount == 8)
                stream.SetFilterCurve8(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7],
                                       Change.Seconds);
            else
                stream.SetFilterCurve4(v[0], v[1], v[2], v[3], Change.Seconds);
            break;
        }
        case Kind::GainTo: stream.SetAGC(Change.Value); break;
        case Kind::MasterTo: stream.SetMasterVolume(Change.Value); break;
        case Kind::Jump:
            FPositions.Spend(Change.Position,
                             stream.ApplyPosition(FPositions.Take(Change.Position), true));
            break;
        case Kind::Marker: break;
    }
    Publish(*state);
}

void MusicPlayer::Impl::StartNow(TrackState& State, const music::ScheduledChange& Change) noexcept {
    TOggData& stream = *State.Stream;
    // A track still fading out (to stop or to pause) turns back up from where its fade is; one
    // at rest fades in from silence.
    const bool sounding = stream.GetState(true) >= 2 && State.SilentSource < 0;
    if (!sounding && Change.Seconds > 0.0f) stream.Fade(0.0f, 0.0f);
    stream.Fade(Change.Value, Change.Seconds);
    stream.Play(Change.Loop, true);
    State.Loop = Change.Loop;
    State.FadingTo = Ending::None;
    State.SilentOut = -1;
    State.SilentSource = -1;
    State.Rewound = false;
    State.BeatsUntil = std::numeric_limits<int64_t>::max();
}

void MusicPlayer::Impl::FadeOutNow(TrackState& State,
                                   const music::ScheduledChange& Change) noexcept {
    TOggData& stream = *State.Stream;
    const Ending to = Change.Pause ? Ending::Pause : Ending::Stop;
    if (stream.GetState(true) < 2 || State.SilentSource >= 0) {
        // Silent already: a stop still rewinds it (FinishStops, on the game thread).
        if (to == Ending::Stop && State.FadingTo != Ending::Stop) {
            State.FadingTo = Ending::Stop;
            State.SilentOut = Change.Frame;
            State.SilentSource = 0;
            State.Rewound = false;
        }
        return;
    }
    State.FadingTo = to;
    State.FadeFromOut = Change.Frame;
    State.SilentOut = -1;
    State.SilentSource = -1;
    State.Rewound = false;
    State.BeatsUntil = Change.Frame;
    stream.Fade(0.0f, Change.Seconds);
    if (Change.Seconds >= 0.01f) return;
    // At once: nothing of it from this frame on.
    stream.Pause(true);
    State.SilentOut = Change.Frame;
    State.SilentSource = to == Ending::Stop ? 0 : stream.PositionFrame(true);
}

void MusicPlayer::Impl::OnMixed() noexcept {
    const int64_t outStart = FPieceStart;
    for (int32_t slot = 0; slot < kSlotCount; ++slot) {
        TrackState* state = FSlotTrack[static_cast<size_t>(slot)];
        const PlayRecord* record = FMixer->SlotRecord(slot);
        if (state == nullptr || record == nullptr) continue;
        const int32_t rate = state->Stream->Rate();
        state->Ledger->Add(outStart, FPieceFrames, rate, *record);
        // A full ring drops the event (and counts it): the device's thread never waits.
        for (const PlayJump& jump : record->Jumps) {
            const int64_t frame = outStart + jump.OutputFrame;
            if (jump.Cause == PlayJumpCause::End) {
                (void)FEvents.Push(
                    {frame, {MusicEventKind::Ended, Track{state->Id}, -1, frame}, true});
                continue;
            }
            (void)FEvents.Push(
                {frame, {MusicEventKind::Looped, Track{state->Id}, jump.CueIndex, frame}, true});
            if (jump.Cause == PlayJumpCause::LoopCue)
                (void)FEvents.Push(
                    {frame,
                     {MusicEventKind::CueReached, Track{state->Id}, jump.CueIndex, frame},
                     false});
        }
        if (state->FadingTo != Ending::None && state->SilentOut < 0 &&
            outStart >= state->FadeFromOut && record->SilentFrame >= 0) {
            state->SilentOut = outStart + record->SilentFrame;
            state->SilentSource = std::llround(
                music::shared::TrackLedger::SourceFrameIn(*record, rate, record->SilentFrame));
        }
        // A group's beats are told once, for the group, from its lead.
        if (!state->Grid.Known()) continue;
        if (state->GroupId == 0) {
            TellBeats(*state, state->Id, *record);
        } else if (const auto group = FGroups.find(state->GroupId);
                   group != FGroups.end() && group->second.Layers.front() == state->Id) {
            TellBeats(*state, state->GroupId, *record);
        }
    }
}

void MusicPlayer::Impl::TellBeats(const TrackState& State, uint32_t ReportAs,
                                  const PlayRecord& Record) noexcept {
    const music::TempoGrid& grid = State.Grid;
    const int32_t rate = State.Stream->Rate();
    // The piece is music in stretches between its jumps; each beat inside a stretch is heard
    // where its source frame falls.
    int32_t fromOut = 0;
    int64_t fromSource = Record.StartFrame;
    const auto tell = [&](int32_t untilOut) {
        if (untilOut <= fromOut) return;
        const auto sourceEnd = static_cast<int64_t>(music::shared::TrackLedger::SourceFrameIn(
                                   Record, rate, untilOut - 1)) +
                               1;
        for (int64_t beat = grid.BeatAtOrAfter(fromSource);; ++beat) {
            const int64_t frame = grid.BeatFrame(beat);
            if (frame >= sourceEnd) break;
            const int64_t out =
                FPieceStart + fromOut +
                std::llround(static_cast<double>(frame - fromSource) * kFramesPerSecond / rate);
            if (out >= State.BeatsUntil) return;
            MusicEvent event{MusicEventKind::Beat, Track{ReportAs}, -1, out};
            event.Bar = grid.BarOf(beat);
            event.BeatInBar = grid.BeatInBar(beat);
            if (event.BeatInBar == 0) {
                MusicEvent bar = event;
                bar.Kind = MusicEventKind::Bar;
                (void)FEvents.Push({out, bar, false});
            }
            (void)FEvents.Push({out, event, false});
        }
    };
    for (const PlayJump& jump : Record.Jumps) {
        tell(std::min(jump.OutputFrame, Record.MusicFrames));
        if (jump.Cause == PlayJumpCause::End) return;
        fromOut = jump.OutputFrame;
        fromSource = jump.ToFrame;
    }
    tell(Record.MusicFrames);
}

void MusicPlayer::Impl::ScheduleChange(music::ScheduledChange Change) {
    Change.Request = FRequestId;
    // Room was checked before the call changed anything.
    if (!FSchedule.Add(Change))
        throw MusicError(MusicErrorCode::Internal, "the schedule overflowed its checked room");
    if (Change.What == music::ScheduledChange::Kind::Start)
        if (TrackState* state = FindById(Change.TrackId))
            state->PendingStarts.push_back(Change.Frame);
}

// ---- Opening, status ----

MusicPlayer::MusicPlayer(const PlayerOptions& Options) : FImpl(std::make_unique<Impl>(Options)) {}

MusicPlayer::~MusicPlayer() = default;

bool MusicPlayer::DeviceAvailable() const { return FImpl->FDevice->Available(); }
const std::string& MusicPlayer::DeviceStatus() const noexcept { return FImpl->FDevice->Status(); }
int32_t MusicPlayer::BlockFrames() const noexcept { return FImpl->FBlockFrames; }
const std::string& MusicPlayer::BackendName() const noexcept {
    return FImpl->FDevice->BackendName();
}

DeliveryStats MusicPlayer::Delivery() const noexcept {
    // A block begun counts as handed over.
    const int64_t frames = FImpl->FMixedFrames.load(std::memory_order_relaxed);
    return {static_cast<uint64_t>((frames + FImpl->FBlockFrames - 1) / FImpl->FBlockFrames),
            FImpl->FDevice->Underruns(), FImpl->FLongestWaitUs.load(std::memory_order_relaxed),
            FImpl->FDevice->LongestPullUs(), FImpl->FRefusedCalls};
}

}  // namespace oggmix
