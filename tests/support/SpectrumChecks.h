#pragma once
// SpectrumChecks.h: the display spectrum of known frames, and the published values of two
// inputs, shared by the transform, stream and mixer spectrum tests.
// Threads: the test's. Memory: allocates.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "stream/FFTLib.h"

namespace oggmix::test {

// What the display makes of the first 256 frames of interleaved (left, right) values:
// window, scaled transform, weighting, and the interleaved halves.
template <class Sample>
std::vector<float> DisplaySpectrum(const std::vector<Sample>& interleaved, size_t firstFrame = 0,
                                   int32_t scale = 1) {
    TFFT fft(256);
    for (size_t n = 0; n < 256; ++n) {
        fft.Re[n] = static_cast<float>(scale * interleaved[2 * (firstFrame + n)]);
        fft.Im[n] = static_cast<float>(scale * interleaved[2 * (firstFrame + n) + 1]);
    }
    std::vector<float> values(256);
    fft.AnalyseSpectrum(values.data());
    return values;
}

// 256 frames of left 1000, right 0.
inline void ExpectConstantLeftEntries(const std::vector<float>& values, double tolerance) {
    EXPECT_NEAR(values[0], 0.0682, tolerance);
    EXPECT_NEAR(values[1], 0.0088, tolerance);
    EXPECT_NEAR(values[2], 0.0144, tolerance);
}

// A full-scale cosine at a quarter of the rate (transform bin 64) in the left channel: its
// two largest values at entries 127 and 128.
inline void ExpectQuarterRatePeak(const std::vector<float>& values, double tolerance) {
    EXPECT_NEAR(values[127], 25.0, tolerance);
    EXPECT_NEAR(values[128], 25.3, tolerance);
    for (size_t m = 0; m < values.size(); ++m) {
        if (m != 127 && m != 128) {
            EXPECT_LT(values[m], values[127]) << m;
        }
    }
}

}  // namespace oggmix::test
