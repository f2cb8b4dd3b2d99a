// PlaylistRun.cpp: the items of a playlist state joined on their frames.
#include "music/set/PlaylistRun.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

namespace oggmix::set {
namespace {

constexpr double kOutputRateHz = 44100.0;
// How near its start the next item is scheduled: well beyond a block, so it never comes late.
constexpr int64_t kAheadFrames = 44100;

int64_t OutputFrames(double sourceFrames, int32_t rateHz) {
    return std::llround(sourceFrames * kOutputRateHz / rateHz);
}

}  // namespace

PlaylistRun::PlaylistRun(std::string State, const SetPlaylist& List, std::vector<Item> Items)
    : FState(std::move(State)), FList(List), FItems(std::move(Items)) {}

size_t PlaylistRun::Pick(std::mt19937_64& Random) {
    const size_t count = FItems.size();
    const bool begun = FStart >= 0;
    switch (FList.Order) {
        case PlaylistOrder::Sequence: return begun ? (FCurrent + 1) % count : 0;
        case PlaylistOrder::Shuffle:
            if (FRoundAt == FRound.size()) {
                FRound.resize(count);
                std::iota(FRound.begin(), FRound.end(), size_t{0});
                std::shuffle(FRound.begin(), FRound.end(), Random);
                // A new round never opens with the item that closed the last.
                if (begun && count > 1 && FRound.front() == FCurrent)
                    std::swap(FRound.front(), FRound.back());
                FRoundAt = 0;
            }
            return FRound[FRoundAt++];
        case PlaylistOrder::Random: {
            std::vector<double> weights =
                FList.Weights.empty() ? std::vector<double>(count, 1.0) : FList.Weights;
            if (begun && count > 1) weights[FCurrent] = 0.0;
            return std::discrete_distribution<size_t>(weights.begin(), weights.end())(Random);
        }
    }
    return 0;
}

Track PlaylistRun::First(std::mt19937_64& Random) {
    FStart = -1;
    FNext.reset();
    FRound.clear();
    FRoundAt = 0;
    FHeld = false;
    FCurrent = Pick(Random);
    return Current();
}

void PlaylistRun::Begin(int64_t Frame) {
    FStart = Frame;
    FToldStart = false;
}

int64_t PlaylistRun::NextStart() const {
    const SetTrack& source = *FItems[FCurrent].Source;
    const int64_t end =
        FStart + OutputFrames(static_cast<double>(source.LengthFrames), source.RateHz);
    if (!FList.JoinOnBar || source.Grid.Bpm <= 0.0) return end;
    // The first bar line of the item's grid at or after its end.
    const double barFrames = source.Grid.BeatsPerBar * 60.0 * source.RateHz / source.Grid.Bpm;
    const double bars = std::ceil(
        static_cast<double>(source.LengthFrames - source.Grid.FirstBeatFrame) / barFrames);
    const double line =
        static_cast<double>(source.Grid.FirstBeatFrame) + std::floor(bars * barFrames + 0.5);
    return std::max(end, FStart + OutputFrames(line, source.RateHz));
}

SetEvent PlaylistRun::Advanced(int64_t Frame) const {
    SetEvent event;
    event.Kind = SetEventKind::PlaylistAdvanced;
    event.Frame = Frame;
    event.Name = FState;
    event.Item = FItems[FCurrent].Source->Name;
    return event;
}

void PlaylistRun::Follow(MusicPlayer& Player, std::mt19937_64& Random,
                         std::vector<SetEvent>& Told) {
    if (FStart < 0) return;
    const int64_t mixed = Player.MixedFrame();
    if (!FToldStart && FStart < mixed) {
        Told.push_back(Advanced(FStart));
        FToldStart = true;
    }
    if (FNext && FNextStart < mixed) {
        FCurrent = *std::exchange(FNext, std::nullopt);
        FStart = FNextStart;
        Told.push_back(Advanced(FStart));
    }
    if (FNext || FHeld || Loops()) return;
    const int64_t start = NextStart();
    if (start - mixed > kAheadFrames) return;
    const size_t next = Pick(Random);
    FNextStart = Player.PlayAt(FItems[next].Handle, start, {.Loop = false});
    FNext = next;
}

void PlaylistRun::Hold(MusicPlayer& Player) {
    FHeld = true;
    if (FNext && FNextStart >= Player.MixedFrame()) {
        Player.Stop(FItems[*FNext].Handle);  // withdraws its start
        FNext.reset();
    }
}

}  // namespace oggmix::set
