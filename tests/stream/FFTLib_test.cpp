// FFTLib_test.cpp: the transform's tables, direction, round trip and element-wise steps.
#include "stream/FFTLib.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>

#include "base/Exceptions.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/SpectrumChecks.h"

namespace oggmix {
namespace {

constexpr int kN = 256;

TEST(FFTTables, WindowHasItsPublishedValues) {
    const TFFT fft(kN);
    // Exact: the edge of the window is one half, its reciprocal two.
    EXPECT_EQ(fft.Window()[0], 0.5f);
    EXPECT_EQ(fft.InvWindow()[0], 2.0f);
    EXPECT_EQ(fft.Window()[128], 1.0f);
    EXPECT_NEAR(fft.Window()[64], 0.853553, 1e-6);
    EXPECT_NEAR(fft.Window()[255], 0.506136, 1e-6);
    for (int i = 0; i < kN; ++i) {
        EXPECT_GE(fft.Window()[i], 0.5f) << i;
        EXPECT_LE(fft.InvWindow()[i], 2.0f) << i;
        EXPECT_NEAR(fft.Window()[i] * fft.InvWindow()[i], 1.0, 1e-6) << i;
    }
}

TEST(FFTTables, WeightHasItsPublishedValuesAndIsMirrored) {
    const TFFT fft(kN);
    const auto& w = fft.Weight();
    EXPECT_NEAR(w[0], 0.000166667, 1e-9);
    EXPECT_NEAR(w[1], 0.000271811, 1e-9);
    EXPECT_NEAR(w[64], 0.00377277, 1e-8);
    EXPECT_NEAR(w[127], 0.00662348, 1e-8);
    EXPECT_EQ(w[128], w[127]);
    EXPECT_EQ(w[255], w[0]);
    for (int j = 0; j < kN / 2; ++j) {
        EXPECT_EQ(w[kN - 1 - j], w[j]) << j;
        if (j > 0) {
            EXPECT_GT(w[j], w[j - 1]) << "the weighting rises with frequency, " << j;
        }
    }
}

TEST(FFTTables, SineTableIsWithinTwoTenMillionthsOfTheSine) {
    const TFFT fft(kN);
    ASSERT_EQ(fft.SinTable().size(), static_cast<size_t>(3 * kN / 4));
    for (int i = 0; i < 3 * kN / 4; ++i)
        EXPECT_NEAR(fft.SinTable()[i], std::sin(2.0 * std::numbers::pi * i / kN), 2e-7) << i;
    EXPECT_EQ(fft.SinTable()[0], 0.0f);
    EXPECT_EQ(fft.SinTable()[kN / 4], 1.0f);
    EXPECT_EQ(fft.SinTable()[kN / 2], 0.0f);
    EXPECT_EQ(fft.SinTable()[3 * kN / 4 - 1], -fft.SinTable()[kN / 4 - 1]);
}

TEST(FFTTables, BitReversalOfEightPoints) {
    const TFFT fft(8);
    const std::vector<int32_t> expected{0, 4, 2, 6, 1, 5, 3, 7};
    EXPECT_EQ(fft.BitRev(), expected);
}

TEST(FFTTables, BitReversalIsAnInvolution) {
    const TFFT fft(kN);
    for (int i = 0; i < kN; ++i) EXPECT_EQ(fft.BitRev()[fft.BitRev()[i]], i) << i;
}

TEST(FFTSize, RefusesSizesThatAreNotPowersOfTwoOfAtLeastFour) {
    for (int32_t size : {0, -8, 1, 2, 3, 6, 100, 255}) {
        EXPECT_THROW(TFFT{size}, ERangeError) << size;
    }
}

TEST(FFTSize, SetSizeRebuildsEveryTableAndZeroesTheArrays) {
    TFFT fft(8);
    fft.Re[3] = 5.0f;
    fft.SetSize(kN);
    EXPECT_EQ(fft.Size(), kN);
    EXPECT_EQ(fft.Re.size(), static_cast<size_t>(kN));
    EXPECT_EQ(fft.Im.size(), static_cast<size_t>(kN));
    EXPECT_EQ(fft.Re[3], 0.0f);
    EXPECT_EQ(fft.Window()[0], 0.5f);
    EXPECT_EQ(fft.Weight().size(), static_cast<size_t>(kN));
    EXPECT_EQ(fft.BitRev()[1], kN / 2);
}

// Seeded random 16-bit input in both parts.
void FillRandom(TFFT& fft, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    for (int i = 0; i < fft.Size(); ++i) {
        fft.Re[i] = static_cast<float>(sample(random));
        fft.Im[i] = static_cast<float>(sample(random));
    }
}

// Up to 256 points the pair stays within 0.03 of 16-bit input; larger sizes add a stage of
// rounding per doubling but still round back to the input.
struct RoundTripCase {
    int32_t size;
    double tolerance;
};

class FFTRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(FFTRoundTrip, BackwardAfterForwardGivesBackTheInputIntegers) {
    const int32_t size = GetParam().size;
    const double tolerance = GetParam().tolerance;
    const uint32_t seed = 20261207u + static_cast<uint32_t>(size);
    SCOPED_TRACE("seed " + std::to_string(seed));
    TFFT fft(size);
    FillRandom(fft, seed);
    const std::vector<float> re = fft.Re;
    const std::vector<float> im = fft.Im;
    fft.Forward();
    fft.Backward();
    for (int i = 0; i < size; ++i) {
        EXPECT_NEAR(fft.Re[i], re[i], tolerance) << i;
        EXPECT_NEAR(fft.Im[i], im[i], tolerance) << i;
        EXPECT_EQ(std::lround(fft.Re[i]), std::lround(re[i])) << i;
        EXPECT_EQ(std::lround(fft.Im[i]), std::lround(im[i])) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, FFTRoundTrip,
                         ::testing::Values(RoundTripCase{4, 0.03}, RoundTripCase{8, 0.03},
                                           RoundTripCase{64, 0.03}, RoundTripCase{256, 0.03},
                                           RoundTripCase{1024, 0.1}));

TEST(FFTWindow, RemoveWindowUndoesApplyWindow) {
    const uint32_t seed = 77u;
    SCOPED_TRACE("seed " + std::to_string(seed));
    TFFT fft(kN);
    FillRandom(fft, seed);
    const std::vector<float> re = fft.Re;
    fft.ApplyWindow();
    EXPECT_NE(fft.Re, re);
    fft.RemoveWindow();
    for (int i = 0; i < kN; ++i) EXPECT_NEAR(fft.Re[i], re[i], 0.01) << i;
}

TEST(FFTForward, ConstantGoesToBinZeroOnly) {
    TFFT fft(kN);
    std::fill(fft.Re.begin(), fft.Re.end(), 1000.0f);
    fft.Forward();
    EXPECT_NEAR(fft.Re[0], 1000.0, 1e-3);
    EXPECT_NEAR(fft.Im[0], 0.0, 1e-3);
    for (int k = 1; k < kN; ++k) {
        EXPECT_NEAR(fft.Re[k], 0.0, 1e-3) << k;
        EXPECT_NEAR(fft.Im[k], 0.0, 1e-3) << k;
    }
}

TEST(FFTForward, WindowedConstantGivesTheMeanOfTheWindow) {
    TFFT fft(kN);
    std::fill(fft.Re.begin(), fft.Re.end(), 1000.0f);
    fft.ApplyWindow();
    fft.Forward();
    EXPECT_NEAR(fft.Re[0], 818.3, 0.05);
}

// The scaled direction carries the positive exponent: e^(-2 pi i k n / N) lands in bin k
// alone, with magnitude 1.
TEST(FFTForward, NegativeExponentialOfBinKLandsInBinK) {
    constexpr int k = 5;
    TFFT fft(kN);
    for (int n = 0; n < kN; ++n) {
        const double phase = 2.0 * std::numbers::pi * k * n / kN;
        fft.Re[n] = static_cast<float>(std::cos(phase));
        fft.Im[n] = static_cast<float>(-std::sin(phase));
    }
    fft.Forward();
    for (int m = 0; m < kN; ++m) {
        EXPECT_NEAR(fft.Re[m], m == k ? 1.0 : 0.0, 1e-5) << m;
        EXPECT_NEAR(fft.Im[m], 0.0, 1e-5) << m;
    }
}

TEST(FFTForward, RealCosineShowsInBinKAndItsMirror) {
    constexpr int k = 64;
    TFFT fft(kN);
    for (int n = 0; n < kN; ++n)
        fft.Re[n] = static_cast<float>(1000.0 * std::cos(2.0 * std::numbers::pi * k * n / kN));
    fft.Forward();
    for (int m = 0; m < kN; ++m) {
        const double expected = (m == k || m == kN - k) ? 500.0 : 0.0;
        EXPECT_NEAR(fft.Re[m], expected, 1e-2) << m;
        EXPECT_NEAR(fft.Im[m], 0.0, 1e-2) << m;
    }
}

TEST(FFTBackward, ImpulseInBinKGivesTheNegativeExponential) {
    constexpr int k = 3;
    TFFT fft(kN);
    fft.Re[k] = 1.0f;
    fft.Backward();
    for (int n = 0; n < kN; ++n) {
        const double phase = 2.0 * std::numbers::pi * k * n / kN;
        EXPECT_NEAR(fft.Re[n], std::cos(phase), 1e-5) << n;
        EXPECT_NEAR(fft.Im[n], -std::sin(phase), 1e-5) << n;
    }
}

TEST(FFTClip, LimitsBothPartsToPlusMinus32767AndNaNToTheBottom) {
    TFFT fft(4);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    fft.Re = {40000.0f, -40000.0f, -32768.0f, -32767.0f};
    fft.Im = {nan, inf, -inf, 12.5f};
    fft.ClipSamples();
    EXPECT_EQ(fft.Re, (std::vector<float>{32767.0f, -32767.0f, -32767.0f, -32767.0f}));
    EXPECT_EQ(fft.Im, (std::vector<float>{-32767.0f, 32767.0f, -32767.0f, 12.5f}));
}

// The display spectrum of 256 frames: see the stream and mixer spectrum tests for the ring
// read; here the transform's part of it.
TEST(FFTAnalyseSpectrum, ConstantLeftInputGivesThePublishedLowEntries) {
    TFFT fft(kN);
    std::fill(fft.Re.begin(), fft.Re.end(), 1000.0f);
    std::fill(fft.Im.begin(), fft.Im.end(), 0.0f);
    std::vector<float> values(kN, -1.0f);
    fft.AnalyseSpectrum(values.data());
    test::ExpectConstantLeftEntries(values, 5e-5);

    std::fill(fft.Re.begin(), fft.Re.end(), 1000.0f);
    std::fill(fft.Im.begin(), fft.Im.end(), 1000.0f);
    std::vector<float> both(kN);
    fft.AnalyseSpectrum(both.data());
    for (int m = 0; m < 3; ++m) EXPECT_NEAR(both[m], 2.0f * values[m], 1e-6) << m;
}

TEST(FFTAnalyseSpectrum, FullScaleCosineAtBin64PeaksAtEntries127And128) {
    TFFT fft(kN);
    for (int n = 0; n < kN; ++n) {
        fft.Re[n] = static_cast<float>(std::round(32767.0 * std::cos(std::numbers::pi * n / 2.0)));
        fft.Im[n] = 0.0f;
    }
    std::vector<float> values(kN);
    fft.AnalyseSpectrum(values.data());
    test::ExpectQuarterRatePeak(values, 0.05);
}

TEST(FFTMemory, TransformsAndElementWiseStepsAllocateNothing) {
    TFFT fft(kN);
    std::vector<float> values(kN);
    {
        const test::AllocationScope counting;
        ::operator delete(::operator new(16));
        ASSERT_EQ(counting.Count(), 1) << "the counter must see an allocation";
    }
    const test::AllocationScope scope;
    fft.ApplyWindow();
    fft.Forward();
    fft.Backward();
    fft.RemoveWindow();
    fft.ClipSamples();
    fft.AnalyseSpectrum(values.data());
    EXPECT_EQ(scope.Count(), 0);
}

}  // namespace
}  // namespace oggmix
