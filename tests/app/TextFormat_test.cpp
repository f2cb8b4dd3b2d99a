// TextFormat_test.cpp: the memo's number format and the decoding of comment bytes.
#include <gtest/gtest.h>

#include "app/TextFormat.h"

namespace oggmix {
namespace {

TEST(TextFormatGeneral, ShowsUpTo15SignificantDigitsWithoutTrailingZeros) {
    EXPECT_EQ(FormatGeneral(59.5), "59.5");
    EXPECT_EQ(FormatGeneral(3.0), "3");
    EXPECT_EQ(FormatGeneral(0.0), "0");
    EXPECT_EQ(FormatGeneral(0.0001), "0.0001");
    // A single-precision length widened to double shows its binary value.
    EXPECT_EQ(FormatGeneral(static_cast<double>(3.1f)), "3.09999990463257");
    EXPECT_EQ(FormatGeneral(123456789012345.0), "123456789012345");
}

TEST(TextFormatGeneral, VeryLargeAndSmallValuesUseAPlainExponent) {
    EXPECT_EQ(FormatGeneral(1e-5), "1E-5");
    EXPECT_EQ(FormatGeneral(1.5e20), "1.5E20");
    EXPECT_EQ(FormatGeneral(1e15), "1E15");
}

TEST(TextFormatDisplay, KeepsUtf8DecodesShiftJisAndFallsBackToLatin1) {
    EXPECT_EQ(DisplayText("loop 日本語"), QString::fromUtf8("loop 日本語"));
    EXPECT_EQ(DisplayText("\x93\xfa\x96\x7b"), QString::fromUtf8("日本"));  // 日本 in Shift-JIS
    EXPECT_EQ(DisplayText("\xff\xfe"), QString::fromLatin1("\xff\xfe"));
    EXPECT_EQ(DisplayText(""), QString());
}

}  // namespace
}  // namespace oggmix
