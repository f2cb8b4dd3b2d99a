// TrackProbe.cpp: what a set's track file holds, read by loading it as the player would.
#include <memory>
#include <new>
#include <stdexcept>

#include "base/Exceptions.h"
#include "decoder/OggWuvorbisLib.h"
#include "music/TempoTags.h"
#include "music/set/SetReader.h"
#include "stream/OggDataLib.h"

namespace oggmix::music {
namespace {

// The smallest ring a stream takes: nothing is rendered here.
constexpr int32_t kProbeBufferBytes = 4096;

}  // namespace

TrackFacts ProbeTrackFile(const std::string& Path) {
    TVorbisFileDLL binding(false);
    (void)binding.BindLinked();
    TOggData stream(kProbeBufferBytes);
    stream.SetDecoderBinding(&binding);
    stream.SetConversion(true);  // as the player loads it: any rate and channel count plays
    try {
        if (!stream.LoadFromFile(Path)) throw std::runtime_error("no such file");
    } catch (const EInOutError& e) {
        throw std::runtime_error("cannot be read (" + e.Message() + ")");
    } catch (const ERangeError&) {
        throw std::runtime_error("not an Ogg Vorbis file");
    } catch (const std::bad_alloc&) {
        throw std::runtime_error("too large to hold in memory");
    }
    if (!stream.Renders())
        throw std::runtime_error(std::to_string(stream.Rate()) + " Hz with " +
                                 std::to_string(stream.Channels()) +
                                 " channels cannot be played (8000 to 192000 Hz, 1 to 8 channels)");
    const TempoGrid grid = TagGridOf(stream);
    TrackFacts facts;
    facts.RateHz = stream.Rate();
    facts.LengthFrames = stream.PcmTotal();
    if (grid.Known())
        facts.TagTempo = {static_cast<double>(grid.BpmMicro) / kMicroBeatsPerBeat, grid.BeatsPerBar,
                          grid.FirstBeatFrame};
    stream.Close();
    return facts;
}

}  // namespace oggmix::music
