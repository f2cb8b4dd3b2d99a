#pragma once
// RateConverter.h: converts 16-bit stereo at a source rate to 44100 Hz with libsoxr at its
// high-quality setting, keeping count of where the music inside it stands. The output is
// aligned in time with the input: output frame k of a restart is music time
// start + k / 44100, so positions convert both ways without a phase offset.
// libsoxr grows its buffers to what the pattern of its calls needs, so every call hands it
// the same number of frames; a restart runs that pattern over silence until the buffers
// have their final size. Music whose two channels are one (a mono source) is converted once
// and duplicated, at half the cost.
// Threads: the owner's; not thread-safe. Locks: none (the owning stream's FLock guards it).
// Memory: construction and Restart allocate; Process and Finish do not.
// Units:   frames are stereo frames (two samples); the source rate in Hz.

#include <array>
#include <cstdint>
#include <memory>
#include <span>

struct soxr;  // libsoxr's state

namespace oggmix {

struct ConverterStep {
    int32_t ConsumedFrames = 0;  // source frames taken from the input
    int32_t ProducedFrames = 0;  // output frames written
};

class RateConverter {
public:
    // Throws ERangeError when libsoxr refuses the rate. Ready as after Restart(0).
    // sourceChannels 1: the input's right samples equal its left ones and are not read.
    RateConverter(int32_t sourceRateHz, int32_t sourceChannels);
    ~RateConverter();
    RateConverter(const RateConverter&) = delete;
    RateConverter& operator=(const RateConverter&) = delete;

    [[nodiscard]] int32_t SourceRateHz() const noexcept { return FSourceRateHz; }
    // Source frames of music that a restart wants before the first frame it should output,
    // so that the filter's history holds real music.
    [[nodiscard]] int32_t PrimeFrames() const noexcept { return FPrimeFrames; }

    // Starts a fresh conversion whose first historyFrames source frames only fill the
    // filter: the output they account for is dropped as it appears. Allocates.
    void Restart(int64_t historyFrames);
    // Converts Input into Output as far as both go. Progress is zero only when Input is
    // empty and no converted frame is waiting.
    [[nodiscard]] ConverterStep Process(std::span<const int16_t> Input,
                                        std::span<int16_t> Output) noexcept;
    // After the last source frame: pushes silence through until the output holds all of the
    // music fed. >0 frames written; 0 when all of it is out.
    [[nodiscard]] int32_t Finish(std::span<int16_t> Output) noexcept;

    // Seconds of music fed but not yet output (slightly negative while a restart's dropped
    // output, rounded up to whole frames, runs ahead of its history).
    [[nodiscard]] double LagSec() const noexcept;
    // Source frames of music fed since the restart, its history included.
    [[nodiscard]] int64_t FedFrames() const noexcept { return FFedFrames; }
    // The output frame handed out next, counted from the restart's music on (its history's
    // output included): output frame k plays fed music frame k * SourceRateHz / 44100.
    [[nodiscard]] int64_t NextOutputFrame() const noexcept { return FOutFrames + FDropFrames; }
    // Where among them the next output frame lies (between two of them, in general).
    [[nodiscard]] double OutputFedFrames() const noexcept;

private:
    static constexpr int32_t kStepFrames = 256;     // source frames of every libsoxr call
    static constexpr int32_t kOutputFrames = 8192;  // room for one call's output at 8000 Hz

    struct SoxrDeleter {
        void operator()(::soxr* state) const noexcept;
    };
    // Takes input frames into the step buffer; runs libsoxr once when it is full.
    int32_t Feed(std::span<const int16_t> Input, bool countAsMusic) noexcept;
    // Hands converted frames out (or drops what a restart owes); frames handed out.
    int32_t Take(std::span<int16_t> Output) noexcept;

    int32_t FSourceRateHz;
    int32_t FChannels;  // converted: 1 or 2
    int32_t FPrimeFrames;
    std::unique_ptr<::soxr, SoxrDeleter> FState;
    std::array<int16_t, 2 * kStepFrames> FStep{};  // FChannels samples per frame
    int32_t FStepFrames = 0;
    std::array<int16_t, 2 * kOutputFrames> FOutput{};  // FChannels samples per frame
    int32_t FOutputBegin = 0;                          // frames
    int32_t FOutputEnd = 0;                            // frames
    int64_t FFedFrames = 0;   // music frames since the restart, silence excluded
    int64_t FOutFrames = 0;   // output frames since the restart, dropped ones included
    int64_t FDropFrames = 0;  // output frames still to drop
};

}  // namespace oggmix
