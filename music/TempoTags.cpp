// TempoTags.cpp: the tempo tags of a loaded stream.
#include "music/TempoTags.h"

#include <string>
#include <vector>

#include "stream/OggDataLib.h"

namespace oggmix::music {

TagTempo TagTempoOf(const TOggData& Stream) {
    const auto first = [&](const char* name) {
        const std::vector<std::string> lines = Stream.GetComments(name);
        return lines.empty() ? std::string() : lines.front();
    };
    return ReadTempoTags(first("BPM"), first("BEATSPERBAR"), first("FIRSTBEAT"), Stream.Rate());
}

TempoGrid TagGridOf(const TOggData& Stream) { return TagTempoOf(Stream).Grid; }

}  // namespace oggmix::music
