#pragma once
// FuzzInput.h: how the fuzz targets read their input, shared with the seed maker.
//   load: an Ogg file followed by kLoadScriptBytes steering bytes (read from the very end, last
//         byte first), so that a seed is a whole file with a script appended;
//   tags: the user comments of a Vorbis file, separated by NUL bytes (a comment ends at its
//         NUL when it is loaded, so no comment can hold one).
// Threads: any. Memory: no alloc.

#include <cstddef>
#include <cstdint>

namespace oggmix::fuzz {

inline constexpr size_t kLoadScriptBytes = 24;
inline constexpr char kCommentSeparator = '\0';

// One step of a load script: the low three bits choose the action, the rest is its argument.
inline constexpr uint8_t StepAction(uint8_t step) noexcept { return step & 7u; }
inline constexpr uint8_t StepArgument(uint8_t step) noexcept { return step >> 3; }  // 0..31

}  // namespace oggmix::fuzz
