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
                Publish(*States[i]);
            }
            return Change(prepared);
        }
    }
}

void MusicPlayer::Impl::ScheduleStart(TrackState& State, int64_t At, bool Loop, float Value,
                                      double FadeSec) {
    music::ScheduledChange change;
    change.Frame = At;
    change.What = music::ScheduledChange::Kind::Start;
    change.TrackId = State.Id;
    change.Value = Value;
    change.Seconds = static_cast<float>(FadeSec);
    change.Loop = Loop;
    ScheduleChange(change);
}

void MusicPlayer::Impl::ScheduleFadeOut(TrackState& State, int64_t At, bool Pause, double FadeSec) {
    music::ScheduledChange change;
    change.Frame = At;
    change.What = music::ScheduledChange::Kind::FadeOut;
    change.TrackId = State.Id;
    change.Seconds = static_cast<float>(FadeSec);
    change.Pause = Pause;
    ScheduleChange(change);
}

void MusicPlayer::Impl::FinishStops() {
    for (auto& [id, state] : FTracks) {
        // The published view tells, without the lock, whether there is anything to do.
        const music::shared::TrackView view = state.Ledger->View();
        if (view.Ending != Ending::Stop || view.SilentSource < 0 || view.Rewound ||
            view.StreamState >= 2)
            continue;
        std::unique_ptr<PreparedPosition> start = state.Stream->PreparePosition(0);
        MixerGuard guard(*FMixer, &FSpent);
        if (state.FadingTo != Ending::Stop || state.Rewound || state.Stream->GetState(true) >= 2)
            continue;
        FSpent.push_back(state.Stream->StopAt(std::move(start), true));
        state.Rewound = true;
        Publish(state);
    }
}

music::shared::TrackView MusicPlayer::Impl::ViewOf(const TrackState& State) noexcept {
    return {State.FadingTo,  State.Rewound,      State.Stream->GetState(true),
            State.SilentOut, State.SilentSource, State.Stream->PositionFrame(true)};
}

bool MusicPlayer::Impl::FadeOver(const TrackState& State, const music::shared::TrackView& View,
                                 int64_t Heard) {
    if (View.SilentOut >= 0) return Heard >= View.SilentOut;
    // The music ended during the fade: over once its last block is heard.
    return View.StreamState < 2 && !State.Ledger->MusicFrom(Heard);
}

double MusicPlayer::Impl::HeardSourceFrame(const TrackState& State,
                                           const music::shared::TrackView& View, int64_t Heard) {
    if (View.Ending != Ending::None && View.SilentOut >= 0 && Heard >= View.SilentOut)
        return View.Ending == Ending::Stop ? 0.0 : static_cast<double>(View.SilentSource);
    if (const std::optional<double> frame = State.Ledger->SourceFrameAt(Heard)) return *frame;
    // Nothing of the track in flight: where the stream stands is what is heard next.
    if (View.Ending == Ending::Stop && View.StreamState < 2) return 0.0;
    return static_cast<double>(View.PositionFrame);
}

bool MusicPlayer::Impl::StartWaiting(TrackState& State, int64_t Mixed) {
    std::erase_if(State.PendingStarts, [&](int64_t frame) { return frame < Mixed; });
    return !State.PendingStarts.empty();
}

int64_t MusicPlayer::Impl::StartMembers(const std::vector<TrackState*>& Members,
                                        const std::vector<uint32_t>& Ids, int64_t From,
                                        std::optional<bool> Loop, double FadeSec) {
    WakeDevice();
    int64_t at = 0;
    WithRestarts(Members, [&](Prepared& restarts) {
        const Withdrawal out = WithdrawalFor(Ids);
        CheckRoom(out, static_cast<int32_t>(Members.size()), 0, Members);
        Withdraw(out);
        at = std::max(From, NextOutFrame());
        BeginRequest(Ids, at);
        for (size_t i = 0; i < Members.size(); ++i) {
            EnsureSlot(*Members[i]);
            ApplyRestart(*Members[i], std::move(restarts[i]));
            ScheduleStart(*Members[i], at, Loop.value_or(Members[i]->Loop), 1.0f, FadeSec);
        }
    });
    return at;
}

