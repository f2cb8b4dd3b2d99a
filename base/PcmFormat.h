#pragma once
// PcmFormat.h: the one audio format that the stream engine, the mixer, the sound output and
// the tools exchange, and the rounding rules that turn floats into samples, offsets and
// settings.
// A sample is one 16-bit value of one channel; a frame is a left and a right sample (4 bytes);
// a wide frame holds them as two 32-bit values (8 bytes). 44100 frames per second, always.
// Threads: any. Memory: no alloc.

#include <cstdint>

namespace oggmix {

inline constexpr int32_t kFramesPerSecond = 44100;
inline constexpr int32_t kChannelsPerFrame = 2;  // left, right
inline constexpr int32_t kBitsPerSample = 16;
inline constexpr int32_t kBytesPerSample = kBitsPerSample / 8;
inline constexpr int32_t kBytesPerFrame = 4;                                   // 16-bit stereo
inline constexpr int32_t kBytesPerWideFrame = 8;                               // 32-bit stereo
inline constexpr int32_t kBytesPerSecond = kFramesPerSecond * kBytesPerFrame;  // 176400
inline constexpr int32_t kWideBytesPerSecond = kFramesPerSecond * kBytesPerWideFrame;  // 352800
inline constexpr int32_t kMaxSampleMagnitude = 32767;  // narrow output never holds -32768
static_assert(kBytesPerFrame == kChannelsPerFrame * kBytesPerSample);
static_assert(kBytesPerWideFrame == 2 * kBytesPerFrame);
static_assert(kBytesPerSecond == 176400 && kWideBytesPerSecond == 352800);

[[nodiscard]] constexpr int32_t FramesToBytes(int32_t frames) noexcept {
    return frames * kBytesPerFrame;
}
[[nodiscard]] constexpr int32_t BytesToFrames(int32_t bytes) noexcept {
    return bytes / kBytesPerFrame;
}
[[nodiscard]] constexpr int32_t WideFramesToBytes(int32_t frames) noexcept {
    return frames * kBytesPerWideFrame;
}
[[nodiscard]] constexpr int32_t BytesToWideFrames(int32_t bytes) noexcept {
    return bytes / kBytesPerWideFrame;
}

// Clamps to the narrow output range -32767..32767.
[[nodiscard]] constexpr int32_t ClipToSample(int32_t value) noexcept {
    return value > kMaxSampleMagnitude    ? kMaxSampleMagnitude
           : value < -kMaxSampleMagnitude ? -kMaxSampleMagnitude
                                          : value;
}

// The nearest integer to x, halves away from zero (2.5 -> 3, -2.5 -> -3). Values beyond the
// 32-bit range saturate; NaN gives 0.
[[nodiscard]] int32_t RoundHalfAway(float x) noexcept;

// The nearest integer to x, halves to the even neighbour (2.5 -> 2, 3.5 -> 4). Saturates like
// RoundHalfAway.
[[nodiscard]] int32_t RoundHalfEven(double x) noexcept;

}  // namespace oggmix
