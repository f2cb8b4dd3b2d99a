// ExampleSet.cpp: the example set and its track files.
#include "tests/support/ExampleSet.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "tests/support/OggFixture.h"

namespace oggmix::test {
namespace {

constexpr int32_t kRateHz = 44100;

void WriteTone(const TempDir& folder, const std::string& name, double seconds, double freqHz) {
    EncodeOptions options;
    options.Quality = 0.0f;
    (void)folder.Write(name, EncodeOgg(Sine(kRateHz, 1, seconds, freqHz), options));
}

}  // namespace

std::string ExampleSetJson() {
    return R"({
  "tracks": {
    "explore": { "file": "explore.ogg", "tempo": { "bpm": 120, "beats_per_bar": 4, "first_beat": 0 },
                 "markers": { "exit_a": 352800, "exit_b": 705600 } },
    "combat":  { "file": "combat.ogg", "tempo": { "bpm": 120 } },
    "drums":   { "file": "drums_2bars.ogg" },
    "bridge":  { "file": "bridge.ogg" },
    "calm_1":  { "file": "calm_1.ogg" },
    "calm_2":  { "file": "calm_2.ogg" },
    "hit":     { "file": "hit.ogg" }
  },
  "parameters": { "intensity": { "min": 0, "max": 1, "default": 0 } },
  "states": {
    "explore": { "track": "explore" },
    "combat":  { "layers": [
                   { "track": "combat" },
                   { "track": "drums", "loop_bars": 2,
                     "volume": { "parameter": "intensity", "curve": [[0, 0], [0.5, 0.6], [1, 1]] } } ] },
    "calm":    { "playlist": ["calm_1", "calm_2"], "order": "shuffle" }
  },
  "transitions": [
    { "from": "*",       "to": "*",      "when": "bar",  "fade": "cross", "fade_beats": 1 },
    { "from": "explore", "to": "combat", "when": "marker", "via": "bridge", "fade": "none" },
    { "from": "combat",  "to": "calm",   "when": "bars:4", "fade": "out", "fade_seconds": 2, "shape": "equal_power" }
  ],
  "stingers": { "hit": { "track": "hit", "when": "beat", "pickup_seconds": 0,
                         "duck_db": -6, "duck_attack_seconds": 0.02, "duck_release_seconds": 0.3,
                         "cooldown_seconds": 1 } },
  "initial_state": "explore"
}
)";
}

std::string LineAndColumn(const std::string& text, size_t offset) {
    const std::string before = text.substr(0, offset);
    const size_t lineStart = before.rfind('\n');
    const size_t line = 1 + static_cast<size_t>(std::count(before.begin(), before.end(), '\n'));
    const size_t column = lineStart == std::string::npos ? offset + 1 : offset - lineStart;
    return std::to_string(line) + ":" + std::to_string(column);
}

std::string WriteExampleSet(const TempDir& folder) {
    const std::vector<std::pair<std::string, double>> tracks = {
        {"explore.ogg", 17.0}, {"combat.ogg", 8.0}, {"drums_2bars.ogg", 4.0}, {"bridge.ogg", 2.0},
        {"calm_1.ogg", 3.0},   {"calm_2.ogg", 3.5}, {"hit.ogg", 1.0}};
    double freqHz = 220.0;
    for (const auto& [name, seconds] : tracks) WriteTone(folder, name, seconds, freqHz += 55.0);
    const std::string json = ExampleSetJson();
    return folder.Write("set.json", std::vector<uint8_t>(json.begin(), json.end()));
}

}  // namespace oggmix::test
