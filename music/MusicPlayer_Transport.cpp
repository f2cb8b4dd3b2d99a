// MusicPlayer_Transport.cpp: play, stop, pause, resume, cross-fade and seek; the position
// being heard; events.
#include <cmath>
#include <limits>

#include "music/MusicArguments.h"
#include "music/MusicPlayer_Impl.h"
#include "sound/platform/DeviceStatus.h"

namespace oggmix {

music::HeardFrame MusicPlayer::Impl::HeardNow() const {
    IDirectSoundBuffer8* buffer = FFeed->WaveData().SoundBuffer();
    if (buffer == nullptr) return {};
    DWORD play = 0;
    DWORD write = 0;
    if (buffer->GetCurrentPosition(&play, &write) != DS_OK) return {};
    return FHeard.At(play);
}

void MusicPlayer::Impl::StartLocked(Track Which, TrackState& State, bool Loop, double FadeInSec) {
    EnsureSlot(Which, State);
    TOggData& stream = *State.Stream;
    // A track still fading out (to stop or to pause) turns back up from where its fade is.
    const bool running = stream.GetState(true) >= 2;
    if (!running && State.Stopping) stream.Stop(true);
    // The stream stopped only at the end of the block its pause fade fell silent in.
    if (const std::optional<double> at = PausedAt(Which, State))
        stream.Seek(static_cast<float>(*at), true);
    // Under the mixer's lock no render sees the silent start of a fade-in (which would pause
    // the stream).
    if (!running && FadeInSec > 0.0) stream.Fade(0.0f, 0.0f);
    stream.Fade(1.0f, static_cast<float>(FadeInSec));
    stream.Play(Loop, true);
    State.Loop = Loop;
    State.Pausing = false;
    State.Stopping = false;
}

void MusicPlayer::Impl::StopLocked(TrackState& State, double FadeOutSec) {
    TOggData& stream = *State.Stream;
    State.Pausing = false;
    if (stream.GetState(true) < 2 || FadeOutSec <= 0.0) {
        stream.Stop(true);
        State.Stopping = false;
        return;
    }
    stream.Fade(0.0f, static_cast<float>(FadeOutSec));
    State.Stopping = true;
}

void MusicPlayer::Impl::FinishStops() {
    for (auto& [id, state] : FTracks) {
        if (!state.Stopping || state.Stream->GetState(true) >= 2) continue;
        state.Stream->Stop(true);
        state.Stopping = false;
    }
}

std::optional<double> MusicPlayer::Impl::PausedAt(Track Which, const TrackState& State) const {
    if (!State.Pausing || State.Stream->GetState(true) >= 2) return std::nullopt;
    return FHeard.FadeEndAfter(Which.Id, State.PauseSeq, State.PauseFadeSec);
}

void MusicPlayer::Play(Track Which, const PlayOptions& Options) {
    const double fadeSec = music::CheckSeconds(Options.FadeInSec, "the fade-in");
    Impl::TrackState& state = FImpl->Find(Which);
    MixerGuard guard(FImpl->FFeed->Player());
    FImpl->StartLocked(Which, state, Options.Loop, fadeSec);
}

void MusicPlayer::Stop(Track Which, double FadeOutSec) {
    const double fadeSec = music::CheckSeconds(FadeOutSec, "the fade-out");
    Impl::TrackState& state = FImpl->Find(Which);
    MixerGuard guard(FImpl->FFeed->Player());
    FImpl->StopLocked(state, fadeSec);
}

void MusicPlayer::Pause(Track Which, double FadeSec) {
    const double fadeSec = music::CheckSeconds(FadeSec, "the pause fade");
    Impl::TrackState& state = FImpl->Find(Which);
    MixerGuard guard(FImpl->FFeed->Player());
    TOggData& stream = *state.Stream;
    if (stream.GetState(true) < 2 || state.Stopping) return;
    // The stream pauses itself once the fade has reached silence; at once without a fade.
    stream.Fade(0.0f, static_cast<float>(fadeSec));
    if (fadeSec < 0.01) stream.Pause(true);
    state.Pausing = true;
    state.PauseSeq = FImpl->FHeard.CurrentSeq();
    state.PauseFadeSec = fadeSec;
}

void MusicPlayer::Resume(Track Which, double FadeSec) {
    const double fadeSec = music::CheckSeconds(FadeSec, "the resume fade");
    Impl::TrackState& state = FImpl->Find(Which);
    MixerGuard guard(FImpl->FFeed->Player());
    if (state.Pausing) FImpl->StartLocked(Which, state, state.Loop, fadeSec);
}

void MusicPlayer::CrossFade(Track From, Track To, double Seconds, bool Loop) {
    const double fadeSec = music::CheckSeconds(Seconds, "the cross-fade");
    Impl::TrackState& from = FImpl->Find(From);
    Impl::TrackState& to = FImpl->Find(To);
    if (From == To)
        throw MusicError(MusicErrorCode::InvalidArgument,
                         "a cross-fade needs two tracks; both are " + FImpl->Describe(From, from));
    MixerGuard guard(FImpl->FFeed->Player());
    FImpl->StopLocked(from, fadeSec);
    FImpl->StartLocked(To, to, Loop, fadeSec);
}

void MusicPlayer::Seek(Track Which, double Seconds) {
    Impl::TrackState& state = FImpl->Find(Which);
    if (!std::isfinite(Seconds) || Seconds < 0.0)
        throw MusicError(MusicErrorCode::InvalidArgument,
                         "cannot seek " + FImpl->Describe(Which, state) + " to " +
                             std::to_string(Seconds) + " s");
    MixerGuard guard(FImpl->FFeed->Player());
    state.Stream->Seek(static_cast<float>(Seconds), true);
    // The place sought replaces a pause's resume point.
    state.PauseSeq = std::numeric_limits<int64_t>::max();
}

double MusicPlayer::Position(Track Which) {
    Impl::TrackState& state = FImpl->Find(Which);
    MixerGuard guard(FImpl->FFeed->Player());
    const std::optional<double> heard = FImpl->FHeard.PositionOf(Which.Id, FImpl->HeardNow());
    if (heard) return *heard;
    // Nothing of the track in flight: where the stream stands is what is heard next.
    if (state.Stopping && state.Stream->GetState(true) < 2) return 0.0;
    if (const std::optional<double> at = FImpl->PausedAt(Which, state)) return *at;
    return state.Stream->GetTime(true);
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
    return state.Stream->GetState(true) >= 2 && !state.Pausing && !state.Stopping;
}

void MusicPlayer::Impl::CheckDevice(std::vector<MusicEvent>& Out) {
    const SoundDeviceStatus device = CurrentSoundDeviceStatus();
    // A loss and return between two polls still counts as both.
    if (!FDeviceLost && (device.Lost || device.Losses != FSeenLosses)) {
        Out.push_back({MusicEventKind::DeviceLost, Track{}, -1});
        FDeviceLost = true;
    }
    if (FDeviceLost && !device.Lost) {
        Out.push_back({MusicEventKind::DeviceBack, Track{}, -1});
        FDeviceLost = false;
    }
    FSeenLosses = device.Losses;
}

std::vector<MusicEvent> MusicPlayer::Poll() {
    if (const std::exception_ptr failure = FImpl->FFeed->RefillFailure()) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            throw MusicError(MusicErrorCode::Internal,
                             std::string("the sound stopped: ") + e.what());
        }
    }
    std::vector<MusicEvent> due;
    FImpl->CheckDevice(due);
    {
        MixerGuard guard(FImpl->FFeed->Player());
        FImpl->FHeard.TakeDueEvents(FImpl->HeardNow(), due);
        FImpl->FinishStops();
    }
    if (FImpl->FCallback)
        for (const MusicEvent& event : due) FImpl->FCallback(event);
    return due;
}

void MusicPlayer::SetEventCallback(std::function<void(const MusicEvent&)> Callback) {
    FImpl->FCallback = std::move(Callback);
}

}  // namespace oggmix
