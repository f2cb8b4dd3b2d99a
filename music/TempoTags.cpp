// TempoTags.cpp: the tempo tags of a loaded stream.
#include "music/TempoTags.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "stream/OggDataLib.h"

namespace oggmix::music {

TempoGrid TagGridOf(const TOggData& Stream) {
    TempoGrid grid;
    grid.RateHz = Stream.Rate();
    const auto first = [&](const char* name) {
        const std::vector<std::string> lines = Stream.GetComments(name);
        return lines.empty() ? std::string() : lines.front();
    };
    if (const auto bpm = ParseBpm(first("BPM"))) grid.BpmMicro = *bpm;
    if (const std::string beats = first("BEATSPERBAR"); !beats.empty()) {
        char* end = nullptr;
        const long value = std::strtol(beats.c_str(), &end, 10);
        if (end != beats.c_str() && *end == '\0' && value >= 1 && value <= 64)
            grid.BeatsPerBar = static_cast<int32_t>(value);
    }
    if (const std::string beat = first("FIRSTBEAT"); !beat.empty()) {
        char* end = nullptr;
        const long long value = std::strtoll(beat.c_str(), &end, 10);
        if (end != beat.c_str() && *end == '\0' && value >= 0) grid.FirstBeatFrame = value;
    }
    return grid;
}

}  // namespace oggmix::music
