#pragma once
// EveryLevel.h: runs a test once per instruction-set level of the render kernels, scalar
// first. Levels this processor lacks are skipped; the widest level is restored afterwards.
// Header only: it needs GoogleTest, which the test programs link and the support library
// does not.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "stream/SimdLevel.h"

namespace oggmix::test {

class EveryLevel : public ::testing::TestWithParam<SimdLevel> {
protected:
    void SetUp() override {
        if (static_cast<int32_t>(GetParam()) > static_cast<int32_t>(SupportedSimdLevel()))
            GTEST_SKIP() << "this processor lacks " << SimdLevelName(GetParam());
        SetSimdLevel(GetParam());
    }
    void TearDown() override { SetSimdLevel(SupportedSimdLevel()); }
};

inline std::string LevelName(const ::testing::TestParamInfo<SimdLevel>& info) {
    return SimdLevelName(info.param);
}

#define OGGMIX_INSTANTIATE_EVERY_LEVEL(Suite)                                                  \
    INSTANTIATE_TEST_SUITE_P(                                                                  \
        Levels, Suite, ::testing::Values(SimdLevel::Scalar, SimdLevel::Sse2, SimdLevel::Avx2), \
        LevelName)

// Equal bits, or both not a number (which NaN comes out of an operation is not part of
// the result).
inline bool SameFloat(float a, float b) {
    if (a != a && b != b) return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace oggmix::test
