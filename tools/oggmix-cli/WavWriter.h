#pragma once
// WavWriter.h: writes 16-bit stereo 44100 Hz PCM to a canonical WAV file (44-byte header:
// RIFF, "fmt " of 16 bytes, data). The sizes in the header are filled in by Finish.
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

    // Creates (or truncates) path. Throws EInOutError when it cannot.
    explicit WavWriter(const std::string& path);
    // A file that was not finished is removed.
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Appends interleaved left, right samples (an even count). False on a write error or
    // beyond kMaxFrames.
    [[nodiscard]] bool Write(std::span<const int16_t> samples);
    // Writes the sizes into the header and closes the file. False on a write error.
    [[nodiscard]] bool Finish();
    [[nodiscard]] int64_t FramesWritten() const noexcept { return FFrames; }

private:
    bool WriteHeader();

    std::string FPath;
    UniqueFile FFile;
    int64_t FFrames = 0;
    bool FFinished = false;
};

}  // namespace oggmix::cli
