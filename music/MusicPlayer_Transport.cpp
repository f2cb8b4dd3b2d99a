// MusicPlayer_Transport.cpp: play, stop, pause, resume, cross-fade and seek; the position
// being heard; events.
#include <cmath>

#include "music/MusicArguments.h"
#include "music/MusicPlayer_Impl.h"

namespace oggmix {
namespace {

// Tries to prepare a restart outside the lock before giving up and seeking under it.
constexpr int kPrepareAttempts = 3;

}  // namespace

int64_t MusicPlayer::Impl::RestartFrame(TrackState& State) {
    if (State.FadingTo == Ending::Pause && State.SilentSource >= 0) return State.SilentSource;
    if (State.FadingTo == Ending::Stop && State.SilentSource >= 0 && !State.Rewound) return 0;
    if (State.Stream->NeedsRestart(true)) return State.Stream->PositionFrame(true);
    return -1;
}

void MusicPlayer::Impl::WithRestart(TrackState& State,
                                    const std::function<void(std::unique_ptr<PreparedPosition>)>&
                                        Change) {
    for (int attempt = 1;; ++attempt) {
        int64_t frame = -1;
        {
            MixerGuard guard(*FMixer);
            frame = RestartFrame(State);
            if (frame < 0) return Change(nullptr);
        }
        // The heavy part (a decoder and a converter made ready) runs while the device mixes.
        std::unique_ptr<PreparedPosition> prepared = State.Stream->PreparePosition(frame);
        MixerGuard guard(*FMixer);
        const int64_t now = RestartFrame(State);
        if (now == frame) return Change(std::move(prepared));
        if (now < 0) return Change(nullptr);
        if (attempt == kPrepareAttempts) {
            // The device keeps moving the goal: give up on preparing it aside.
            State.Stream->SeekFrame(now, true);
            return Change(nullptr);
        }
    }
}

void MusicPlayer::Impl::StartLocked(TrackState& State, bool Loop, double FadeInSec,
                                    std::unique_ptr<PreparedPosition> From) {
    EnsureSlot(State);
    TOggData& stream = *State.Stream;
    // A track still fading out (to stop or to pause) turns back up from where its fade is; one
    // whose fade fell silent goes on from where it fell silent, or from the start after a stop.
    const bool running = stream.GetState(true) >= 2 && State.SilentSource < 0;
    if (From) {
        if (State.FadingTo == Ending::Stop && !State.Rewound)
            stream.StopAt(std::move(From), true);
        else
            stream.ApplyPosition(std::move(From), true);
    }
    // Under the mixer's lock no render sees the silent start of a fade-in (which would pause
    // the stream).
    if (!running && FadeInSec > 0.0) stream.Fade(0.0f, 0.0f);
    stream.Fade(1.0f, static_cast<float>(FadeInSec));
    stream.Play(Loop, true);
    State.Loop = Loop;
    State.FadingTo = Ending::None;
    State.SilentOut = -1;
    State.SilentSource = -1;
    State.Rewound = false;
}

void MusicPlayer::Impl::FadeOutLocked(TrackState& State, Ending To, double FadeSec) {
    State.FadingTo = To;
    State.FadeFromOut = NextOutFrame();
    State.SilentOut = -1;
    State.SilentSource = -1;
    State.Rewound = false;
    TOggData& stream = *State.Stream;
    stream.Fade(0.0f, static_cast<float>(FadeSec));
    if (FadeSec >= 0.01) return;
    // At once: the blocks mixed already are still heard, nothing after them.
    stream.Pause(true);
    State.SilentOut = NextOutFrame();
    State.SilentSource = To == Ending::Stop ? 0 : stream.PositionFrame(true);
}

void MusicPlayer::Impl::FinishStops() {
    for (auto& [id, state] : FTracks) {
        bool due = false;
        {
            MixerGuard guard(*FMixer);
            due = state.FadingTo == Ending::Stop && state.SilentSource >= 0 && !state.Rewound &&
                  state.Stream->GetState(true) < 2;
        }
        if (!due) continue;
        std::unique_ptr<PreparedPosition> start = state.Stream->PreparePosition(0);
        MixerGuard guard(*FMixer);
        if (state.FadingTo != Ending::Stop || state.Rewound || state.Stream->GetState(true) >= 2)
            continue;
        state.Stream->StopAt(std::move(start), true);
        state.Rewound = true;
    }
}

bool MusicPlayer::Impl::FadeOver(const TrackState& State, int64_t Heard) const {
    if (State.SilentOut >= 0) return Heard >= State.SilentOut;
    // The music ended during the fade: over once its last block is heard.
    return State.Stream->GetState(true) < 2 && !FSpans.MusicFrom(State.Id, Heard);
}

double MusicPlayer::Impl::HeardSourceFrame(TrackState& State, int64_t Heard) {
    if (State.FadingTo != Ending::None && State.SilentOut >= 0 && Heard >= State.SilentOut)
        return State.FadingTo == Ending::Stop ? 0.0 : static_cast<double>(State.SilentSource);
    if (const std::optional<double> frame = FSpans.SourceFrameAt(State.Id, Heard)) return *frame;
    // Nothing of the track in flight: where the stream stands is what is heard next.
    if (State.FadingTo == Ending::Stop && State.Stream->GetState(true) < 2) return 0.0;
    return static_cast<double>(State.Stream->PositionFrame(true));
}

void MusicPlayer::Play(Track Which, const PlayOptions& Options) {
    const double fadeSec = music::CheckSeconds(Options.FadeInSec, "the fade-in");
    Impl::TrackState& state = FImpl->Find(Which);
    FImpl->WithRestart(state, [&](std::unique_ptr<PreparedPosition> from) {
        FImpl->StartLocked(state, Options.Loop, fadeSec, std::move(from));
    });
}

void MusicPlayer::Stop(Track Which, double FadeOutSec) {
    const double fadeSec = music::CheckSeconds(FadeOutSec, "the fade-out");
    Impl::TrackState& state = FImpl->Find(Which);
    {
        MixerGuard guard(*FImpl->FMixer);
        if (state.FadingTo == Impl::Ending::Stop) return;
        if (state.Stream->GetState(true) >= 2 && state.SilentSource < 0) {
            FImpl->FadeOutLocked(state, Impl::Ending::Stop, fadeSec);
            return;
        }
    }
    // Not playing: rewound at once, prepared aside.
    std::unique_ptr<PreparedPosition> start = state.Stream->PreparePosition(0);
    MixerGuard guard(*FImpl->FMixer);
    state.Stream->StopAt(std::move(start), true);
    state.FadingTo = Impl::Ending::Stop;
    state.SilentOut = FImpl->NextOutFrame();
    state.SilentSource = 0;
    state.Rewound = true;
}

void MusicPlayer::Pause(Track Which, double FadeSec) {
    const double fadeSec = music::CheckSeconds(FadeSec, "the pause fade");
    Impl::TrackState& state = FImpl->Find(Which);
    MixerGuard guard(*FImpl->FMixer);
    if (state.Stream->GetState(true) < 2 || state.FadingTo != Impl::Ending::None) return;
    FImpl->FadeOutLocked(state, Impl::Ending::Pause, fadeSec);
}

void MusicPlayer::Resume(Track Which, double FadeSec) {
    const double fadeSec = music::CheckSeconds(FadeSec, "the resume fade");
    Impl::TrackState& state = FImpl->Find(Which);
    {
        MixerGuard guard(*FImpl->FMixer);
        if (state.FadingTo != Impl::Ending::Pause) return;
    }
    FImpl->WithRestart(state, [&](std::unique_ptr<PreparedPosition> from) {
        FImpl->StartLocked(state, state.Loop, fadeSec, std::move(from));
    });
}

void MusicPlayer::CrossFade(Track From, Track To, double Seconds, bool Loop) {
    const double fadeSec = music::CheckSeconds(Seconds, "the cross-fade");
    Impl::TrackState& from = FImpl->Find(From);
    Impl::TrackState& to = FImpl->Find(To);
    if (From == To)
        throw MusicError(MusicErrorCode::InvalidArgument,
                         "a cross-fade needs two tracks; both are " + FImpl->Describe(from));
    FImpl->WithRestart(to, [&](std::unique_ptr<PreparedPosition> start) {
        if (from.Stream->GetState(true) >= 2 && from.FadingTo != Impl::Ending::Stop &&
            from.SilentSource < 0)
            FImpl->FadeOutLocked(from, Impl::Ending::Stop, fadeSec);
        FImpl->StartLocked(to, Loop, fadeSec, std::move(start));
    });
}

void MusicPlayer::Seek(Track Which, double Seconds) {
    Impl::TrackState& state = FImpl->Find(Which);
    if (!std::isfinite(Seconds) || Seconds < 0.0)
        throw MusicError(MusicErrorCode::InvalidArgument, "cannot seek " + FImpl->Describe(state) +
                                                              " to " + std::to_string(Seconds) +
                                                              " s");
    const TOggData& stream = *state.Stream;
    const int64_t frame =
        std::min(std::llround(Seconds * stream.Rate()), std::max<int64_t>(0, stream.PcmTotal()));
    std::unique_ptr<PreparedPosition> prepared = state.Stream->PreparePosition(frame);
    MixerGuard guard(*FImpl->FMixer);
    state.Stream->ApplyPosition(std::move(prepared), true);
    // A paused track resumes from the place sought; a stopped one plays from there.
    if (state.FadingTo == Impl::Ending::Pause && state.SilentSource >= 0)
        state.SilentSource = frame;
    else if (state.FadingTo == Impl::Ending::Stop && state.Stream->GetState(true) < 2)
        state.FadingTo = Impl::Ending::None;
}

double MusicPlayer::Position(Track Which) {
    Impl::TrackState& state = FImpl->Find(Which);
    const int64_t heard = FImpl->FDevice->HeardFrames();  // before the mixer's lock
    MixerGuard guard(*FImpl->FMixer);
    return FImpl->HeardSourceFrame(state, heard) / state.Stream->Rate();
}

double MusicPlayer::Length(Track Which) { return FImpl->Find(Which).Stream->TotalTime(); }

std::vector<LoopCue> MusicPlayer::Cues(Track Which) {
    const TOggData& stream = *FImpl->Find(Which).Stream;
    std::vector<LoopCue> cues;
    for (int32_t i = 0; i < kCueCount; ++i) {
        const TLoopCue& cue = stream.Cues()[static_cast<size_t>(i)];
        const CueFrames& frames = stream.CuePositions()[static_cast<size_t>(i)];
        if (cue.Count != 0) cues.push_back({i, frames.StartFrame, frames.EndFrame, cue.Count});
    }
    return cues;
}

bool MusicPlayer::IsPlaying(Track Which) {
    Impl::TrackState& state = FImpl->Find(Which);
    const int64_t heard = FImpl->FDevice->HeardFrames();
    MixerGuard guard(*FImpl->FMixer);
    if (state.FadingTo != Impl::Ending::None) return !FImpl->FadeOver(state, heard);
    return state.Stream->GetState(true) >= 2 || FImpl->FSpans.MusicFrom(state.Id, heard);
}

void MusicPlayer::Impl::CheckDevice(std::vector<MusicEvent>& Out) {
    const bool lost = !FDevice->Available() && FDevice->Status().empty();
    const uint64_t losses = FDevice->Losses();
    // A loss and return between two polls still counts as both.
    if (!FDeviceLost && (lost || losses != FSeenLosses)) {
        Out.push_back({MusicEventKind::DeviceLost, Track{}, -1});
        FDeviceLost = true;
    }
    if (FDeviceLost && !lost) {
        Out.push_back({MusicEventKind::DeviceBack, Track{}, -1});
        FDeviceLost = false;
    }
    FSeenLosses = losses;
}

std::vector<MusicEvent> MusicPlayer::Poll() {
    std::vector<MusicEvent> due;
    FImpl->CheckDevice(due);
    const int64_t heard = FImpl->FDevice->HeardFrames();
    {
        MixerGuard guard(*FImpl->FMixer);
        FImpl->FSpans.TakeDueEvents(heard, due);
    }
    FImpl->FinishStops();
    if (FImpl->FCallback)
        for (const MusicEvent& event : due) FImpl->FCallback(event);
    return due;
}

void MusicPlayer::SetEventCallback(std::function<void(const MusicEvent&)> Callback) {
    FImpl->FCallback = std::move(Callback);
}

}  // namespace oggmix
