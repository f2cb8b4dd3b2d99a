// MusicPlayer_Rules.cpp: how calls meet on the one timeline: what a call withdraws of what is
// still pending, whether it fits before anything changes, and the requests not yet landed.
#include <algorithm>

#include "music/MusicPlayer_Impl.h"

namespace oggmix {
namespace {

bool Holds(const std::vector<uint32_t>& ids, uint32_t id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

[[noreturn]] void Refuse(uint64_t& refused, MusicErrorCode code, const std::string& why) {
    ++refused;
    throw MusicError(code, why);
}

}  // namespace

bool MusicPlayer::Impl::Withdrawal::Covers(const music::ScheduledChange& Change) const {
    if (Of != Scope::Setting && Holds(Requests, Change.Request)) return true;
    if (!Holds(Ids, Change.TrackId)) return false;
    switch (Of) {
        case Scope::Transport: return !Change.Setting();
        case Scope::Setting: return Change.What == Setting;
        case Scope::All: return true;
    }
    return true;
}

void MusicPlayer::Impl::CheckApart(Track From, Track To, const std::string& What) {
    const std::vector<TrackState*> from = Members(From);
    for (const TrackState* state : Members(To))
        if (std::find(from.begin(), from.end(), state) != from.end())
            throw MusicError(MusicErrorCode::InvalidArgument,
                             What + " needs two tracks apart, but " + Describe(*state) +
                                 (From == To ? " is both" : " is in both"));
}

std::vector<uint32_t> MusicPlayer::Impl::IdsOf(Track Which) {
    std::vector<uint32_t> ids;
    for (const TrackState* state : Members(Which)) ids.push_back(state->Id);
    if (FGroups.contains(Which.Id)) ids.push_back(Which.Id);
    return ids;
}

MusicPlayer::Impl::Withdrawal MusicPlayer::Impl::WithdrawalFor(const std::vector<uint32_t>& Ids,
                                                               Scope Of) const {
    Withdrawal out;
    out.Of = Of;
    out.Ids = Ids;
    if (Of == Scope::Setting) return out;
    const int64_t mixed = NextOutFrame();
    for (const Request& request : FRequests)
        if (request.Landing >= mixed && std::any_of(request.Ids.begin(), request.Ids.end(),
                                                    [&](uint32_t id) { return Holds(Ids, id); }))
            out.Requests.push_back(request.Id);
    return out;
}

void MusicPlayer::Impl::CheckRoom(const Withdrawal& Out, int32_t Changes, int32_t Positions,
                                  const std::vector<TrackState*>& Starting) {
    using Change = music::ScheduledChange;
    const auto covered = [&](const Change& change) { return Out.Covers(change); };
    if (Changes > FSchedule.Room() + FSchedule.Count(covered))
        Refuse(FRefusedCalls, MusicErrorCode::InvalidArgument,
               "too many changes are waiting for their frame (" +
                   std::to_string(music::Schedule::kCapacity) + ")");
    const int32_t positionsFreed = FSchedule.Count(
        [&](const Change& change) { return change.Position >= 0 && Out.Covers(change); });
    if (Positions > FPositions.Room() + positionsFreed)
        Refuse(FRefusedCalls, MusicErrorCode::InvalidArgument,
               "too many jumps are waiting for their frame (" +
                   std::to_string(music::HeldPositions::kCapacity) + ")");
    // A slot is free, or held by a track at rest with nothing else waiting for it.
    int32_t needed = 0;
    for (const TrackState* state : Starting) needed += state->Slot < 0 ? 1 : 0;
    int32_t available = 0;
    for (const TrackState* holder : FSlotTrack) {
        if (holder == nullptr) {
            ++available;
            continue;
        }
        if (std::find(Starting.begin(), Starting.end(), holder) != Starting.end()) continue;
        const bool waiting = FSchedule.Any([&](const Change& change) {
            return change.TrackId == holder->Id && !Out.Covers(change);
        });
        if (holder->Stream->GetState(true) < 2 && !waiting) ++available;
    }
    if (needed > available)
        Refuse(FRefusedCalls, MusicErrorCode::TooManyPlaying,
               Describe(*Starting.front()) + " cannot play: " + std::to_string(kMaxPlayingTracks) +
                   " tracks are playing already");
}

void MusicPlayer::Impl::Withdraw(const Withdrawal& Out) {
    FSchedule.Drop(
        [&](const music::ScheduledChange& change) { return Out.Covers(change); },
        [&](const music::ScheduledChange& change) {
            if (change.Position >= 0) FPositions.Release(change.Position, FSpent);
            if (change.What == music::ScheduledChange::Kind::Start)
                if (TrackState* state = FindById(change.TrackId))
                    state->PendingStarts.erase(std::find(state->PendingStarts.begin(),
                                                         state->PendingStarts.end(), change.Frame));
        });
    std::erase_if(FRequests,
                  [&](const Request& request) { return Holds(Out.Requests, request.Id); });
}

void MusicPlayer::Impl::BeginRequest(std::vector<uint32_t> Ids, int64_t Landing, uint32_t From,
                                     uint32_t To, int64_t LandingSource) {
    FRequestId = FNextRequest++;
    if (FNextRequest == 0) FNextRequest = 1;
    FRequests.push_back({FRequestId, std::move(Ids), From, To, Landing, LandingSource});
}

const MusicPlayer::Impl::Request* MusicPlayer::Impl::PendingTo(uint32_t Which) const {
    const int64_t mixed = NextOutFrame();
    for (const Request& request : FRequests)
        if (request.To == Which && request.Landing >= mixed) return &request;
    return nullptr;
}

const MusicPlayer::Impl::Request* MusicPlayer::Impl::PendingFrom(uint32_t Which) const {
    const int64_t mixed = NextOutFrame();
    for (const Request& request : FRequests)
        if (request.From == Which && request.Landing >= mixed) return &request;
    return nullptr;
}

void MusicPlayer::Impl::Tidy() {
    const int64_t mixed = NextOutFrame();
    std::erase_if(FRequests, [&](const Request& request) { return request.Landing < mixed; });
    if (!FPositions.AnySpent()) return;
    MixerGuard guard(*FMixer, &FSpent);
    FPositions.Collect(FSpent);
}

bool MusicPlayer::Impl::Sounds(const TrackState& State) const {
    return State.Stream->GetState(true) >= 2 && State.SilentSource < 0;
}

}  // namespace oggmix
