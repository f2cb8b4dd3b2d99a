#pragma once
// ServerPlayback.h: what the game player's end-to-end tests and its measurements share: the
// reference a live player must be heard as (the same calls on the "offline" back end, which
// mixes exactly what a device would pull), and a fixed-tempo click track whose beats are
// found again in a recording.
// Threads: the caller's. Memory: allocates.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "oggmix/MusicPlayer.h"
#include "tests/support/OggFixture.h"
#include "tests/support/Signals.h"

namespace oggmix::test {

inline constexpr int32_t kServerRate = 44100;

inline PlayerOptions BackendOptions(const std::string& backend, int32_t latencyMs = 0) {
    PlayerOptions options;
    options.Backend = backend;
    options.LatencyMs = latencyMs;
    return options;
}

inline Track LoadBytes(MusicPlayer& player, const std::vector<uint8_t>& bytes) {
    return player.Load(std::as_bytes(std::span(bytes)), "fixture");
}

// The next frames of an offline player, interleaved left and right.
inline std::vector<int16_t> RenderFrames(MusicPlayer& player, int64_t frames) {
    std::vector<int16_t> mix(static_cast<size_t>(frames) * 2);
    player.RenderOffline(mix);
    return mix;
}

// The mix of bytes played once from its start with no fade: what a live player playing it
// must be heard as.
inline std::vector<int16_t> PlayedAlone(const std::vector<uint8_t>& bytes, double seconds) {
    MusicPlayer offline(BackendOptions("offline"));
    offline.Play(LoadBytes(offline, bytes), {.Loop = false});
    return RenderFrames(offline, std::llround(seconds * kServerRate));
}

inline constexpr int64_t kClickBeatFrames = 22050;  // 120 beats per minute
inline constexpr int64_t kClickFrames = 441;        // 10 ms

// A short click on every beat (silence between), tagged with its tempo. A click starts at
// full level, so its onset is found to the frame.
inline std::vector<uint8_t> ClickTrack(double seconds) {
    Pcm pcm = Silence(kServerRate, 2, seconds);
    for (int64_t beat = 0; beat < pcm.Frames(); beat += kClickBeatFrames)
        for (int64_t f = 0; f < kClickFrames && beat + f < pcm.Frames(); ++f) {
            const double decay = 1.0 - static_cast<double>(f) / kClickFrames;
            const auto sample = static_cast<int16_t>(
                20000.0 * decay *
                std::cos(2.0 * 3.14159265358979323846 * 1000.0 * f / kServerRate));
            pcm.Samples[static_cast<size_t>(2 * (beat + f))] = sample;
            pcm.Samples[static_cast<size_t>(2 * (beat + f) + 1)] = sample;
        }
    return EncodeOgg(pcm, {.Comments = {"BPM=120", "BEATSPERBAR=4", "FIRSTBEAT=0"}});
}

// The frames of a recording at which a sound starts after at least quietFrames of near
// silence (|sample| <= threshold).
inline std::vector<int64_t> Onsets(const std::vector<int16_t>& heard, int64_t quietFrames,
                                   int32_t threshold = 64) {
    std::vector<int64_t> onsets;
    int64_t quiet = quietFrames;
    for (size_t i = 0; i + 1 < heard.size(); i += 2) {
        const bool loud = std::abs(heard[i]) > threshold || std::abs(heard[i + 1]) > threshold;
        if (loud && quiet >= quietFrames) onsets.push_back(static_cast<int64_t>(i / 2));
        quiet = loud ? 0 : quiet + 1;
    }
    return onsets;
}

}  // namespace oggmix::test
