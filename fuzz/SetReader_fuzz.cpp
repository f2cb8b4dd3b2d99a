// SetReader_fuzz.cpp: any text as a music set. The tracks' files are not read: a probe makes
// up what each file holds from its name (a length of whole bars or not, a tempo or none, or a
// file that does not load), so that every check of the reader is reached. Checks that a set
// either loads with every name it uses defined, or fails with problems that each begin with
// the file's name and a line and column inside the text.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "music/set/SetReader.h"

namespace oggmix::fuzz {
namespace {

music::TrackFacts MadeUpFacts(const std::string& path) {
    const size_t hash = std::hash<std::string>{}(path);
    if (hash % 7 == 0) throw std::runtime_error("no such file");
    music::TrackFacts facts;
    facts.RateHz = hash % 3 == 0 ? 48000 : 44100;
    // 1 to 8 bars of 120 bpm in 4/4, a frame off now and then, or half a bar more.
    const int64_t barFrames = 2 * facts.RateHz;
    facts.LengthFrames = barFrames * static_cast<int64_t>(1 + hash / 7 % 8) +
                         (hash % 5 == 0 ? barFrames / 2 : static_cast<int64_t>(hash / 11 % 3));
    if (hash % 2 == 0) facts.TagTempo = {120.0, 4, 0};
    return facts;
}

// "set.json:LINE:COLUMN: " with the line within the text.
bool IsPlaced(const std::string& problem, size_t lines) {
    unsigned long line = 0;
    unsigned long column = 0;
    int end = 0;
    if (std::sscanf(problem.c_str(), "set.json:%lu:%lu: %n", &line, &column, &end) != 2 || end == 0)
        return false;
    return line >= 1 && line <= lines && column >= 1;
}

void CheckNames(const MusicSet& set) {
    const auto track = [&](const std::string& name) {
        Check(set.FindTrack(name) != nullptr, "a loaded set names a track it lacks");
    };
    const auto state = [&](const std::string& name) {
        Check(name == kAnyState || set.FindState(name) != nullptr,
              "a loaded set names a state it lacks");
    };
    for (const SetState& each : set.States) {
        if (each.Plays == SetState::Kind::Track) track(each.Track);
        for (const SetLayer& layer : each.Layers) {
            track(layer.Track);
            if (layer.Volume.Curve)
                Check(set.FindParameter(layer.Volume.Curve->Parameter) != nullptr,
                      "a curve follows a parameter the set lacks");
        }
        for (const std::string& item : each.Playlist.Items) track(item);
        Check(each.Playlist.Weights.empty() ||
                  each.Playlist.Weights.size() == each.Playlist.Items.size(),
              "a playlist's weights are not one per item");
    }
    for (const SetTransition& rule : set.Transitions) {
        state(rule.From);
        state(rule.To);
        if (!rule.ViaTrack.empty()) track(rule.ViaTrack);
        if (!rule.ViaState.empty()) state(rule.ViaState);
    }
    for (const SetStinger& stinger : set.Stingers) track(stinger.Track);
    if (!set.InitialState.empty()) state(set.InitialState);
}

}  // namespace
}  // namespace oggmix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace oggmix;
    using namespace oggmix::fuzz;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const size_t lines = 1 + static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    try {
        CheckNames(music::ReadSet(text, "set.json", "tracks", MadeUpFacts));
    } catch (const MusicSetError& e) {
        Check(!e.Problems().empty(), "a set is refused without a problem");
        for (const std::string& problem : e.Problems())
            Check(IsPlaced(problem, lines), "a problem does not say where it is");
    }
    return 0;
}
