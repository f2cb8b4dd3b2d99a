#pragma once
// StreamTestSupport.h: streams for the render, cue and transport tests. Encodes synthesised
// PCM (with loop tags) at test time, loads it into a TOggData, and derives the frames the
// engine must produce from a plain libvorbisfile decode of the same file.
// Threads: the test's. Memory: allocates.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "stream/OggDataLib.h"
#include "tests/support/OggFixture.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {

inline constexpr int32_t kTestBufferBytes = 65536;  // one block of wide frames per ring half
inline constexpr int32_t kBlockFrames = kTestBufferBytes / kBytesPerWideFrame;  // 8192
inline constexpr uint32_t kNoiseSeed = 20240611;

struct TestStream {
    Decoded Reference;
    // The reference as the engine's internal format: 44100 Hz stereo, interleaved.
    std::vector<int16_t> Frames;
    std::unique_ptr<TOggData> Data;

    [[nodiscard]] int64_t FrameCount() const noexcept {
        return static_cast<int64_t>(Frames.size()) / 2;
    }
};

// The reference decode converted as the engine converts: a mono sample goes to both channels,
// a 22050 Hz frame is output twice.
inline std::vector<int16_t> ToOutputFrames(const Decoded& decoded) {
    const int32_t repeat = decoded.RateHz == 22050 ? 2 : 1;
    std::vector<int16_t> out;
    const size_t sourceFrames = decoded.Samples.size() / static_cast<size_t>(decoded.Channels);
    out.reserve(sourceFrames * 2 * static_cast<size_t>(repeat));
    for (size_t f = 0; f < sourceFrames; ++f) {
        const int16_t l = decoded.Samples[f * decoded.Channels];
        const int16_t r = decoded.Samples[f * decoded.Channels + decoded.Channels - 1];
        for (int32_t k = 0; k < repeat; ++k) {
            out.push_back(l);
            out.push_back(r);
        }
    }
    return out;
}

// Encodes pcm with the given comments and loads it into a new TOggData of kTestBufferBytes.
inline TestStream MakeStream(const Pcm& pcm, std::vector<std::string> comments = {}) {
    BindDecoder();
    EncodeOptions options;
    options.Comments = std::move(comments);
    std::vector<uint8_t> ogg = EncodeOgg(pcm, options);
    TestStream stream;
    stream.Reference = DecodeReference(ogg);
    stream.Frames = ToOutputFrames(stream.Reference);
    stream.Data = std::make_unique<TOggData>(kTestBufferBytes);
    if (!stream.Data->LoadFromStream(std::make_unique<MemoryStream>(std::move(ogg))))
        throw std::runtime_error("the test stream did not load");
    return stream;
}

// Loads pcm into a stream whose conversion is switched on before the load. The frames are
// left empty: the conversion's output has a reference of its own (ConvertedReference.h).
inline TestStream MakeConvertedStream(const Pcm& pcm, std::vector<std::string> comments = {}) {
    BindDecoder();
    EncodeOptions options;
    options.Quality = 1.0f;  // the codec's own noise well below what is measured
    options.Comments = std::move(comments);
    std::vector<uint8_t> ogg = EncodeOgg(pcm, options);
    TestStream stream;
    stream.Reference = DecodeReference(ogg);
    stream.Data = std::make_unique<TOggData>(kTestBufferBytes);
    stream.Data->SetConversion(true);
    if (!stream.Data->LoadFromStream(std::make_unique<MemoryStream>(std::move(ogg))))
        throw std::runtime_error("the test stream did not load");
    return stream;
}

// Seeded noise: every frame differs from its neighbours, so a frame out of place shows.
inline TestStream MakeNoiseStream(int32_t rateHz, int32_t channels, double seconds,
                                  std::vector<std::string> comments = {}, double amplitude = 0.5) {
    return MakeStream(Noise(rateHz, channels, seconds, kNoiseSeed, amplitude), std::move(comments));
}

// Frames [from, to) of interleaved stereo appended to out.
inline void AppendFrames(std::vector<int16_t>& out, const std::vector<int16_t>& frames,
                         int64_t from, int64_t to) {
    out.insert(out.end(), frames.begin() + from * 2, frames.begin() + to * 2);
}

inline std::vector<int16_t> FramesOf(const TestStream& s, int64_t from, int64_t to) {
    std::vector<int16_t> out;
    AppendFrames(out, s.Frames, from, to);
    return out;
}

// Narrow output never holds -32768.
inline std::vector<int16_t> Clipped(std::vector<int16_t> samples) {
    for (int16_t& s : samples)
        if (s == -32768) s = -32767;
    return samples;
}

// Renders blocks through RenderNext and collects them as 16-bit frames (the values of the
// test streams stay in range). Stops early at a block that renders nothing.
inline std::vector<int16_t> RenderBlocks(TOggData& data, int32_t blocks) {
    std::vector<int16_t> out;
    for (int32_t b = 0; b < blocks; ++b) {
        if (data.RenderNext(0) <= 0) break;
        const int32_t* block = data.GetBlock();
        out.insert(out.end(), block, block + 2 * kBlockFrames);
    }
    return out;
}

// Renders frames narrow frames through Render, asking for the sizes in turn (in bytes).
inline std::vector<int16_t> RenderNarrow(TOggData& data, int64_t frames,
                                         const std::vector<int32_t>& requestBytes) {
    std::vector<int16_t> out;
    std::vector<int16_t> buffer;
    for (size_t i = 0; static_cast<int64_t>(out.size()) < frames * 2; ++i) {
        const int32_t bytes = requestBytes[i % requestBytes.size()];
        buffer.assign(static_cast<size_t>(bytes) / 2, 0);
        const int32_t got = data.Render(buffer.data(), bytes, 0, false, true);
        out.insert(out.end(), buffer.begin(), buffer.begin() + got / 2);
        if (got < bytes - bytes % kBytesPerFrame) break;
    }
    if (static_cast<int64_t>(out.size()) > frames * 2) out.resize(static_cast<size_t>(frames) * 2);
    return out;
}

// Equal sample for sample; on failure names the first differing frame.
inline ::testing::AssertionResult SameFrames(const std::vector<int16_t>& actual,
                                             const std::vector<int16_t>& expected) {
    const size_t n = std::min(actual.size(), expected.size());
    for (size_t i = 0; i < n; ++i) {
        if (actual[i] != expected[i]) {
            return ::testing::AssertionFailure()
                   << "frame " << i / 2 << (i % 2 == 0 ? " left" : " right") << ": got "
                   << actual[i] << ", want " << expected[i];
        }
    }
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure()
               << "got " << actual.size() / 2 << " frames, want " << expected.size() / 2;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace oggmix::test
