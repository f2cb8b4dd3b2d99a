// Comments and loop tags: GetComments' line splitting, SplitFields, IsLeadByte, and the cues
// that ParseLoopTags stores from files made at test time.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/MemoryStream.h"
#include "stream/OggDataLib.h"
#include "tests/support/OggFixture.h"
#include "tests/support/TestPaths.h"

namespace oggmix {
namespace {

using testing::ElementsAre;
using Fields = std::vector<std::string>;

// ---- SplitFields and IsLeadByte ----

TEST(OggDataSplitFields, EmptyFieldsBetweenAndAfterSeparatorsAreKept) {
    EXPECT_EQ(TOggData::SplitFields("a,,b", ",", 5, true, true), (Fields{"a", "", "b", "", ""}));
    EXPECT_EQ(TOggData::SplitFields("a,b,", ",", 1, true, true), (Fields{"a", "b", ""}));
    EXPECT_EQ(TOggData::SplitFields(",", ",", 0, true, true), (Fields{"", ""}));
    EXPECT_EQ(TOggData::SplitFields("", ",", 0, true, true), Fields{});
    EXPECT_EQ(TOggData::SplitFields("", ",", 3, true, true), (Fields{"", "", ""}));
    EXPECT_EQ(TOggData::SplitFields("a,b,c,d,e,f,g", ",", 5, true, true),
              (Fields{"a", "b", "c", "d", "e", "f", "g"}));
}

TEST(OggDataSplitFields, BlanksAreDroppedOnlyWhenAskedFor) {
    EXPECT_EQ(TOggData::SplitFields(" a \t, b c ", ",", 0, true, true), (Fields{"a", "bc"}));
    EXPECT_EQ(TOggData::SplitFields(" a \t, b c ", ",", 0, true, false),
              (Fields{" a \t", " b c "}));
    // A blank after the last separator is not the separator: no extra empty field.
    EXPECT_EQ(TOggData::SplitFields("a, ", ",", 0, true, true), (Fields{"a"}));
}

TEST(OggDataSplitFields, TwoSlashesEndTheTextOnlyWhenAskedFor) {
    EXPECT_EQ(TOggData::SplitFields("a,b//c,d", ",", 0, true, true), (Fields{"a", "b"}));
    EXPECT_EQ(TOggData::SplitFields("a,b//c,d", ",", 0, false, true), (Fields{"a", "b//c", "d"}));
    EXPECT_EQ(TOggData::SplitFields("a/b,/", ",", 0, true, true), (Fields{"a/b", "/"}));
    EXPECT_EQ(TOggData::SplitFields("//all,remark", ",", 2, true, true), (Fields{"", ""}));
    // Blanks between the slashes are not skipped over: "/ /" is no remark.
    EXPECT_EQ(TOggData::SplitFields("a/ /b", ",", 0, true, true), (Fields{"a//b"}));
}

TEST(OggDataSplitFields, AUtf8CharacterKeepsItsBytesTogetherAndTakesNoOtherByte) {
    // "あ" is E3 81 82 and "、" E3 80 81: bytes that Shift-JIS would read as lead bytes.
    EXPECT_EQ(TOggData::SplitFields("2あ,3", ",", 0, true, true), (Fields{"2あ", "3"}));
    EXPECT_EQ(TOggData::SplitFields("、 x//あ", ",", 0, true, true), (Fields{"、x"}));
    // A lead byte whose continuation bytes are missing stands alone: the separator, blank or
    // slash after it stays what it is.
    EXPECT_EQ(TOggData::SplitFields("a\xE3,b\xC3", ",", 0, true, true), (Fields{"a\xE3", "b\xC3"}));
    EXPECT_EQ(TOggData::SplitFields("\xF0\x9F x//y", ",", 0, true, true), (Fields{"\xF0\x9Fx"}));
}

TEST(OggDataSplitFields, SeparatorCanBeAnyCharacter) {
    EXPECT_EQ(TOggData::SplitFields("1;2;;3", ";", 0, true, true), (Fields{"1", "2", "", "3"}));
    EXPECT_EQ(TOggData::SplitFields("1,2", ";", 0, true, true), (Fields{"1,2"}));
}

TEST(OggDataIsLeadByte, CoversExactlyTheUtf8LeadBytes) {
    int leadBytes = 0;
    for (int b = 0; b < 256; ++b) leadBytes += TOggData::IsLeadByte(static_cast<uint8_t>(b));
    EXPECT_EQ(leadBytes, 0xF4 - 0xC2 + 1);
    EXPECT_FALSE(TOggData::IsLeadByte('a'));
    EXPECT_FALSE(TOggData::IsLeadByte(0x82));  // a continuation byte
    EXPECT_FALSE(TOggData::IsLeadByte(0xC1));  // only ever an overlong form
    EXPECT_TRUE(TOggData::IsLeadByte(0xC2));
    EXPECT_TRUE(TOggData::IsLeadByte(0xE3));
    EXPECT_TRUE(TOggData::IsLeadByte(0xF4));
    EXPECT_FALSE(TOggData::IsLeadByte(0xF5));
}

// ---- Comments and cues of loaded files ----

class OggDataTags : public testing::Test {
protected:
    static void SetUpTestSuite() { test::BindDecoder(); }

