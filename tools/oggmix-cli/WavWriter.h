#pragma once
// WavWriter.h: writes 16-bit stereo 44100 Hz PCM to a canonical WAV file (44-byte header:
// RIFF, "fmt " of 16 bytes, data). The header first holds the planned length, so that what
// is read from a pipe, which cannot be rewound, is sized; Finish writes the length written
// where the file can seek. Removing an unfinished file is the owner's (OutputFile): the path
// may be a device written in place.
// Threads: one. Memory: allocates on construction only.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "base/FileCloser.h"

namespace oggmix::cli {

class WavWriter {
public:
    // The most frames whose size fits the header's 32-bit fields.
    static constexpr int64_t kMaxFrames = (0xFFFFFFFFLL - 36) / 4;

    // Creates (or truncates) path for plannedFrames (at most kMaxFrames). Throws EInOutError
    // when it cannot.
    WavWriter(const std::string& path, int64_t plannedFrames);

    // Appends interleaved left, right samples (an even count). False on a write error or
    // beyond kMaxFrames.
    [[nodiscard]] bool Write(std::span<const int16_t> samples);
    // Writes the sizes into the header (a file that cannot seek keeps the planned ones) and
    // closes the file. False on a write error.
    [[nodiscard]] bool Finish();
    [[nodiscard]] int64_t FramesWritten() const noexcept { return FFrames; }

private:
    bool WriteHeader(int64_t frames);

    UniqueFile FFile;
    int64_t FFrames = 0;
};

}  // namespace oggmix::cli
