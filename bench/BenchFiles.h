#pragma once
// BenchFiles.h: the material every benchmark plays, made once per run by the test-support
// encoder: about 60 s of music-like sound at Vorbis quality 3, as 44100 Hz stereo and as
// 22050 Hz mono, and for the conversion as 48000 Hz stereo and 32000 Hz mono; streams loaded
// from it (converting where the rate or channel count needs it); and a plain decoder over it that reads through the
// binding the way the decode floor is defined (4096-byte reads from memory).
// Threads: the benchmark thread. Memory: allocates (outside the timed parts).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decoder/OggWuvorbisLib.h"
#include "stream/OggDataLib.h"

namespace oggmix::bench {

inline constexpr int32_t kBufferBytes = 65536;  // the test application's
inline constexpr int32_t kBlockFrames = kBufferBytes / kBytesPerWideFrame;  // 8192 output frames
inline constexpr double kBlockSec = static_cast<double>(kBlockFrames) / kFramesPerSecond;
inline constexpr double kMusicSec = 60.0;
inline constexpr int32_t kFloorReadBytes = 4096;

struct BenchFile {
    std::vector<uint8_t> Ogg;
    int32_t RateHz = 0;
    int32_t Channels = 0;
};

[[nodiscard]] const BenchFile& StereoFile();    // 44100 Hz, 2 channels
[[nodiscard]] const BenchFile& MonoFile();      // 22050 Hz, 1 channel
[[nodiscard]] const BenchFile& Stereo48File();  // 48000 Hz, 2 channels
[[nodiscard]] const BenchFile& Mono32File();    // 32000 Hz, 1 channel
// The same file again with these comments ("NAME=value") in place of its own.
[[nodiscard]] BenchFile WithComments(const BenchFile& file,
                                     const std::vector<std::string>& comments);
// Output blocks that cover the whole file once.
[[nodiscard]] int32_t BlocksPerFile();

// A stream of kBufferBytes blocks over file, loaded and playing in a loop from StartSec.
[[nodiscard]] std::unique_ptr<TOggData> PlayingStream(const BenchFile& file, float StartSec = 0.0f);

// libvorbisfile through the binding, nothing else: the least a stream can cost.
class FloorDecoder {
public:
    explicit FloorDecoder(const BenchFile& file, float StartSec = 0.0f);
    ~FloorDecoder();
    FloorDecoder(const FloorDecoder&) = delete;
    FloorDecoder& operator=(const FloorDecoder&) = delete;

    // Decodes the source bytes of one output block in reads of at most kFloorReadBytes,
    // starting again from the beginning at the end of the file.
    void DecodeBlock() noexcept;

private:
    OggVorbis_File FDecoder{};
    int32_t FBlockSourceBytes = 0;
    std::vector<uint8_t> FBuffer;
};

}  // namespace oggmix::bench
