// BenchFiles.cpp: the benchmark material, its streams and the decode floor.
#include "bench/BenchFiles.h"

#include <cmath>
#include <stdexcept>

#include "base/MemoryStream.h"
#include "stream/SourceFormat.h"
#include "tests/support/OggFixture.h"
#include "tests/support/Signals.h"
#include "tests/support/TestPaths.h"

namespace oggmix::bench {
namespace {

constexpr float kVorbisQuality3 = 0.3f;

BenchFile Encode(int32_t rateHz, int32_t channels) {
    test::BindDecoder();
    const test::Pcm pcm = test::Music(rateHz, channels, kMusicSec);
    test::EncodeOptions options;
    options.Quality = kVorbisQuality3;
    return {test::EncodeOgg(pcm, options), rateHz, channels};
}

}  // namespace

const BenchFile& StereoFile() {
    static const BenchFile file = Encode(44100, 2);
    return file;
}

const BenchFile& MonoFile() {
    static const BenchFile file = Encode(22050, 1);
    return file;
}

BenchFile WithComments(const BenchFile& file, const std::vector<std::string>& comments) {
    std::vector<test::OggPacket> packets = test::PacketsOf(file.Ogg);
    packets.at(1).Bytes = test::VorbisCommentPacket("oggmix bench", comments);
    return {test::OggOfPagedPackets(packets), file.RateHz, file.Channels};
}

const BenchFile& Stereo48File() {
    static const BenchFile file = Encode(48000, 2);
    return file;
}

const BenchFile& Mono32File() {
    static const BenchFile file = Encode(32000, 1);
    return file;
}

int32_t BlocksPerFile() { return static_cast<int32_t>(std::ceil(kMusicSec / kBlockSec)); }

std::unique_ptr<TOggData> PlayingStream(const BenchFile& file, float StartSec) {
    auto stream = std::make_unique<TOggData>(kBufferBytes);
    stream->SetConversion(!PlaysAsIs(file.RateHz, file.Channels));
    if (!stream->LoadFromStream(std::make_unique<MemoryStream>(file.Ogg)))
        throw std::runtime_error("cannot load the benchmark file");
    stream->Seek(StartSec, true);
    stream->Play(true, true);
    return stream;
}

FloorDecoder::FloorDecoder(const BenchFile& file, float StartSec) {
    auto source = std::make_unique<MemoryStream>(file.Ogg);
    if (VorbisFileDLL->OpenCallbacks(source.get(), &FDecoder, nullptr, 0) < 0)
        throw std::runtime_error("cannot open the benchmark file");
    source.release();  // the decoder's close callback frees it
    if (StartSec > 0.0f) (void)VorbisFileDLL->TimeSeek(&FDecoder, StartSec);
    // The source frames that make one block of 44100 Hz output frames.
    const auto sourceFrames =
        static_cast<int32_t>(int64_t{kBlockFrames} * file.RateHz / kFramesPerSecond);
    FBlockSourceBytes = sourceFrames * file.Channels * kBytesPerSample;
    FBuffer.resize(kFloorReadBytes);
}

FloorDecoder::~FloorDecoder() { VorbisFileDLL->Clear(&FDecoder); }

void FloorDecoder::DecodeBlock() noexcept {
    int32_t remaining = FBlockSourceBytes;
    int bitstream = 0;
    while (remaining > 0) {
        const int32_t want = remaining < kFloorReadBytes ? remaining : kFloorReadBytes;
        const int32_t got =
            VorbisFileDLL->Read(&FDecoder, FBuffer.data(), want, 0, kBytesPerSample, 1, &bitstream);
        if (got < 0) return;  // a fault, which this file does not have
        if (got == 0) {
            // The end: round again, as a looping stream does.
            (void)VorbisFileDLL->TimeSeek(&FDecoder, 0.0);
            continue;
        }
        remaining -= got;
    }
}

}  // namespace oggmix::bench
