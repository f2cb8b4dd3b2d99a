#pragma once
// TempoTags.h: a track's tempo from its file's comments BPM, BEATSPERBAR and FIRSTBEAT (a
// sample number); a value that does not read is left out, and TagTempoOf says why.
// Threads: any. Memory: allocates. Units: source frames at the stream's rate.

#include "music/TempoGrid.h"

namespace oggmix {
class TOggData;
}

namespace oggmix::music {

[[nodiscard]] TagTempo TagTempoOf(const TOggData& Stream);
[[nodiscard]] TempoGrid TagGridOf(const TOggData& Stream);

}  // namespace oggmix::music
