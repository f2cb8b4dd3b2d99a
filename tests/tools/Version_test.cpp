// oggmix-cli --version: the version and the instruction-set level in force, which OGGMIX_SIMD
// chooses; a level the processor lacks, or no level at all, is refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "stream/SimdLevel.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {
namespace {

using ::testing::HasSubstr;

class Version : public ::testing::Test {
protected:
    void TearDown() override { unsetenv("OGGMIX_SIMD"); }

    static ProgramResult RunWith(const char* simd) {
        setenv("OGGMIX_SIMD", simd, 1);
        return RunProgram(ExecutableDir() + "/oggmix-cli", {"--version"});
    }
};

TEST_F(Version, PrintsTheVersionAndTheLevelThatOggmixSimdChooses) {
    const std::string widest = SimdLevelName(SupportedSimdLevel());
    EXPECT_EQ(RunWith("").Out, "oggmix-cli " OGGMIX_VERSION "\nsimd " + widest + "\n");
    for (const SimdLevel level : {SimdLevel::Scalar, SimdLevel::Sse2, SimdLevel::Avx2}) {
        if (static_cast<int32_t>(level) > static_cast<int32_t>(SupportedSimdLevel())) continue;
        const ProgramResult result = RunWith(SimdLevelName(level));
        EXPECT_EQ(result.ExitCode, 0);
        EXPECT_THAT(result.Out, HasSubstr(std::string("\nsimd ") + SimdLevelName(level) + "\n"));
    }
}

TEST_F(Version, AnUnknownLevelOrOneTheProcessorLacksIsRefused) {
    ProgramResult result = RunWith("avx512");
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_THAT(result.Err, HasSubstr("OGGMIX_SIMD refused: the level is scalar, sse2 or avx2"));
    if (SupportedSimdLevel() == SimdLevel::Avx2) return;
    result = RunWith("avx2");
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_THAT(result.Err, HasSubstr("OGGMIX_SIMD=avx2 refused: this processor lacks AVX2"));
}

}  // namespace
}  // namespace oggmix::test
