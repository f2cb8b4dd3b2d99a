// Loading and closing: the information read back as libvorbisfile gives it, the failure table,
// hostile input, and what a failed load leaves behind.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/Exceptions.h"
#include "base/MemoryStream.h"
#include "stream/OggDataLib.h"
#include "tests/support/OggFixture.h"
#include "tests/support/TestPaths.h"

namespace oggmix {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

constexpr const char* kLoadFailed = "ファイルの読み込みに失敗";
constexpr int32_t kBufferSize = 65536;

std::unique_ptr<MemoryStream> StreamOf(std::vector<uint8_t> bytes) {
    return std::make_unique<MemoryStream>(std::move(bytes));
}

std::vector<uint8_t> BytesOf(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> TaggedFile() {
    test::EncodeOptions options;
    options.Comments = {"TITLE=before", "COMMENT=*looptime,2,0.5,1.5,4"};
    return test::EncodeOgg(test::Sine(44100, 2, 2.0, 440.0), options);
}

class OggDataLoad : public testing::Test {
protected:
    static void SetUpTestSuite() { test::BindDecoder(); }
    void TearDown() override { test::BindDecoder(); }

    // The read-outs of a closed object.
    static void ExpectClosed(TOggData& data) {
        EXPECT_EQ(data.GetState(true), 0);
        EXPECT_EQ(data.Channels(), 0);
        EXPECT_EQ(data.Rate(), 0);
        EXPECT_EQ(data.PcmTotal(), 0);
        EXPECT_EQ(data.TotalSize(), 0);
        EXPECT_EQ(data.TotalTime(), 0.0f);
        EXPECT_EQ(data.Vendor(), "");
        EXPECT_TRUE(data.Comments().empty());
        for (const TLoopCue& cue : data.Cues()) {
            EXPECT_EQ(cue.LoopStart, 0.0f);
            EXPECT_EQ(cue.LoopEnd, 0.0f);
            EXPECT_EQ(cue.Count, 0);
        }
    }
    // The read-outs of TaggedFile().
    static void ExpectTaggedFileLoaded(TOggData& data) {
        EXPECT_EQ(data.GetState(true), 1);
        EXPECT_EQ(data.Channels(), 2);
        EXPECT_THAT(data.Comments(), testing::ElementsAre("TITLE=before", testing::_));
        EXPECT_EQ(data.Cues()[2].LoopEnd, 1.5f);
    }

    TOggData FData{kBufferSize};
};

TEST_F(OggDataLoad, NewObjectIsClosedAndEmpty) { ExpectClosed(FData); }

struct Format {
    int32_t RateHz;
    int32_t Channels;
};

class OggDataLoadFormat : public OggDataLoad, public testing::WithParamInterface<Format> {};

TEST_P(OggDataLoadFormat, InformationIsWhatLibvorbisfileReports) {
    const Format format = GetParam();
    test::EncodeOptions options;
    options.Comments = {"ARTIST=誰か", "COMMENT=line one\r\nline two", "ODD=a=b=c", "NOEQUALS"};
    const auto bytes = test::EncodeOgg(test::Music(format.RateHz, format.Channels, 1.7), options);
    const test::Decoded reference = test::DecodeReference(bytes);

    ASSERT_TRUE(FData.LoadFromStream(StreamOf(bytes)));
    EXPECT_EQ(FData.GetState(true), 1);  // loaded and stopped
    EXPECT_EQ(FData.GetTime(true), 0.0f);
    EXPECT_EQ(FData.Channels(), format.Channels);
    EXPECT_EQ(FData.Rate(), format.RateHz);
    EXPECT_EQ(FData.PcmTotal(), reference.PcmTotal);
    // The size counts 16-bit stereo at the stream's own rate, whatever its channel count.
    EXPECT_EQ(FData.TotalSize(), reference.PcmTotal * 4);
    EXPECT_EQ(FData.TotalTime(), static_cast<float>(reference.TimeTotal));
    EXPECT_EQ(FData.Vendor(), reference.Vendor);
    EXPECT_EQ(FData.Comments(), reference.Comments);
    EXPECT_EQ(FData.Comments(), options.Comments);  // bytes and order unchanged
}

INSTANTIATE_TEST_SUITE_P(RatesAndChannels, OggDataLoadFormat,
                         testing::Values(Format{44100, 2}, Format{44100, 1}, Format{22050, 2},
                                         Format{22050, 1}, Format{48000, 2}, Format{48000, 1}),
                         [](const testing::TestParamInfo<Format>& info) {
                             return std::to_string(info.param.RateHz) + "Hz" +
                                    (info.param.Channels == 1 ? "Mono" : "Stereo");
                         });

TEST_F(OggDataLoad, AMillionSamplesGiveFourMillionBytes) {
    test::Pcm pcm = test::Silence(44100, 2, 0.0);
    pcm.Samples.assign(2 * 1000000, 0);
    ASSERT_TRUE(FData.LoadFromStream(StreamOf(test::EncodeOgg(pcm))));
    EXPECT_EQ(FData.Channels(), 2);
    EXPECT_EQ(FData.Rate(), 44100);
    EXPECT_EQ(FData.PcmTotal(), 1000000);
    EXPECT_EQ(FData.TotalSize(), 4000000);
}

TEST_F(OggDataLoad, LoadFromFileReadsTheWholeFile) {
    test::TempDir dir;
    const auto bytes = TaggedFile();
    ASSERT_TRUE(FData.LoadFromFile(dir.Write("music.ogg", bytes)));
    ExpectTaggedFileLoaded(FData);
    EXPECT_EQ(FData.PcmTotal(), test::DecodeReference(bytes).PcmTotal);
}

TEST_F(OggDataLoad, ChainedFileGivesTheFirstLinksFormatAndTheLengthOfAllLinks) {
    test::EncodeOptions first;
    first.Comments = {"COMMENT=*looptime,0,0.25,0.5,1"};
    first.Serial = 1;
    test::EncodeOptions second;
    second.Comments = {"COMMENT=*looptime,1,0.25,0.5,1"};
    second.Serial = 2;
    auto bytes = test::EncodeOgg(test::Sine(44100, 2, 0.8, 440.0), first);
    const auto tail = test::EncodeOgg(test::Sine(22050, 1, 0.6, 220.0), second);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    const test::Decoded reference = test::DecodeReference(bytes);

    ASSERT_TRUE(FData.LoadFromStream(StreamOf(bytes)));
    EXPECT_EQ(FData.Channels(), 2);
    EXPECT_EQ(FData.Rate(), 44100);
    EXPECT_EQ(FData.PcmTotal(), reference.PcmTotal);
    EXPECT_EQ(FData.PcmTotal(), 35280 + 13230);
    EXPECT_EQ(FData.Comments(), first.Comments);
    EXPECT_EQ(FData.Cues()[0].Count, 1);
    EXPECT_EQ(FData.Cues()[1].Count, 0);
}

// ---- The failure table ----

TEST_F(OggDataLoad, MissingFileReturnsFalseAndLeavesTheStreamLoaded) {
    ASSERT_TRUE(FData.LoadFromStream(StreamOf(TaggedFile())));
    FData.Play(true, true);
    test::TempDir dir;
    EXPECT_FALSE(FData.LoadFromFile(dir.Path() + "/missing.ogg"));
    EXPECT_FALSE(FData.LoadFromFile(""));
    EXPECT_FALSE(FData.LoadFromFile(dir.Path()));  // a folder is not a file
    EXPECT_EQ(FData.GetState(true), 3);            // still playing, looping
    FData.Stop(true);
    ExpectTaggedFileLoaded(FData);
}

TEST_F(OggDataLoad, NullStreamReturnsFalseAndLeavesTheStreamLoaded) {
    ASSERT_TRUE(FData.LoadFromStream(StreamOf(TaggedFile())));
    EXPECT_FALSE(FData.LoadFromStream(nullptr));
    ExpectTaggedFileLoaded(FData);
}

TEST_F(OggDataLoad, UnreadableFilePassesTheFileErrorOutAndLeavesTheStreamLoaded) {
    ASSERT_TRUE(FData.LoadFromStream(StreamOf(TaggedFile())));
    // Opens, but reading it fails: the file layer's exception comes through.
    EXPECT_THROW((void)FData.LoadFromFile("/proc/self/mem"), EInOutError);
    ExpectTaggedFileLoaded(FData);
}

// Data that the decoder refuses: each is reported with the load message and leaves the object
// closed, also when a stream was loaded before.
struct Refused {
    const char* Name;
    std::vector<uint8_t> (*Make)();
};

class OggDataLoadRefused : public OggDataLoad, public testing::WithParamInterface<Refused> {};

TEST_P(OggDataLoadRefused, RaisesTheLoadMessageAndLeavesTheObjectClosed) {
    ASSERT_TRUE(FData.LoadFromStream(StreamOf(TaggedFile())));
    EXPECT_THAT([&] { (void)FData.LoadFromStream(StreamOf(GetParam().Make())); },
                ThrowsMessage<ERangeError>(StrEq(kLoadFailed)));
    ExpectClosed(FData);

    // Through a file the result is the same.
    test::TempDir dir;
    const std::string path = dir.Write("refused.ogg", GetParam().Make());
    ASSERT_TRUE(FData.LoadFromStream(StreamOf(TaggedFile())));
    EXPECT_THAT([&] { (void)FData.LoadFromFile(path); },
                ThrowsMessage<ERangeError>(StrEq(kLoadFailed)));
    ExpectClosed(FData);

    // And the object loads the next good file as usual.
    ASSERT_TRUE(FData.LoadFromStream(StreamOf(TaggedFile())));
    ExpectTaggedFileLoaded(FData);
}

std::vector<uint8_t> OpusInOgg() {
    // An OpusHead identification packet and an OpusTags packet.
    std::vector<uint8_t> head = BytesOf("OpusHead");
    head.insert(head.end(), {1, 2, 0x38, 0x01, 0x80, 0xBB, 0, 0, 0, 0, 0});
    std::vector<uint8_t> tags = BytesOf("OpusTags");
    tags.insert(tags.end(), {4, 0, 0, 0, 't', 'e', 's', 't', 0, 0, 0, 0});
    return test::OggOfPackets({head, tags, std::vector<uint8_t>(40, 0xFC)});
}

std::vector<uint8_t> FlacInOgg() {
    std::vector<uint8_t> head = {0x7F, 'F', 'L', 'A', 'C', 1, 0, 0, 1, 'f', 'L', 'a', 'C'};
    head.insert(head.end(), {0x80, 0, 0, 34});
    head.resize(head.size() + 34, 0x11);
    return test::OggOfPackets({head, std::vector<uint8_t>(64, 0x22)});
}

std::vector<uint8_t> CutInsideTheHeaders() {
    std::vector<uint8_t> bytes = TaggedFile();
    bytes.resize(60);  // the identification header, and the comment header cut short
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    NotOggVorbis, OggDataLoadRefused,
    testing::Values(Refused{"EmptyFile", [] { return std::vector<uint8_t>{}; }},
                    Refused{"TextFile", [] { return BytesOf("*looptime,0,1,2,3\r\nhello\n"); }},
                    Refused{"OpusInOgg", OpusInOgg}, Refused{"FlacInOgg", FlacInOgg},
                    Refused{"CutInsideTheHeaders", CutInsideTheHeaders},
                    Refused{"OggWithoutVorbisHeaders",
                            [] { return test::OggOfPackets({BytesOf("\x01vorbis-not")}); }}),
    [](const testing::TestParamInfo<Refused>& info) { return std::string(info.param.Name); });

TEST_F(OggDataLoad, WithoutAUsableBindingALoadIsRefusedWithTheLoadMessage) {
    ASSERT_TRUE(FData.LoadFromStream(StreamOf(TaggedFile())));
    FData.Close();

    FreeVorbisFileDLL();
    EXPECT_THAT([&] { (void)FData.LoadFromStream(StreamOf(TaggedFile())); },
                ThrowsMessage<ERangeError>(StrEq(kLoadFailed)));
    ExpectClosed(FData);

    EXPECT_FALSE(LoadVorbisFileDLL(test::ExecutableDir() + "/libwuvorbis_nocrosslap.so"));
    EXPECT_THAT([&] { (void)FData.LoadFromStream(StreamOf(TaggedFile())); },
                ThrowsMessage<ERangeError>(StrEq(kLoadFailed)));
    ExpectClosed(FData);
}

TEST_F(OggDataLoad, StreamsWithBindingsOfTheirOwnPlaySideBySideWithoutTheGlobalOne) {
    FreeVorbisFileDLL();
    const std::vector<uint8_t> first = test::EncodeOgg(test::Sine(44100, 2, 0.3, 440.0));
    const std::vector<uint8_t> second = test::EncodeOgg(test::Sine(44100, 2, 0.3, 880.0));
    TVorbisFileDLL firstBinding(false);
    TVorbisFileDLL secondBinding(false);
    firstBinding.BindLinked();
    secondBinding.BindLinked();
    TOggData other{kBufferSize};
    FData.SetDecoderBinding(&firstBinding);
    other.SetDecoderBinding(&secondBinding);
    ASSERT_TRUE(FData.LoadFromStream(StreamOf(first)));
    ASSERT_TRUE(other.LoadFromStream(StreamOf(second)));
    FData.Play(false, true);
    other.Play(false, true);
    // Interleaved renders: each stream's decoder calls go through its own binding.
    std::vector<int16_t> firstOut(4096);
    std::vector<int16_t> secondOut(4096);
    for (size_t half = 0; half < 2; ++half) {
        const auto bytes = static_cast<int32_t>(firstOut.size());  // half the frames each time
        EXPECT_EQ(FData.Render(firstOut.data() + half * 2048, bytes, 0, false, true), bytes);
        EXPECT_EQ(other.Render(secondOut.data() + half * 2048, bytes, 0, false, true), bytes);
    }
    const auto expected = [](const std::vector<uint8_t>& ogg) {
        std::vector<int16_t> samples = test::DecodeReference(ogg).Samples;
        samples.resize(4096);
        for (int16_t& s : samples)
            if (s == -32768) s = -32767;  // narrow output never holds it
        return samples;
    };
    EXPECT_EQ(firstOut, expected(first));
    EXPECT_EQ(secondOut, expected(second));
    FData.Close();
    other.Close();
    FData.SetDecoderBinding(nullptr);
}

// ---- Hostile input: never a crash, a hang or a leak; the same verdict as libvorbisfile ----

// Loads bytes and checks the outcome against a plain libvorbisfile open of the same bytes.
void ExpectSameVerdictAsLibvorbisfile(TOggData& data, const std::vector<uint8_t>& bytes) {
    bool referenceOpens = true;
    int64_t referenceTotal = 0;
    try {
        referenceTotal = test::DecodeReference(bytes).PcmTotal;
    } catch (const std::runtime_error&) {
        referenceOpens = false;
    }
    if (referenceOpens) {
        ASSERT_TRUE(data.LoadFromStream(StreamOf(bytes)));
        EXPECT_EQ(data.PcmTotal(), referenceTotal);
    } else {
        EXPECT_THAT([&] { (void)data.LoadFromStream(StreamOf(bytes)); },
                    ThrowsMessage<ERangeError>(StrEq(kLoadFailed)));
        EXPECT_EQ(data.Channels(), 0);
    }
}

TEST_F(OggDataLoad, TruncatedFilesLoadTheirReadablePartOrAreRefused) {
    const auto whole = TaggedFile();
    for (size_t cut = 0; cut < whole.size(); cut += cut < 8192 ? 97 : 1531) {
        SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(whole.size()));
        ExpectSameVerdictAsLibvorbisfile(
            FData, std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(cut)));
    }
}

