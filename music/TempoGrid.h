#pragma once
// TempoGrid.h: a track's beats and bars in its own source frames, exact at any distance. Beat
// k lies on the source frame nearest to First + k * 60 * Rate / Bpm (a tie rounds up), each
// computed from k alone in integers, so that nothing drifts however long the music plays.
// The tempo is a decimal number of beats per minute, kept in millionths.
//
// Threads: any (values only). Memory: no alloc. Units: source frames at RateHz.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace oggmix::music {

inline constexpr int64_t kMicroBeatsPerBeat = 1'000'000;
// The furthest frame a grid, a schedule or a clock is asked about: 2^48 frames, about 200
// years at 44100 Hz. Within it no sum or product of frames the player makes overflows.
inline constexpr int64_t kFarthestFrame = int64_t{1} << 48;

struct TempoGrid {
    int64_t BpmMicro = 0;  // beats per minute x 10^6; 0: no tempo
    int32_t BeatsPerBar = 4;
    int64_t FirstBeatFrame = 0;
    int32_t RateHz = 44100;

    [[nodiscard]] bool Known() const noexcept { return BpmMicro > 0; }
    // The source frame of beat Index (negative: before the first beat).
    [[nodiscard]] int64_t BeatFrame(int64_t Index) const noexcept;
    // The first beat whose frame is at or after Frame.
    [[nodiscard]] int64_t BeatAtOrAfter(int64_t Frame) const noexcept;
    // The first beat at or after Frame that begins a bar, and every Bars bars from bar 0.
    [[nodiscard]] int64_t BarBeatAtOrAfter(int64_t Frame, int32_t Bars = 1) const noexcept;
    // Bar and beat within the bar of beat Index, both from 0 (floor for beats before 0).
    [[nodiscard]] int64_t BarOf(int64_t Index) const noexcept;
    [[nodiscard]] int32_t BeatInBar(int64_t Index) const noexcept;
    // Frames per beat, for lengths given in beats (not for placing beats: that is BeatFrame).
    [[nodiscard]] double FramesPerBeat() const noexcept;
};

// "120", "137.5", " 98.000 ": beats per minute x 10^6 (more than six decimals round to the
// nearest millionth, a tie up), none when the text is not such a number or not above 0 or not
// below 10000.
[[nodiscard]] std::optional<int64_t> ParseBpm(std::string_view Text) noexcept;
// A tempo given as a double, to the nearest millionth; none outside 0 < Bpm < 10000.
[[nodiscard]] std::optional<int64_t> BpmToMicro(double Bpm) noexcept;

// The grid a track's tags give (their texts, empty where absent), and why a tag present was
// not taken: empty when each was. A tag not taken leaves its default (no tempo, 4 beats a bar,
// the first beat on frame 0). Threads: any. Memory: allocates the problem's text.
struct TagTempo {
    TempoGrid Grid;
    std::string Problem;
};
[[nodiscard]] TagTempo ReadTempoTags(std::string_view Bpm, std::string_view BeatsPerBar,
                                     std::string_view FirstBeat, int32_t RateHz);

}  // namespace oggmix::music
