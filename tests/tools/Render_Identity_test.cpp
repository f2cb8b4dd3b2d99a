// Renders stay bit-identical: oggmix-cli render with every effect on (tone filter, gain
// control, fades, pans, volumes, master volume, limiter, seeks) over the demo file and a
// 22050 Hz mono file, through the mixer and through a stream alone, compared with hashes of
// the WAV files taken from a known-good build. A change meant to alter what is heard records
// new hashes here; any other change of one bit fails. Every instruction-set level that the
// processor runs (OGGMIX_SIMD) renders the same bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "stream/SimdLevel.h"
#include "tests/support/OggFixture.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {
namespace {

constexpr uint32_t kNoiseSeed = 4711;

// FNV-1a, 64 bits: enough to tell any two renders apart.
uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t hash = 14695981039346656037ull;
    for (const uint8_t byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
    return hash;
}

// The words of text, split at spaces.
std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

class RenderIdentity : public ::testing::Test {
protected:
    // The hash of the WAV file that oggmix-cli render writes for these files and options.
    uint64_t RenderHash(const std::vector<std::string>& files, const std::string& options) {
        const std::string out = FDir.Path() + "/out.wav";
        std::vector<std::string> args = Words("render " + options + " -o " + out);
        args.insert(args.end(), files.begin(), files.end());
        const ProgramResult result = RunProgram(ExecutableDir() + "/oggmix-cli", args);
        EXPECT_EQ(result.ExitCode, 0) << result.Err;
        return Fnv1a(ReadFileBytes(out));
    }

    // 17 s of mono noise at 22050 Hz: longer than the renders, so it never loops.
    std::string HalfRateMono() {
        return FDir.Write("mono22050.ogg", EncodeOgg(Noise(22050, 1, 17.0, kNoiseSeed, 0.3)));
    }

    const std::string FDemo = ExecutableDir() + "/demo.ogg";
    TempDir FDir;
};

TEST_F(RenderIdentity, MixWithEveryEffectOnIsUnchangedAtEveryLevel) {
    const std::vector<std::string> files = {FDemo, FDemo, HalfRateMono()};
    const std::string options =
        "--seek 1:3 --volume 0:1.5 --volume 2:0.7 --pan 1:-0.5 --pan 2:0.25 --fade 0:0.5:2 "
        "--fade 2:1.2:3 --master 0.9 --limiter 20000,40000,300,22050 --eq 0:LowReso:1 "
        "--eq 1:Wave --eq 2:HighPass:0.5 --agc 1:0.8 --agc 2:1.0 --seconds 16";
    for (const SimdLevel level : {SimdLevel::Scalar, SimdLevel::Sse2, SimdLevel::Avx2}) {
        if (static_cast<int32_t>(level) > static_cast<int32_t>(SupportedSimdLevel())) continue;
        SCOPED_TRACE(SimdLevelName(level));
        setenv("OGGMIX_SIMD", SimdLevelName(level), 1);
        EXPECT_EQ(RenderHash(files, options), 0x72a1fcb36379862bu);
        unsetenv("OGGMIX_SIMD");
    }
}

TEST_F(RenderIdentity, StreamAloneWithEveryEffectOnIsUnchanged) {
    const std::string options =
        "--stream --seek 0:1 --volume 0:1.3 --master 0.8 --pan 0:-0.3 --fade 0:0.6:3 "
        "--eq 0:MiddleReso:2 --agc 0:0.9 --seconds 14";
    EXPECT_EQ(RenderHash({FDemo}, options), 0x8cffdf43da2c628eu);
    EXPECT_EQ(RenderHash({HalfRateMono()}, options), 0xa295f811fcfb8bdeu);
}

}  // namespace
}  // namespace oggmix::test