int64_t MusicPlayer::Play(Track Which, const PlayOptions& Options) {
    const double fadeSec = music::CheckSeconds(Options.FadeInSec, "the fade-in");
    return FImpl->StartMembers(FImpl->Members(Which), FImpl->IdsOf(Which), 0, Options.Loop,
                               fadeSec);
}

int64_t MusicPlayer::Stop(Track Which, double FadeOutSec) {
    const double fadeSec = music::CheckSeconds(FadeOutSec, "the fade-out");
    const std::vector<Impl::TrackState*> members = FImpl->Members(Which);
    const std::vector<uint32_t> ids = FImpl->IdsOf(Which);
    // Those sounding fade out (and are rewound once silent); those at rest are rewound at
    // once, from a start prepared aside.
    std::vector<Impl::TrackState*> atRest;
    int64_t at = 0;
    {
        MixerGuard guard(*FImpl->FMixer);
        const Impl::Withdrawal out = FImpl->WithdrawalFor(ids);
        FImpl->CheckRoom(out, static_cast<int32_t>(members.size()), 0, {});
        FImpl->Withdraw(out);
        at = FImpl->NextOutFrame();
        FImpl->BeginRequest(ids, at);
        for (Impl::TrackState* state : members) {
            if (state->FadingTo == Impl::Ending::Stop) continue;
            if (FImpl->Sounds(*state))
                FImpl->ScheduleFadeOut(*state, at, false, fadeSec);
            else
                atRest.push_back(state);
        }
    }
    if (atRest.empty()) return at;
    std::vector<std::unique_ptr<PreparedPosition>> starts;
    for (Impl::TrackState* state : atRest) starts.push_back(state->Stream->PreparePosition(0));
    MixerGuard guard(*FImpl->FMixer, &FImpl->FSpent);
    for (size_t i = 0; i < atRest.size(); ++i) {
        Impl::TrackState& state = *atRest[i];
        // A call between the two looks may have started it again: then it is not at rest.
        if (FImpl->Sounds(state) || FImpl->FSchedule.Any([&](const music::ScheduledChange& c) {
                return c.TrackId == state.Id;
            }))
            continue;
        FImpl->FSpent.push_back(state.Stream->StopAt(std::move(starts[i]), true));
        state.FadingTo = Impl::Ending::Stop;
        state.SilentOut = FImpl->NextOutFrame();
        state.SilentSource = 0;
        state.Rewound = true;
        Impl::Publish(state);
    }
    return at;
}

int64_t MusicPlayer::Pause(Track Which, double FadeSec) {
    const double fadeSec = music::CheckSeconds(FadeSec, "the pause fade");
    const std::vector<Impl::TrackState*> members = FImpl->Members(Which);
    const std::vector<uint32_t> ids = FImpl->IdsOf(Which);
    MixerGuard guard(*FImpl->FMixer);
    const Impl::Withdrawal out = FImpl->WithdrawalFor(ids);
    FImpl->CheckRoom(out, static_cast<int32_t>(members.size()), 0, {});
    FImpl->Withdraw(out);
    const int64_t at = FImpl->NextOutFrame();
    FImpl->BeginRequest(ids, at);
    for (Impl::TrackState* state : members)
        if (FImpl->Sounds(*state) && state->FadingTo == Impl::Ending::None)
            FImpl->ScheduleFadeOut(*state, at, true, fadeSec);
    return at;
}

int64_t MusicPlayer::Resume(Track Which, double FadeSec) {
    const double fadeSec = music::CheckSeconds(FadeSec, "the resume fade");
    std::vector<Impl::TrackState*> members = FImpl->Members(Which);
    const std::vector<uint32_t> ids = FImpl->IdsOf(Which);
    {
        MixerGuard guard(*FImpl->FMixer);
        std::erase_if(members, [](const Impl::TrackState* state) {
            return state->FadingTo != Impl::Ending::Pause;
        });
    }
    // A pause still waiting for its frame is withdrawn: the track plays on.
    return FImpl->StartMembers(members, ids, 0, std::nullopt, fadeSec);
}

