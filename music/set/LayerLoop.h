#pragma once
// LayerLoop.h: a layer shorter than its group, restarted from its start on every N-th bar line
// of the group's grid. Each restart is a PlayAt on the exact output frame of that bar line,
// reckoned from the frame the group started on and the grid of its lead (pass by pass as the
// group loops), so nothing drifts however long the music plays. Two handles of the layer take
// turns: the one not sounding is scheduled for the next line while the other plays.
// Threads: the player's game thread. Memory: allocates on construction only.

#include <oggmix/MusicPlayer.h>
#include <oggmix/MusicSet.h>

#include <array>
#include <cstdint>
#include <limits>

namespace oggmix::set {

class LayerLoop {
public:
    // Layer is loaded here a second time; First is the set's own handle of it. Lead is the
    // group's first full-length layer, whose grid and length rule the restarts.
    LayerLoop(MusicPlayer& Player, Track First, const SetTrack& Layer, const SetTrack& Lead,
              int32_t EveryBars, int32_t StartBar);
    ~LayerLoop();  // unloads the second handle
    LayerLoop(const LayerLoop&) = delete;
    LayerLoop& operator=(const LayerLoop&) = delete;

    [[nodiscard]] const std::array<Track, 2>& Handles() const noexcept { return FHandles; }

    // The group's start lands on output frame GroupStart: the first restart is its StartBar.
    void Begin(int64_t GroupStart);
    // Schedules the restarts whose turn has come (the frame near, the handle at rest).
    void Schedule();
    // No restart on or after Frame (a change away waits there); the largest frame lifts it.
    void Limit(int64_t Frame);
    // Stops both handles, withdrawing a restart still waiting.
    void End(double FadeSec);

private:
    [[nodiscard]] int64_t BarFrame(int64_t Bar) const;  // output frames into a pass
    void Advance();                                     // FNext to the following restart

    MusicPlayer& FPlayer;
    std::array<Track, 2> FHandles;
    Tempo FGrid;
    int32_t FRateHz;
    int64_t FPassFrames;  // the group's length in output frames
    int32_t FEvery;
    int32_t FStartBar;
    int64_t FAheadFrames;  // how near a restart must be before it is scheduled
    int64_t FPassStart = 0;
    int64_t FBar = 0;       // the bar of FNext within its pass
    int64_t FNext = -1;     // the next restart not yet scheduled; -1: not begun
    int64_t FWaiting = -1;  // the last restart scheduled, and where it was reckoned from
    int64_t FWaitingPass = 0;
    int64_t FWaitingBar = 0;
    int32_t FTurn = 0;
    int64_t FLimit = std::numeric_limits<int64_t>::max();
};

}  // namespace oggmix::set
