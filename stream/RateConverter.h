#pragma once
// RateConverter.h: converts 16-bit stereo at a source rate to 44100 Hz with libsoxr at its
// high-quality setting, keeping count of where the music inside it stands. The output is
// aligned in time with the input: output frame k of a fresh start is music time
// start + k / 44100, so positions convert both ways without a phase offset.
// Threads: the owner's; not thread-safe. Locks: none (the owning stream's FLock guards it).
// Memory: construction and Restart allocate (libsoxr's state); Process and Finish do not once
//         a Restart has run a conversion with the largest spans they are then handed.
// Units:   frames are stereo frames (two samples); the source rate in Hz.

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
    // Throws ERangeError when libsoxr refuses the rate.
    explicit RateConverter(int32_t sourceRateHz);
    ~RateConverter();
    RateConverter(const RateConverter&) = delete;
    RateConverter& operator=(const RateConverter&) = delete;

    [[nodiscard]] int32_t SourceRateHz() const noexcept { return FSourceRateHz; }
    // Source frames of music that a restart wants before the first frame it should output,
    // so that the filter's history holds real music.
    [[nodiscard]] int32_t PrimeFrames() const noexcept { return FPrimeFrames; }

    // Starts a fresh conversion whose first `primeFrames` source frames are only history: the
    // output they account for is dropped as it appears. Allocates.
    void Restart(int64_t primeFrames);
    // Converts as much of Input as Output has room for. Progress is zero only when Input is
    // empty and nothing is waiting inside.
    ConverterStep Process(std::span<const int16_t> Input, std::span<int16_t> Output) noexcept;
    // After the last source frame: pushes silence through until the output holds all of the
    // music fed. >0 frames written; 0 when all of it is out.
    int32_t Finish(std::span<int16_t> Output) noexcept;

    // Seconds of music fed but not yet output (negative while a restart's dropped output,
    // rounded up to whole frames, runs ahead of its history).
    [[nodiscard]] double LagSec() const noexcept;

private:
    struct SoxrDeleter {
        void operator()(::soxr* state) const noexcept;
    };
    // One soxr_process call; the counts go into the totals.
    ConverterStep Step(std::span<const int16_t> Input, std::span<int16_t> Output) noexcept;

    int32_t FSourceRateHz;
    int32_t FPrimeFrames;
    std::unique_ptr<::soxr, SoxrDeleter> FState;
    int64_t FFedFrames = 0;     // source frames since the restart, silence of Finish excluded
    int64_t FOutFrames = 0;     // output frames since the restart, dropped ones included
    int64_t FDropFrames = 0;    // output frames still to drop
};

}  // namespace oggmix
