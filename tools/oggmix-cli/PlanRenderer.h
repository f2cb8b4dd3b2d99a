#pragma once
// PlanRenderer.h: renders a checked plan through the game player on its "offline" back end:
// the output is mixed up to each step's frame, then the step's call is made, so every call
// lands where a game making it at that moment of the music would have it land. The WAV (and
// the event list) are written as OutputFile says: beside their targets and renamed into place
// only when the whole render succeeded, so that a failure or a kill leaves nothing.
// Threads: the main thread. Memory: allocates. Units: output frames at 44100 Hz.

#include <cstdint>
#include <optional>
#include <string>

#include "tools/oggmix-cli/RenderPlan.h"

namespace oggmix::cli {

struct PlanOutput {
    std::string WavPath;
    std::string EventsPath;  // empty: no event list
    int64_t LengthFrames = 0;
    std::optional<uint64_t> Seed;  // the set's playlists' order; none: the clock's
};

// Renders plan into output. Returns kExitOk, or kExitFailure after saying on stderr what
// failed ("PLAN:LINE: ..." for a call the player refused).
[[nodiscard]] int RenderPlanToFiles(const RenderPlan& plan, const PlanOutput& output);

}  // namespace oggmix::cli