    // Loads a short file carrying the comments; rateHz is the stream's own rate.
    void LoadWith(const std::vector<std::string>& comments, int32_t rateHz = 44100,
                  double seconds = 0.05) {
        test::EncodeOptions options;
        options.Comments = comments;
        auto bytes = test::EncodeOgg(test::Silence(rateHz, 2, seconds), options);
        ASSERT_TRUE(FData.LoadFromStream(std::make_unique<MemoryStream>(std::move(bytes))));
    }
    const TLoopCue& Cue(int index) const { return FData.Cues()[static_cast<size_t>(index)]; }
    int CuesInUse() const {
        int inUse = 0;
        for (const TLoopCue& cue : FData.Cues()) inUse += cue.Count != 0;
        return inUse;
    }

    TOggData FData{65536};
};

MATCHER_P3(IsCue, start, end, count, "") {
    return arg.LoopStart == start && arg.LoopEnd == end && arg.Count == count;
}

MATCHER_P2(IsAt, startFrame, endFrame, "") {
    return arg.StartFrame == startFrame && arg.EndFrame == endFrame;
}

TEST_F(OggDataTags, ValueIsSplitIntoLinesOnlyAtCrLf) {
    LoadWith({"LINES=a\r\n\r\nb\rc\nd\r\n", "LONE=x\r", "EMPTY=", "NOVALUE"});
    EXPECT_THAT(FData.GetComments("LINES"), ElementsAre("a", "", "b\rc\nd"));
    EXPECT_THAT(FData.GetComments("LONE"), ElementsAre("x\r"));
    EXPECT_TRUE(FData.GetComments("EMPTY").empty());
    EXPECT_TRUE(FData.GetComments("NOVALUE").empty());  // an entry without "=" has no name
    EXPECT_TRUE(FData.GetComments("MISSING").empty());
}

TEST_F(OggDataTags, NameMatchesWithoutRegardToCaseAndTheFirstEntryWins) {
    LoadWith({"Title=first", "TITLE=second", "title=third", "KEY=a=b"});
    EXPECT_THAT(FData.GetComments("tItLe"), ElementsAre("first"));
    EXPECT_THAT(FData.GetComments("key"), ElementsAre("a=b"));
    EXPECT_TRUE(FData.GetComments("TITL").empty());
}

TEST_F(OggDataTags, CommentNameAndKeywordMatchInAnyCase) {
    LoadWith({"comment=*LoopTime,3,1.5,9,2"});
    EXPECT_THAT(Cue(3), IsCue(1.5f, 9.0f, 2));
    EXPECT_EQ(CuesInUse(), 1);
}

TEST_F(OggDataTags, FourFieldsLoopForEver) {
    LoadWith({"COMMENT=*looptime,1,5,20"});
    EXPECT_THAT(Cue(1), IsCue(5.0f, 20.0f, -1));
}

TEST_F(OggDataTags, IndexOutsideTheTableOrAnotherKeywordChangesNothing) {
    LoadWith(
        {"COMMENT=*looptime,16,1,2,1\r\n*looptime,-1,1,2,1\r\n*loopstart,2,1,2,1\r\n"
         "*looptimes,2,1,2,1\r\nlooptime,2,1,2,1\r\n*looptime,4,1,2,1"});
    EXPECT_EQ(CuesInUse(), 1);
    EXPECT_THAT(Cue(4), IsCue(1.0f, 2.0f, 1));
}

TEST_F(OggDataTags, SampleNumbersCountAtTheStreamsOwnRate) {
    LoadWith({"COMMENT=*loopsample,2,22050,88200,1"}, 22050);
    EXPECT_THAT(Cue(2), IsCue(1.0f, 4.0f, 1));
    LoadWith({"COMMENT=*LOOPSAMPLE, 1, 441000, 2646000, 3 // chorus"}, 44100);
    EXPECT_THAT(Cue(1), IsCue(10.0f, 60.0f, 3));
}

TEST_F(OggDataTags, SampleNumbersAboveTwoToThe24LosePrecisionAsFloats) {
    LoadWith({"COMMENT=*loopsample,0,16777217,16777219,1"}, 44100);
    // 16777217 and 16777219 have no float; they become 16777216 and 16777220.
    EXPECT_EQ(Cue(0).LoopStart, 16777216.0f / 44100.0f);
    EXPECT_EQ(Cue(0).LoopEnd, 16777220.0f / 44100.0f);
}

TEST_F(OggDataTags, EveryLineIsParsedAndALaterLineOverwritesAnEarlierOne) {
    LoadWith({"COMMENT=*looptime,0,1,2,3\r\n*looptime,5,6,7,8\r\n*looptime,0,10,20,30\r\n"});
    EXPECT_THAT(Cue(0), IsCue(10.0f, 20.0f, 30));
    EXPECT_THAT(Cue(5), IsCue(6.0f, 7.0f, 8));
    EXPECT_EQ(CuesInUse(), 2);
}

TEST_F(OggDataTags, OnlyTheFirstCommentEntryIsSearched) {
    LoadWith({"COMMENT=*looptime,0,1,2,3", "comment=*looptime,1,1,2,3"});
    EXPECT_THAT(Cue(0), IsCue(1.0f, 2.0f, 3));
    EXPECT_EQ(CuesInUse(), 1);
}

TEST_F(OggDataTags, BlanksRemarksAndExtraFieldsAreIgnored) {
    LoadWith(
        {"COMMENT=*looptime,0,1,2,3//x\r\n"
         " * Loop Time ,\t1 , 1 . 5 , 9 ,2 \r\n"
         "*looptime,2,1,2,3,99,junk\r\n"
         "*looptime,3,4,5,6 // サビ、ここから\r\n"
         "// *looptime,4,1,2,3"});
    EXPECT_THAT(Cue(0), IsCue(1.0f, 2.0f, 3));
    EXPECT_THAT(Cue(1), IsCue(1.5f, 9.0f, 2));
    EXPECT_THAT(Cue(2), IsCue(1.0f, 2.0f, 3));
    EXPECT_THAT(Cue(3), IsCue(4.0f, 5.0f, 6));
    EXPECT_EQ(CuesInUse(), 4);
}

TEST_F(OggDataTags, JapaneseTextBeforeASeparatorChangesNoOtherField) {
    LoadWith({"COMMENT=*looptime,9,1,2あ,3\r\n*looptime,サビ,4,5,6"});
    EXPECT_THAT(Cue(9), IsCue(1.0f, 0.0f, 3));  // "2あ" is no number; the count stands
    EXPECT_THAT(Cue(0), IsCue(4.0f, 5.0f, 6));  // "サビ" is no index: cue 0
}

TEST_F(OggDataTags, NumbersFollowTheDecimalGrammarWithSignsFractionsAndExponents) {
    LoadWith(
        {"COMMENT=*looptime,+1,+.5,2.,-3\r\n"
         "*looptime,2,1.5e1,25E-1,+7\r\n"
         "*looptime,3,-0.25,1e+2,0"});
    EXPECT_THAT(Cue(1), IsCue(0.5f, 2.0f, -3));
    EXPECT_THAT(Cue(2), IsCue(15.0f, 2.5f, 7));
    EXPECT_THAT(Cue(3), IsCue(-0.25f, 100.0f, 0));  // stored, though a count of 0 is off
}

TEST_F(OggDataTags, FieldsThatAreNotEntirelyNumbersTakeTheirDefaults) {
    const std::vector<std::pair<std::string, TLoopCue>> cases = {
        {"*looptime,x,1,2,3", {1.0f, 2.0f, 3}},    // index 0
        {"*looptime,1.0,1,2,3", {1.0f, 2.0f, 3}},  // an integer has no fraction
        {"*looptime,0x1,1,2,3", {1.0f, 2.0f, 3}},  // nor a hex prefix
        {"*looptime,0,1s,2,3", {0.0f, 2.0f, 3}},
        {"*looptime,0,1,1e,3", {1.0f, 0.0f, 3}},
        {"*looptime,0,.,inf,3", {0.0f, 0.0f, 3}},
        {"*looptime,0,nan,0x10,3", {0.0f, 0.0f, 3}},
        {"*looptime,0,1,2,many", {1.0f, 2.0f, -1}},
        {"*looptime,0,1,2,1.5", {1.0f, 2.0f, -1}},
        {"*looptime,0,1,2,99999999999", {1.0f, 2.0f, -1}},  // beyond 32 bits
        {"*looptime,0,1e39,-1e39,3", {0.0f, 0.0f, 3}},      // beyond the float range
        {"*looptime,0,1,2,+-3", {1.0f, 2.0f, -1}},
        {"*looptime,0,1,2,", {1.0f, 2.0f, -1}},  // empty
        {"*looptime", {0.0f, 0.0f, -1}},
    };
    for (const auto& [line, expected] : cases) {
        SCOPED_TRACE(line);
        LoadWith({"COMMENT=" + line});
        EXPECT_THAT(Cue(0), IsCue(expected.LoopStart, expected.LoopEnd, expected.Count));
    }
}

TEST_F(OggDataTags, CuesAreNotValidated) {
    LoadWith({"COMMENT=*looptime,0,30,10,1\r\n*looptime,1,1000,2000,-7"});
    EXPECT_THAT(Cue(0), IsCue(30.0f, 10.0f, 1));       // a forward jump
    EXPECT_THAT(Cue(1), IsCue(1000.0f, 2000.0f, -7));  // beyond the end of the stream
}

TEST_F(OggDataTags, TenThousandTagLinesAreAllRead) {
    std::string value;
    for (int line = 0; line < 10000; ++line) {
        value += "*looptime," + std::to_string(line % 20) + "," + std::to_string(line) + "," +
                 std::to_string(line + 1) + "," + std::to_string(line % 7 + 1) + " // line\r\n";
    }
    LoadWith({"COMMENT=" + value});
    ASSERT_EQ(FData.GetComments("COMMENT").size(), 10000u);
    // Indexes 16 .. 19 are ignored; for each index 0 .. 15 the last of its lines wins.
    for (int index = 0; index < kCueCount; ++index) {
        const int last = 9980 + index;
        EXPECT_THAT(Cue(index),
                    IsCue(static_cast<float>(last), static_cast<float>(last + 1), last % 7 + 1));
    }
}

TEST_F(OggDataTags, ALoadReplacesTheCuesOfTheStreamBefore) {
    LoadWith({"COMMENT=*looptime,0,1,2,3\r\n*looptime,7,1,2,3"});
    LoadWith({"COMMENT=*looptime,1,4,5,6"});
    EXPECT_THAT(Cue(1), IsCue(4.0f, 5.0f, 6));
    EXPECT_EQ(CuesInUse(), 1);
}

// ---- LOOPSTART with LOOPLENGTH or LOOPEND, when asked for ----

class OggDataLoopStartTags : public OggDataTags {
protected:
    // A four-second file (176400 frames) read with the tags turned on.
    void LoadOn(const std::vector<std::string>& comments, int32_t rateHz = 44100) {
        FData.SetLoopStartTags(true);
        LoadWith(comments, rateHz, 4.0);
    }
    const CueFrames& Frames(int index) const {
        return FData.CuePositions()[static_cast<size_t>(index)];
    }
};

TEST_F(OggDataLoopStartTags, EachSpellingMakesAnEndlessCueZeroExactToTheSample) {
    LoadOn({"LOOPSTART=44101", "LOOPLENGTH=88199"});
    EXPECT_THAT(Frames(0), IsAt(44101, 132300));
    EXPECT_THAT(Cue(0), IsCue(44101.0f / 44100.0f, 3.0f, -1));
    LoadOn({"loopstart= 44101 ", "LoopEnd=132300"});
    EXPECT_THAT(Frames(0), IsAt(44101, 132300));
    LoadOn({"LOOPSTART=0:01.5", "LOOPEND=00:00:03.25"});
    EXPECT_THAT(Frames(0), IsAt(66150, 143325));
    LoadOn({"LOOPSTART=1.", "LOOPLENGTH=.5"}, 22050);
    EXPECT_THAT(Frames(0), IsAt(22050, 33075));
    EXPECT_EQ(CuesInUse(), 1);
}

TEST_F(OggDataLoopStartTags, AreIgnoredUnlessTurnedOnAndTurningThemOnReadsTheLoadedStreamAgain) {
    LoadWith({"LOOPSTART=44100", "LOOPLENGTH=44100"}, 44100, 4.0);
    EXPECT_EQ(CuesInUse(), 0);
    FData.SetLoopStartTags(true);
    EXPECT_THAT(Frames(0), IsAt(44100, 88200));
    FData.SetLoopStartTags(false);
    EXPECT_EQ(CuesInUse(), 0);
}

TEST_F(OggDataLoopStartTags, MakeNoCueWithoutAReadableStartOrWithoutLength) {
    const std::vector<std::vector<std::string>> cases = {
        {"LOOPLENGTH=1000"},
        {"LOOPSTART=abc", "LOOPLENGTH=1000"},
        {"LOOPSTART=-5", "LOOPLENGTH=1000"},
        {"LOOPSTART=1:2:3:4", "LOOPLENGTH=1000"},
        {"LOOPSTART=1000"},
        {"LOOPSTART=1000", "LOOPLENGTH=0"},
        {"LOOPSTART=1000", "LOOPEND=1000"},
        {"LOOPSTART=1000", "LOOPEND=999"},
        {"LOOPSTART=1000", "LOOPLENGTH=x"},
    };
    for (const auto& comments : cases) {
        SCOPED_TRACE(comments.front());
        LoadOn(comments);
        EXPECT_EQ(CuesInUse(), 0);
    }
}

TEST_F(OggDataLoopStartTags, AnEndBeyondTheDataLoopsWhereTheDataEnds) {
    LoadOn({"LOOPSTART=1000", "LOOPLENGTH=999999999"});
    EXPECT_THAT(Frames(0), IsAt(1000, FData.PcmTotal()));
}

TEST_F(OggDataLoopStartTags, CommentTagsWinOverThem) {
    LoadOn({"LOOPSTART=1000", "LOOPLENGTH=2000", "COMMENT=*looptime,3,1,2,-1"});
    EXPECT_THAT(Cue(3), IsCue(1.0f, 2.0f, -1));
    EXPECT_EQ(CuesInUse(), 1);
}

}  // namespace
}  // namespace oggmix
