// SourceDecode.cpp: reading whole source frames out of libvorbisfile as 16-bit stereo.
#include "stream/SourceDecode.h"

#include <algorithm>

#include "base/PcmFormat.h"
#include "stream/Downmix.h"
#include "stream/RenderKernels.h"

namespace oggmix {
namespace {

// A hole is a page lost to damage: the decoder reports it once and reads on after it, so the
// damage costs only that page's audio. The bound guards against a decoder that would keep
// reporting holes without moving on.
constexpr int kMaxHolesPerRead = 1024;

// One read of 16-bit little-endian signed samples, past any holes. Link: the chained-file link
// the samples came from. >0 bytes, 0 end of data, <0 error.
int32_t ReadPastHoles(const SourceDecoder& source, void* buffer, int32_t lengthBytes,
                      int* link) noexcept {
    for (int hole = 0; hole < kMaxHolesPerRead; ++hole) {
        const int32_t got =
            source.Binding.Read(source.File, buffer, lengthBytes, 0, kBytesPerSample, 1, link);
        if (got != OV_HOLE) return got;
    }
    return OV_HOLE;
}

// Whether a link of a chained file has the stream's rate and channel count. The data of a link
// that has not cannot be converted as the stream's format.
bool LinkHasFormat(const SourceDecoder& source, int link) noexcept {
    const vorbis_info* info = source.Binding.Info(source.File, link);
    return info != nullptr && info->rate == source.RateHz && info->channels == source.Channels;
}

}  // namespace

SourceRead DecodeSourceFrames(const SourceDecoder& source, int32_t repeat,
                              std::span<int16_t> decodeBuffer, StereoFrames16 out,
                              HeldFrame& held) noexcept {
    const int32_t outFrames = out.Frames();
    int bitstream = 0;

    // A chained file's link of another format ends the playable part where it begins: its
    // samples are dropped and the read counts as the end of the data.
    if (repeat == 1 && source.Channels == 2) {
        const int32_t got = ReadPastHoles(source, out.data(), FramesToBytes(outFrames), &bitstream);
        if (got < 0) return {got, false};
        if (got > 0 && !LinkHasFormat(source, bitstream)) return {0, true};
        // libvorbisfile returns whole frames; anything else is never passed on as one.
        return {BytesToFrames(got), got > 0};
    }

    const int32_t sourceFrameBytes = source.Channels * kBytesPerSample;
    const int32_t sourceFrames = (outFrames + repeat - 1) / repeat;
    const int32_t got =
        ReadPastHoles(source, decodeBuffer.data(), sourceFrames * sourceFrameBytes, &bitstream);
    if (got < 0) return {got, false};
    if (got > 0 && !LinkHasFormat(source, bitstream)) return {0, true};
    const int32_t framesRead = got / sourceFrameBytes;
    int32_t channels = source.Channels;
    if (channels > 2) {
        DownmixToStereo(decodeBuffer.data(), decodeBuffer.data(), framesRead, channels);
        channels = 2;
    }
    // Source frames whose every copy fits go through the kernel; a last one may have to hold
    // its second copy back.
    const int32_t whole = std::min(framesRead, outFrames / repeat);
    Kernels().ExpandFrames(out.data(), decodeBuffer.data(), whole, channels, repeat);
    int32_t frame = whole * repeat;
    for (int32_t f = whole; f < framesRead; ++f) {
        // Mono takes its one sample for both channels.
        const int16_t l = decodeBuffer[f * channels];
        const int16_t r = decodeBuffer[f * channels + channels - 1];
        for (int32_t k = 0; k < repeat; ++k) {
            if (frame < outFrames) {
                out.Left(frame) = l;
                out.Right(frame) = r;
                ++frame;
            } else {
                held = {{l, r}, true};
            }
        }
    }
    return {frame, got > 0};
}

}  // namespace oggmix
