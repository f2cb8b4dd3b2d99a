#pragma once
// SetReader.h: a music set's JSON read into a MusicSet and checked whole: the shape, types and
// ranges of every value, unknown keys, names that name nothing, layers that do not fit their
// group's bars, markers beyond their track, cycles of bridges, and the track files, each
// loaded through a probe. Every problem is collected, in the order of the file, before
// MusicSetError is thrown.
// Threads: any. Memory: allocates.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "oggmix/MusicSet.h"

namespace oggmix::music {

// What a track's file holds, as far as a set is checked against it.
struct TrackFacts {
    int32_t RateHz = 0;
    int64_t LengthFrames = 0;
    Tempo TagTempo;  // from the file's tags; Bpm 0: none
};

// Loads the file at Path; throws std::exception saying why it cannot.
using TrackProbe = std::function<TrackFacts(const std::string& Path)>;

// Name begins every message; the tracks' files are joined to BaseFolder (empty: as given).
[[nodiscard]] MusicSet ReadSet(std::string_view Json, const std::string& Name,
                               const std::string& BaseFolder, const TrackProbe& Probe);

// The probe of LoadSet: the file loaded through the stream engine, its tempo tags read.
[[nodiscard]] TrackFacts ProbeTrackFile(const std::string& Path);

}  // namespace oggmix::music