TEST_F(OggDataLoad, BitFlippedFilesLoadOrAreRefused) {
    const uint32_t seed = 20261207;
    std::printf("BitFlippedFilesLoadOrAreRefused seed: %u\n", seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto whole = TaggedFile();
    for (int variant = 0; variant < 60; ++variant) {
        std::vector<uint8_t> bytes = whole;
        // Half of the variants are damaged in the headers, half anywhere.
        const size_t span = variant % 2 == 0 ? std::min<size_t>(bytes.size(), 4096) : bytes.size();
        const int flips = 1 + static_cast<int>(random() % 8);
        for (int flip = 0; flip < flips; ++flip)
            bytes[random() % span] ^= static_cast<uint8_t>(1u << (random() % 8));
        SCOPED_TRACE("variant " + std::to_string(variant));
        ExpectSameVerdictAsLibvorbisfile(FData, bytes);
    }
}

// ---- Close ----

TEST_F(OggDataLoad, CloseEmptiesTheObjectAndCanBeRepeated) {
    ASSERT_TRUE(FData.LoadFromStream(StreamOf(TaggedFile())));
    FData.Play(false, true);
    FData.Close();
    ExpectClosed(FData);
    FData.Close();
    ExpectClosed(FData);
}

TEST_F(OggDataLoad, FadePanVolumesAndFilterCurveSurviveClose) {
    FData.Fade(0.25f, 0.0f);
    FData.SetFilterPointNow(17, 0.5f);
    ASSERT_TRUE(FData.LoadFromStream(StreamOf(TaggedFile())));
    FData.Close();
    EXPECT_EQ(FData.GetFadeVolume(true), 0.25f);
    EXPECT_EQ(FData.GetFilterGain(17), 0.5f);
    EXPECT_EQ(FData.GetFilterGain(18), 1.0f);
}

TEST_F(OggDataLoad, AnObjectDestroyedWhileLoadedFreesItsStream) {
    // A sanitizer build reports the file's bytes or the decoder's state if they leak.
    auto data = std::make_unique<TOggData>(kBufferSize);
    ASSERT_TRUE(data->LoadFromStream(StreamOf(TaggedFile())));
    data->Play(true, true);
    data.reset();
}

}  // namespace
}  // namespace oggmix