int64_t MusicPlayer::CrossFade(Track From, Track To, double Seconds, bool Loop) {
    const double fadeSec = music::CheckSeconds(Seconds, "the cross-fade");
    FImpl->WakeDevice();
    const std::vector<Impl::TrackState*> from = FImpl->Members(From);
    const std::vector<Impl::TrackState*> to = FImpl->Members(To);
    FImpl->CheckApart(From, To, "a cross-fade");
    std::vector<uint32_t> ids = FImpl->IdsOf(From);
    for (const uint32_t id : FImpl->IdsOf(To)) ids.push_back(id);
    int64_t at = 0;
    FImpl->WithRestarts(to, [&](Impl::Prepared& start) {
        const Impl::Withdrawal out = FImpl->WithdrawalFor(ids);
        FImpl->CheckRoom(out, static_cast<int32_t>(from.size() + to.size()), 0, to);
        FImpl->Withdraw(out);
        at = FImpl->NextOutFrame();
        FImpl->BeginRequest(ids, at, From.Id, To.Id);
        for (Impl::TrackState* state : from)
            if (FImpl->Sounds(*state) && state->FadingTo != Impl::Ending::Stop)
                FImpl->ScheduleFadeOut(*state, at, false, fadeSec);
        for (size_t i = 0; i < to.size(); ++i) {
            FImpl->EnsureSlot(*to[i]);
            FImpl->ApplyRestart(*to[i], std::move(start[i]));
            FImpl->ScheduleStart(*to[i], at, Loop, 1.0f, fadeSec);
        }
    });
    return at;
}

int64_t MusicPlayer::Seek(Track Which, double Seconds) {
    Seconds = music::ClampFarSeconds(Seconds);
    const std::vector<Impl::TrackState*> members = FImpl->Members(Which);
    if (!std::isfinite(Seconds) || Seconds < 0.0)
        throw MusicError(MusicErrorCode::InvalidArgument,
                         "cannot seek " + FImpl->Describe(*members[0]) + " to " +
                             std::to_string(Seconds) + " s");
    std::vector<int64_t> frames;
    std::vector<std::unique_ptr<PreparedPosition>> prepared;
    for (Impl::TrackState* state : members) {
        const TOggData& stream = *state->Stream;
        // Past the end: the end (and no product of a far time and the rate to overflow).
        const auto last = static_cast<double>(std::max<int64_t>(0, stream.PcmTotal()));
        frames.push_back(std::llround(std::min(Seconds * stream.Rate(), last)));
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
        Impl::Publish(state);
    }
    return FImpl->NextOutFrame();
}

double MusicPlayer::Position(Track Which) {
    const Impl::TrackState& state = *FImpl->Members(Which).front();
    // Heard first: the view read after it is at least as new, so a piece heard is in it.
    const int64_t heard = FImpl->FDevice->HeardFrames();
    return Impl::HeardSourceFrame(state, state.Ledger->View(), heard) / state.Stream->Rate();
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
    // The frames mixed before the views: a start mixed since shows in its track's view.
    const int64_t mixed = FImpl->NextOutFrame();
    return std::any_of(members.begin(), members.end(), [&](Impl::TrackState* state) {
        // A start waiting for its frame counts: a call withdraws it, not the clock.
        if (Impl::StartWaiting(*state, mixed)) return true;
        const music::shared::TrackView view = state->Ledger->View();
        if (view.Ending != Impl::Ending::None) return !Impl::FadeOver(*state, view, heard);
        return view.StreamState >= 2 || state->Ledger->MusicFrom(heard);
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
    const int64_t mixed = FImpl->NextOutFrame();
    const size_t deviceEvents = due.size();
    FImpl->FInbox.TakeDue(heard, mixed, due, [&](uint32_t id) {
        return FImpl->FTracks.contains(id) || FImpl->FGroups.contains(id);
    });
    FImpl->Tidy();
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
