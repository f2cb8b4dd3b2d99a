// MusicPlayer_Transport.cpp: play, stop, pause, resume, cross-fade and seek; the position
// being heard; events.
#include <algorithm>
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

void MusicPlayer::Impl::WithRestarts(const std::vector<TrackState*>& States,
                                     const RestartChange& Change) {
    const size_t count = States.size();
    const auto framesNow = [&] {
        std::vector<int64_t> frames(count);
        for (size_t i = 0; i < count; ++i) frames[i] = RestartFrame(*States[i]);
        return frames;
    };
    std::vector<std::unique_ptr<PreparedPosition>> prepared(count);
    for (int attempt = 1;; ++attempt) {
        std::vector<int64_t> frames;
        {
            MixerGuard guard(*FMixer);
            frames = framesNow();
            if (std::all_of(frames.begin(), frames.end(), [](int64_t f) { return f < 0; }))
                return Change(prepared);
        }
        // The heavy part (decoders and converters made ready) runs while the device mixes.
        for (size_t i = 0; i < count; ++i)
            prepared[i] = frames[i] < 0 ? nullptr : States[i]->Stream->PreparePosition(frames[i]);
        MixerGuard guard(*FMixer, &FSpent);
        const std::vector<int64_t> now = framesNow();
        if (now == frames) return Change(prepared);
        if (attempt == kPrepareAttempts) {
            // The device keeps moving the goal: give up on preparing it aside.
            for (size_t i = 0; i < count; ++i) {
                prepared[i].reset();
                if (now[i] >= 0) States[i]->Stream->SeekFrame(now[i], true);
            }
            return Change(prepared);
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
            FSpent.push_back(stream.StopAt(std::move(From), true));
        else
            FSpent.push_back(stream.ApplyPosition(std::move(From), true));
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
        MixerGuard guard(*FMixer, &FSpent);
        if (state.FadingTo != Ending::Stop || state.Rewound || state.Stream->GetState(true) >= 2)
            continue;
        FSpent.push_back(state.Stream->StopAt(std::move(start), true));
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
    FImpl->WakeDevice();
    const std::vector<Impl::TrackState*> members = FImpl->Members(Which);
    FImpl->WithRestarts(members, [&](Impl::Prepared& from) {
        for (size_t i = 0; i < members.size(); ++i)
            FImpl->StartLocked(*members[i], Options.Loop, fadeSec, std::move(from[i]));
    });
}

void MusicPlayer::Stop(Track Which, double FadeOutSec) {
    const double fadeSec = music::CheckSeconds(FadeOutSec, "the fade-out");
    const std::vector<Impl::TrackState*> members = FImpl->Members(Which);
    // Those playing fade out (and are rewound once silent); those at rest are rewound at once,
    // from a start prepared aside.
    std::vector<Impl::TrackState*> atRest;
    {
        MixerGuard guard(*FImpl->FMixer);
        for (Impl::TrackState* state : members) {
            if (state->FadingTo == Impl::Ending::Stop) continue;
            if (state->Stream->GetState(true) >= 2 && state->SilentSource < 0)
                FImpl->FadeOutLocked(*state, Impl::Ending::Stop, fadeSec);
            else
                atRest.push_back(state);
        }
    }
    if (atRest.empty()) return;
    std::vector<std::unique_ptr<PreparedPosition>> starts;
    for (Impl::TrackState* state : atRest) starts.push_back(state->Stream->PreparePosition(0));
    MixerGuard guard(*FImpl->FMixer, &FImpl->FSpent);
    for (size_t i = 0; i < atRest.size(); ++i) {
        Impl::TrackState& state = *atRest[i];
        FImpl->FSpent.push_back(state.Stream->StopAt(std::move(starts[i]), true));
        state.FadingTo = Impl::Ending::Stop;
        state.SilentOut = FImpl->NextOutFrame();
        state.SilentSource = 0;
        state.Rewound = true;
    }
}

void MusicPlayer::Pause(Track Which, double FadeSec) {
    const double fadeSec = music::CheckSeconds(FadeSec, "the pause fade");
    const std::vector<Impl::TrackState*> members = FImpl->Members(Which);
    MixerGuard guard(*FImpl->FMixer);
    for (Impl::TrackState* state : members)
        if (state->Stream->GetState(true) >= 2 && state->FadingTo == Impl::Ending::None)
            FImpl->FadeOutLocked(*state, Impl::Ending::Pause, fadeSec);
}

void MusicPlayer::Resume(Track Which, double FadeSec) {
    const double fadeSec = music::CheckSeconds(FadeSec, "the resume fade");
    FImpl->WakeDevice();
    std::vector<Impl::TrackState*> members = FImpl->Members(Which);
    {
        MixerGuard guard(*FImpl->FMixer);
        std::erase_if(members, [](const Impl::TrackState* state) {
            return state->FadingTo != Impl::Ending::Pause;
        });
    }
    FImpl->WithRestarts(members, [&](Impl::Prepared& from) {
        for (size_t i = 0; i < members.size(); ++i)
            FImpl->StartLocked(*members[i], members[i]->Loop, fadeSec, std::move(from[i]));
    });
}

void MusicPlayer::CrossFade(Track From, Track To, double Seconds, bool Loop) {
    const double fadeSec = music::CheckSeconds(Seconds, "the cross-fade");
    FImpl->WakeDevice();
    const std::vector<Impl::TrackState*> from = FImpl->Members(From);
    const std::vector<Impl::TrackState*> to = FImpl->Members(To);
    if (From == To)
        throw MusicError(MusicErrorCode::InvalidArgument,
                         "a cross-fade needs two tracks; both are " + FImpl->Describe(*from[0]));
    FImpl->WithRestarts(to, [&](Impl::Prepared& start) {
        for (Impl::TrackState* state : from)
            if (state->Stream->GetState(true) >= 2 && state->FadingTo != Impl::Ending::Stop &&
                state->SilentSource < 0)
                FImpl->FadeOutLocked(*state, Impl::Ending::Stop, fadeSec);
        for (size_t i = 0; i < to.size(); ++i)
            FImpl->StartLocked(*to[i], Loop, fadeSec, std::move(start[i]));
    });
}

void MusicPlayer::Seek(Track Which, double Seconds) {
    const std::vector<Impl::TrackState*> members = FImpl->Members(Which);
    if (!std::isfinite(Seconds) || Seconds < 0.0)
        throw MusicError(MusicErrorCode::InvalidArgument,
                         "cannot seek " + FImpl->Describe(*members[0]) + " to " +
                             std::to_string(Seconds) + " s");
    std::vector<int64_t> frames;
    std::vector<std::unique_ptr<PreparedPosition>> prepared;
    for (Impl::TrackState* state : members) {
        const TOggData& stream = *state->Stream;
        frames.push_back(std::min<int64_t>(std::llround(Seconds * stream.Rate()),
                                           std::max<int64_t>(0, stream.PcmTotal())));
        prepared.push_back(state->Stream->PreparePosition(frames.back()));
    }
    MixerGuard guard(*FImpl->FMixer, &FImpl->FSpent);
    for (size_t i = 0; i < members.size(); ++i) {
        Impl::TrackState& state = *members[i];
        FImpl->FSpent.push_back(state.Stream->ApplyPosition(std::move(prepared[i]), true));
        // A paused track resumes from the place sought; a stopped one plays from there.
        if (state.FadingTo == Impl::Ending::Pause && state.SilentSource >= 0)
            state.SilentSource = frames[i];
        else if (state.FadingTo == Impl::Ending::Stop && state.Stream->GetState(true) < 2)
            state.FadingTo = Impl::Ending::None;
    }
}

double MusicPlayer::Position(Track Which) {
    Impl::TrackState& state = *FImpl->Members(Which).front();
    const int64_t heard = FImpl->FDevice->HeardFrames();  // before the mixer's lock
    MixerGuard guard(*FImpl->FMixer);
    return FImpl->HeardSourceFrame(state, heard) / state.Stream->Rate();
}

double MusicPlayer::Length(Track Which) {
    return FImpl->Members(Which).front()->Stream->TotalTime();
}

std::vector<LoopCue> MusicPlayer::Cues(Track Which) {
    const TOggData& stream = *FImpl->Members(Which).front()->Stream;
    std::vector<LoopCue> cues;
    for (int32_t i = 0; i < kCueCount; ++i) {
        const TLoopCue& cue = stream.Cues()[static_cast<size_t>(i)];
        const CueFrames& frames = stream.CuePositions()[static_cast<size_t>(i)];
        if (cue.Count != 0) cues.push_back({i, frames.StartFrame, frames.EndFrame, cue.Count});
    }
    return cues;
}

bool MusicPlayer::IsPlaying(Track Which) {
    const std::vector<Impl::TrackState*> members = FImpl->Members(Which);
    const int64_t heard = FImpl->FDevice->HeardFrames();
    MixerGuard guard(*FImpl->FMixer);
    return std::any_of(members.begin(), members.end(), [&](const Impl::TrackState* state) {
        if (state->FadingTo != Impl::Ending::None) return !FImpl->FadeOver(*state, heard);
        return state->Stream->GetState(true) >= 2 || FImpl->FSpans.MusicFrom(state->Id, heard);
    });
}

void MusicPlayer::Impl::CheckDevice(std::vector<MusicEvent>& Out) {
    const bool lost = !FDevice->Available() && FDevice->Status().empty();
    const uint64_t losses = FDevice->Losses();
    // A loss and return between two polls still counts as both.
    if (!FDeviceLost && (lost || losses != FSeenLosses)) {
        MusicEvent event{MusicEventKind::DeviceLost, Track{}, -1};
        event.Reason = static_cast<DeviceLossReason>(FDevice->LastLossReason());
        Out.push_back(event);
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
    const auto now = std::chrono::steady_clock::now();
    const int64_t heard = FImpl->FDevice->HeardFrames();
    const size_t deviceEvents = due.size();
    {
        MixerGuard guard(*FImpl->FMixer);
        FImpl->FSpans.TakeDueEvents(heard, due);
    }
    for (size_t i = deviceEvents; i < due.size(); ++i) {
        const auto ahead = std::chrono::duration<double>(static_cast<double>(due[i].Frame - heard) /
                                                         kFramesPerSecond);
        due[i].HeardAt =
            now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(ahead);
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
