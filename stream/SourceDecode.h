#pragma once
// SourceDecode.h: one read of a decoder's source frames as 16-bit stereo: past damaged pages,
// a chained file's links of another format cut off, 3 to 8 channels mixed down, and each
// source frame output once or twice (a 22050 Hz source at 44100 Hz).
// Threads: the caller's; the decoder state must be the caller's alone meanwhile.
// Locks:   none (a stream calls it with its FLock held).
// Memory:  no alloc, no throw.

#include <array>
#include <cstdint>
#include <span>

#include "decoder/OggWuvorbisLib.h"
#include "stream/StereoFrames.h"

namespace oggmix {

struct SourceDecoder {
    TVorbisFileDLL& Binding;
    OggVorbis_File* File;
    int32_t RateHz;
    int32_t Channels;  // 1..8
};

// Where the second output frame of a last source frame that does not fit waits.
struct HeldFrame {
    std::array<int16_t, 2> Samples{};
    bool Held = false;
};

// Decodes into out, each source frame repeat (1 or 2) times, through decodeBuffer, which holds
// out's source frames of every channel. SamplesArrived: the decoder delivered samples, even
// of a link of another format. >0 frames written, 0 end of the data (or of the part of the
// stream's format), <0 the decoder's error.
struct SourceRead {
    int32_t Frames = 0;
    bool SamplesArrived = false;
};
[[nodiscard]] SourceRead DecodeSourceFrames(const SourceDecoder& source, int32_t repeat,
                                            std::span<int16_t> decodeBuffer, StereoFrames16 out,
                                            HeldFrame& held) noexcept;

}  // namespace oggmix
