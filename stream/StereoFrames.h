#pragma once
// StereoFrames.h: a view of interleaved stereo frames (left, right) counted in frames, for the
// render path below the byte-counted entry points. StereoFrames16 views 16-bit frames (the
// decoded chunk, narrow output), WideFrames32 32-bit ones (wide output, the mix). The sample
// type is part of the view's type, so a wide run cannot be handed where a narrow one is meant,
// and no size is ever a count of bytes.
// Threads: any. Memory: no alloc; a view of memory it does not own, like std::span.

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "base/PcmFormat.h"

namespace oggmix {

template <class Sample>
class StereoFrames {
public:
    static constexpr int32_t kSamplesPerFrame = 2;  // left, right
    static constexpr int32_t kBytesPerFrame = kSamplesPerFrame * int32_t{sizeof(Sample)};

    // Frames frames from First, the left sample of the first of them.
    constexpr explicit StereoFrames(Sample* First, int32_t Frames) noexcept
        : FFirst(First), FFrames(Frames) {}
    // Every whole frame of Samples.
    constexpr explicit StereoFrames(std::span<Sample> Samples) noexcept
        : StereoFrames(Samples.data(), static_cast<int32_t>(Samples.size() / kSamplesPerFrame)) {}
    // A read-only view of the same frames.
    constexpr operator StereoFrames<const Sample>() const noexcept
        requires(!std::is_const_v<Sample>) {
        return StereoFrames<const Sample>(FFirst, FFrames);
    }

    [[nodiscard]] constexpr int32_t Frames() const noexcept { return FFrames; }
    [[nodiscard]] constexpr Sample* data() const noexcept { return FFirst; }
    [[nodiscard]] constexpr std::span<Sample> Samples() const noexcept {
        return {FFirst, static_cast<std::size_t>(FFrames) * kSamplesPerFrame};
    }
    [[nodiscard]] constexpr Sample& Left(int32_t Frame) const noexcept {
        return FFirst[Frame * kSamplesPerFrame];
    }
    [[nodiscard]] constexpr Sample& Right(int32_t Frame) const noexcept {
        return FFirst[Frame * kSamplesPerFrame + 1];
    }
    // The first Count frames; Count <= Frames().
    [[nodiscard]] constexpr StereoFrames First(int32_t Count) const noexcept {
        return StereoFrames(FFirst, Count);
    }
    // The frames from Frame on; Frame <= Frames().
    [[nodiscard]] constexpr StereoFrames From(int32_t Frame) const noexcept {
        return StereoFrames(FFirst + Frame * kSamplesPerFrame, FFrames - Frame);
    }

private:
    Sample* FFirst = nullptr;
    int32_t FFrames = 0;
};

using StereoFrames16 = StereoFrames<int16_t>;
using ConstStereoFrames16 = StereoFrames<const int16_t>;
using WideFrames32 = StereoFrames<int32_t>;
using ConstWideFrames32 = StereoFrames<const int32_t>;

static_assert(StereoFrames16::kBytesPerFrame == kBytesPerFrame);
static_assert(WideFrames32::kBytesPerFrame == kBytesPerWideFrame);

}  // namespace oggmix
