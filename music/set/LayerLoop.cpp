// LayerLoop.cpp: the restarts of a layer shorter than its group, on the group's bar lines.
#include "music/set/LayerLoop.h"

#include <algorithm>
#include <cmath>

namespace oggmix::set {
namespace {

constexpr double kOutputRateHz = 44100.0;

int64_t OutputFrames(int64_t sourceFrames, int32_t rateHz) {
    return std::llround(static_cast<double>(sourceFrames) * kOutputRateHz / rateHz);
}

}  // namespace

LayerLoop::LayerLoop(MusicPlayer& Player, Track First, const SetTrack& Layer, const SetTrack& Lead,
                     int32_t EveryBars, int32_t StartBar)
    : FPlayer(Player),
      FHandles{First, Player.Load(Layer.Path)},
      FGrid(Lead.Grid),
      FRateHz(Lead.RateHz),
      FPassFrames(OutputFrames(Lead.LengthFrames, Lead.RateHz)),
      FEvery(EveryBars),
      FStartBar(StartBar),
      // Half the span between restarts: the other handle has long finished its round by then.
      FAheadFrames(std::max<int64_t>(1, BarFrame(EveryBars) / 2)) {}

LayerLoop::~LayerLoop() {
    try {
        FPlayer.Unload(FHandles[1]);
    } catch (const MusicError&) {
        // Unloaded by the game already.
    }
}

int64_t LayerLoop::BarFrame(int64_t Bar) const {
    // The grid's beat k: the source frame nearest to first + k x 60 x rate / bpm.
    const double beats = static_cast<double>(Bar) * FGrid.BeatsPerBar;
    const auto source = static_cast<int64_t>(std::floor(beats * 60.0 * FRateHz / FGrid.Bpm + 0.5));
    return OutputFrames(FGrid.FirstBeatFrame + source, FRateHz);
}

void LayerLoop::Begin(int64_t GroupStart) {
    FPassStart = GroupStart;
    FBar = FStartBar;
    FNext = GroupStart + BarFrame(FBar);
    FWaiting = -1;
    FLimit = std::numeric_limits<int64_t>::max();
    Schedule();
}

void LayerLoop::Advance() {
    FBar = (FBar / FEvery + 1) * FEvery;
    if (BarFrame(FBar) >= FPassFrames) {
        FPassStart += FPassFrames;
        FBar = 0;
    }
    FNext = FPassStart + BarFrame(FBar);
}

void LayerLoop::Schedule() {
    while (FNext >= 0 && FNext < FLimit && FNext - FPlayer.MixedFrame() <= FAheadFrames) {
        const Track turn = FHandles[static_cast<size_t>(FTurn)];
        if (FPlayer.IsPlaying(turn)) return;  // its last round is still heard: next time
        FPlayer.PlayAt(turn, FNext, {.Loop = false});
        FWaiting = FNext;
        FWaitingPass = FPassStart;
        FWaitingBar = FBar;
        FTurn ^= 1;
        Advance();
    }
}

void LayerLoop::Limit(int64_t Frame) {
    FLimit = Frame;
    if (FWaiting >= Frame && FWaiting >= FPlayer.MixedFrame()) {
        // Take back the restart waiting beyond the limit; it is the next one again.
        FTurn ^= 1;
        FPlayer.Stop(FHandles[static_cast<size_t>(FTurn)]);
        FPassStart = FWaitingPass;
        FBar = FWaitingBar;
        FNext = FWaiting;
        FWaiting = -1;
    }
    Schedule();
}

void LayerLoop::End(double FadeSec) {
    for (const Track handle : FHandles) FPlayer.Stop(handle, FadeSec);
    FNext = -1;
    FWaiting = -1;
}

}  // namespace oggmix::set
