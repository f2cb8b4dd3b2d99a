// Hostile files, loaded and played: each either loads and plays its readable part, sample for
// sample as plain libvorbisfile decodes it, or is refused with the load message. Never a
// crash, a hang, a leak or a read out of bounds (the suite also runs under AddressSanitizer
// and UndefinedBehaviorSanitizer).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "base/MemoryStream.h"
#include "stream/OggDataLib.h"
#include "tests/support/OggFixture.h"
#include "tests/support/Signals.h"
#include "tests/support/TestPaths.h"

namespace oggmix {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

constexpr const char* kLoadFailed = "ファイルの読み込みに失敗";
constexpr int32_t kBufferSize = 16384;              // a block of 2048 wide frames
constexpr int32_t kBlockSamples = kBufferSize / 4;  // 32-bit values per block
constexpr int kMaxBlocks = 400;                     // far beyond any file here

std::unique_ptr<MemoryStream> StreamOf(std::vector<uint8_t> bytes) {
    return std::make_unique<MemoryStream>(std::move(bytes));
}

// A 44100 Hz stereo file without loop tags: the engine's output is the decoded samples.
std::vector<uint8_t> PlainFile(double seconds = 1.5) {
    return test::EncodeOgg(test::Music(44100, 2, seconds, 5));
}

// Plays from where the stream is until a block renders nothing: the values of every block,
// two per frame. A stream still rendering after maxBlocks has hung.
std::vector<int32_t> PlayThrough(TOggData& data, int maxBlocks = kMaxBlocks) {
    std::vector<int32_t> values;
    for (int block = 0; block < maxBlocks; ++block) {
        if (data.RenderNext(0) <= 0) return values;
        const int32_t* samples = data.GetBlock();
        values.insert(values.end(), samples, samples + kBlockSamples);
    }
    ADD_FAILURE() << "still rendering after " << maxBlocks << " blocks";
    return values;
}

// What a player of the reference decode hears: the samples, then silence to the block's end.
std::vector<int32_t> InBlocks(const std::vector<int16_t>& samples) {
    std::vector<int32_t> values(samples.begin(), samples.end());
    values.resize((values.size() + kBlockSamples - 1) / kBlockSamples * kBlockSamples, 0);
    return values;
}

// The verdict of plain libvorbisfile: its decode (holes skipped), or nothing when it refuses.
bool ReferenceOpens(const std::vector<uint8_t>& bytes, test::Decoded& decoded) {
    try {
        decoded = test::DecodeReference(bytes);
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

class OggDataHostile : public testing::Test {
protected:
    static void SetUpTestSuite() { test::BindDecoder(); }

    void ExpectRefused(const std::vector<uint8_t>& bytes) {
        EXPECT_THAT([&] { (void)FData.LoadFromStream(StreamOf(bytes)); },
                    ThrowsMessage<ERangeError>(StrEq(kLoadFailed)));
        EXPECT_EQ(FData.GetState(true), 0);
        EXPECT_EQ(FData.RenderNext(0), 0);
    }

    // Loads bytes when plain libvorbisfile opens them (true, its decode in reference); expects
    // the refusal when it does not (false).
    bool LoadLikeTheReference(const std::vector<uint8_t>& bytes, test::Decoded& reference) {
        if (!ReferenceOpens(bytes, reference)) {
            ExpectRefused(bytes);
            return false;
        }
        EXPECT_TRUE(FData.LoadFromStream(StreamOf(bytes)));
        return FData.GetState(true) == 1;
    }

    // A 44100 Hz stereo file: loads and plays exactly what libvorbisfile decodes, then stops
    // and rewinds; or is refused, as libvorbisfile refuses it.
    void ExpectPlaysItsReadablePart(const std::vector<uint8_t>& bytes) {
        test::Decoded reference;
        if (!LoadLikeTheReference(bytes, reference)) return;
        ASSERT_EQ(FData.Rate(), 44100);
        ASSERT_EQ(FData.Channels(), 2);
        FData.Play(false, true);
        const std::vector<int32_t> heard = PlayThrough(FData);
        ASSERT_EQ(heard.size(), InBlocks(reference.Samples).size());
        EXPECT_TRUE(heard == InBlocks(reference.Samples)) << "the samples differ";
        EXPECT_EQ(FData.GetState(true), 1);
        EXPECT_EQ(FData.GetTime(true), 0.0f);
    }

    TOggData FData{kBufferSize};
};

// ---- Truncated ----

TEST_F(OggDataHostile, ATruncatedFilePlaysWhatIsLeftOrIsRefused) {
    const auto whole = PlainFile();
    const std::vector<test::OggPacket> packets = test::PacketsOf(whole);
    ASSERT_GT(packets.size(), 3u);
    // Every 1/40 of the file, and one byte either side of each page start.
    std::vector<size_t> cuts;
    for (size_t cut = 0; cut < whole.size(); cut += whole.size() / 40) cuts.push_back(cut);
    const std::string capture = "OggS";
    for (size_t at = 1; at + capture.size() <= whole.size(); ++at)
        if (std::equal(capture.begin(), capture.end(), whole.begin() + static_cast<long>(at)))
            cuts.insert(cuts.end(), {at - 1, at + 1});
    for (const size_t cut : cuts) {
        SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(whole.size()));
        ExpectPlaysItsReadablePart(
            std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(cut)));
    }
}

TEST_F(OggDataHostile, ATruncatedFileLoopsOverWhatIsLeft) {
    // Cut inside the last audio page: complete pages remain.
    auto bytes = PlainFile(2.0);
    bytes.resize(bytes.size() * 5 / 6);
    const test::Decoded reference = test::DecodeReference(bytes);
    ASSERT_TRUE(FData.LoadFromStream(StreamOf(bytes)));
    FData.Play(true, true);
    // Two rounds and a bit: the readable part, then the same again without a gap.
    std::vector<int32_t> heard;
    const size_t wanted = reference.Samples.size() * 2 + kBlockSamples;
    while (heard.size() < wanted) {
        ASSERT_EQ(FData.RenderNext(0), kBufferSize);
        heard.insert(heard.end(), FData.GetBlock(), FData.GetBlock() + kBlockSamples);
    }
    const size_t round = reference.Samples.size();
    for (size_t i = 0; i < 2 * round; ++i)
        ASSERT_EQ(heard[i], reference.Samples[i % round]) << "at value " << i;
    EXPECT_EQ(FData.GetState(true), 3);
}

// ---- Damaged bytes ----

// Flips 1 to 4 bits of the given packets, keeping the pages' checksums right so that the
// damaged data reaches the decoder instead of being dropped as a damaged page.
std::vector<uint8_t> FlipInPackets(std::vector<test::OggPacket> packets, size_t first, size_t last,
                                   std::mt19937& random) {
    const int flips = 1 + static_cast<int>(random() % 4);
    for (int flip = 0; flip < flips; ++flip) {
        test::OggPacket& packet = packets[first + random() % (last - first + 1)];
        if (packet.Bytes.empty()) continue;
        packet.Bytes[random() % packet.Bytes.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
    }
    return test::OggOfPagedPackets(packets);
}

class OggDataHostileFlips : public OggDataHostile {
protected:
    static uint32_t Seed() {
        const uint32_t seed = 20261207;
        std::printf("seed: %u\n", seed);
        return seed;
    }
};

TEST_F(OggDataHostileFlips, FlipsInTheHeaderPacketsAreRefusedOrPlayAsTheDecoderReadsThem) {
    const uint32_t seed = Seed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const std::vector<test::OggPacket> packets = test::PacketsOf(PlainFile(0.6));
    for (int variant = 0; variant < 60; ++variant) {
        SCOPED_TRACE("variant " + std::to_string(variant));
        // Identification, comment and setup header, one at a time, then all three.
        const size_t header = static_cast<size_t>(variant % 4);
        const auto bytes = header < 3 ? FlipInPackets(packets, header, header, random)
                                      : FlipInPackets(packets, 0, 2, random);
        // A damaged header that still opens can describe any format: it loads with what
        // it says and plays (or renders silence) without harm.
        test::Decoded reference;
        if (!LoadLikeTheReference(bytes, reference)) continue;
        EXPECT_EQ(FData.Channels(), reference.Channels);
        EXPECT_EQ(FData.Rate(), reference.RateHz);
        FData.Play(false, true);
        (void)PlayThrough(FData);
        EXPECT_EQ(FData.GetState(true), 1);
    }
}

TEST_F(OggDataHostileFlips, FlipsInTheAudioPacketsPlayAsTheDecoderReadsThem) {
    const uint32_t seed = Seed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const std::vector<test::OggPacket> packets = test::PacketsOf(PlainFile());
    for (int variant = 0; variant < 30; ++variant) {
        SCOPED_TRACE("variant " + std::to_string(variant));
        ExpectPlaysItsReadablePart(FlipInPackets(packets, 3, packets.size() - 1, random));
    }
}

TEST_F(OggDataHostileFlips, ADamagedAudioPageIsSkippedAndThePlayGoesOn) {
    const uint32_t seed = Seed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto whole = PlainFile();
    const size_t audioStart = 4096;  // past the header pages of this encoder
    ASSERT_GT(whole.size(), 3 * audioStart);
    for (int variant = 0; variant < 30; ++variant) {
        SCOPED_TRACE("variant " + std::to_string(variant));
        // The page checksum no longer matches: the decoder drops the page and reports a hole.
        std::vector<uint8_t> bytes = whole;
        const size_t at = audioStart + random() % (bytes.size() - 2 * audioStart);
        bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8));
        ExpectPlaysItsReadablePart(bytes);
    }
}

// ---- Not Vorbis ----

TEST_F(OggDataHostile, AnOggStreamThatIsNotVorbisIsRefused) {
    std::vector<uint8_t> head = {'O',  'p',  'u',  's',  'H', 'e', 'a', 'd', 1, 2,
                                 0x38, 0x01, 0x80, 0xBB, 0,   0,   0,   0,   0};
    std::vector<uint8_t> tags = {'O', 'p', 'u', 's', 'T', 'a', 'g', 's', 0, 0, 0, 0, 0, 0, 0, 0};
    ExpectRefused(test::OggOfPackets({head, tags, std::vector<uint8_t>(200, 0xFC)}));
    // Vorbis-looking headers whose setup is not a setup header.
    std::vector<test::OggPacket> packets = test::PacketsOf(PlainFile(0.3));
    packets[2].Bytes.assign(packets[2].Bytes.size(), 0x55);
    ExpectRefused(test::OggOfPagedPackets(packets));
}

TEST_F(OggDataHostile, AVorbisFileFollowedByAStreamThatIsNotVorbisPlaysOrIsRefused) {
    auto bytes = PlainFile(0.6);
    std::vector<uint8_t> head = {'O',  'p',  'u',  's',  'H', 'e', 'a', 'd', 1, 2,
                                 0x38, 0x01, 0x80, 0xBB, 0,   0,   0,   0,   0};
    const auto other = test::OggOfPackets({head, std::vector<uint8_t>(300, 0xFC)}, 99);
    bytes.insert(bytes.end(), other.begin(), other.end());
    ExpectPlaysItsReadablePart(bytes);
}

// ---- Chained files ----

TEST_F(OggDataHostile, AChainOfOneFormatPlaysThroughBothLinks) {
    ExpectPlaysItsReadablePart(
        test::EncodeChain(test::Music(44100, 2, 0.7, 1), test::Sine(44100, 2, 0.5, 660.0)));
}

TEST_F(OggDataHostile, AChainCutInsideItsSecondLinksHeadersPlaysWhatIsLeftOrIsRefused) {
    const auto first = test::EncodeOgg(test::Music(44100, 2, 0.7, 1));
    const auto bytes =
        test::EncodeChain(test::Music(44100, 2, 0.7, 1), test::Music(44100, 2, 0.5, 2));
    for (size_t cut = first.size() + 1; cut < first.size() + 4200; cut += 397) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        ExpectPlaysItsReadablePart(
            std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(cut)));
    }
}

// The offset of the last Ogg page in bytes.
size_t LastPageAt(const std::vector<uint8_t>& bytes) {
    const std::string capture = "OggS";
    return static_cast<size_t>(
        std::find_end(bytes.begin(), bytes.end(), capture.begin(), capture.end()) - bytes.begin());
}

// A page of the first link turns up again inside the second: a seek into the second link
// then fails part-way, and libvorbisfile has no position until it decodes again (asked for
// its time meanwhile, it reads outside its own tables). The time stays where it was, and
// playing goes on from wherever the decoder is.
TEST_F(OggDataHostile, ASeekThatFailsPartWayLeavesTheTimeWhereItWas) {
    const test::Pcm first = test::Music(44100, 2, 2.0, 1);
    const std::vector<uint8_t> firstLink = test::EncodeOgg(first);
    std::vector<uint8_t> bytes = test::EncodeChain(first, test::Music(22050, 1, 1.0, 2));
    const auto stray = firstLink.begin() + static_cast<long>(LastPageAt(firstLink));
    bytes.insert(bytes.begin() + static_cast<long>(LastPageAt(bytes)), stray, firstLink.end());
    ASSERT_TRUE(FData.LoadFromStream(StreamOf(bytes)));
    ASSERT_GT(FData.TotalTime(), 2.1f);

    FData.Play(true, true);
    ASSERT_EQ(FData.RenderNext(0), kBufferSize);
    const float before = FData.GetTime(true);
    FData.Seek(2.1f, true);
    EXPECT_EQ(FData.GetTime(true), before);
    EXPECT_EQ(FData.GetPlayTime(), 0.0f);  // a seek restarts the estimate
    for (int block = 0; block < 40; ++block) {
        ASSERT_EQ(FData.RenderNext(0), kBufferSize);
        const float time = FData.GetTime(true);
        ASSERT_TRUE(time >= 0.0f && time <= FData.TotalTime()) << "time " << time;
        const float playTime = FData.GetPlayTime();
        ASSERT_TRUE(playTime >= 0.0f && playTime <= FData.TotalTime()) << "play time " << playTime;
    }
}

// The second link has another rate and channel count than the stream: its data cannot be
// played as the stream's format, so the stream ends where that link begins.
TEST_F(OggDataHostile, AChainOfTwoRatesPlaysItsFirstLinkThenEnds) {
    const auto first = test::EncodeOgg(test::Music(44100, 2, 0.7, 1));
    const auto bytes =
        test::EncodeChain(test::Music(44100, 2, 0.7, 1), test::Sine(22050, 1, 0.5, 330.0));
    const test::Decoded firstLink = test::DecodeReference(first);
    ASSERT_TRUE(FData.LoadFromStream(StreamOf(bytes)));
    EXPECT_EQ(FData.Rate(), 44100);
    EXPECT_EQ(FData.Channels(), 2);
    EXPECT_EQ(FData.PcmTotal(), test::DecodeReference(bytes).PcmTotal);  // both links counted

    FData.Play(false, true);
    const std::vector<int32_t> heard = PlayThrough(FData);
    EXPECT_TRUE(heard == InBlocks(firstLink.Samples)) << "not the first link, then silence";
    EXPECT_EQ(FData.GetState(true), 1);
    EXPECT_EQ(FData.GetTime(true), 0.0f);
}

TEST_F(OggDataHostile, AChainOfTwoRatesLoopsOverItsFirstLink) {
    const test::Decoded firstLink =
        test::DecodeReference(test::EncodeOgg(test::Music(44100, 2, 0.5, 1)));
    ASSERT_TRUE(FData.LoadFromStream(StreamOf(
        test::EncodeChain(test::Music(44100, 2, 0.5, 1), test::Sine(22050, 1, 0.5, 330.0)))));
    FData.Play(true, true);
    std::vector<int32_t> heard;
    const size_t round = firstLink.Samples.size();
    while (heard.size() < 2 * round) {
        ASSERT_EQ(FData.RenderNext(0), kBufferSize);
        heard.insert(heard.end(), FData.GetBlock(), FData.GetBlock() + kBlockSamples);
    }
    for (size_t i = 0; i < 2 * round; ++i)
        ASSERT_EQ(heard[i], firstLink.Samples[i % round]) << "at value " << i;
}

TEST_F(OggDataHostile, AChainStartingAtHalfRateMonoPlaysItsFirstLinkConverted) {
    // A link of several pages: libvorbisfile passes over a chained link whose audio fits on
    // one page when it reads from the start.
    const test::Pcm first = test::Music(22050, 1, 1.5, 2);
    const test::Decoded firstLink = test::DecodeReference(test::EncodeOgg(first));
    ASSERT_TRUE(
        FData.LoadFromStream(StreamOf(test::EncodeChain(first, test::Music(44100, 2, 0.5, 1)))));
    EXPECT_EQ(FData.Rate(), 22050);
    FData.Play(false, true);
    const std::vector<int32_t> heard = PlayThrough(FData);
    // Every sample becomes two frames with both channels equal.
    std::vector<int16_t> expected;
    for (const int16_t s : firstLink.Samples) expected.insert(expected.end(), {s, s, s, s});
    EXPECT_TRUE(heard == InBlocks(expected)) << "not the first link converted, then silence";
    EXPECT_EQ(FData.GetState(true), 1);
}

// ---- Comments ----

TEST_F(OggDataHostile, AHugeCommentBlockLoadsItsTagsAndPlays) {
    // About 1.5 MB of comments: 40 000 lines of remarks and tags, and 200 other entries.
    std::string value;
    for (int line = 0; line < 40000; ++line) {
        if (line % 4 == 0)
            value += "*looptime," + std::to_string(line % 16) + ",0.1,0.3," +
                     std::to_string(line % 5) + " // " + std::string(10, 'x');
        else
            value += std::string(30, static_cast<char>('a' + line % 26));
        value += "\r\n";
    }
    value += "*looptime,15,0.2,0.4,-1";
    test::EncodeOptions options;
    for (int entry = 0; entry < 200; ++entry)
        options.Comments.push_back("NOTE=" + std::string(500, 'n'));
    options.Comments.push_back("COMMENT=" + value);
    const auto bytes = test::EncodeOgg(test::Music(44100, 2, 0.6, 3), options);
    ASSERT_GT(bytes.size(), 1'000'000u);

    ASSERT_TRUE(FData.LoadFromStream(StreamOf(bytes)));
    EXPECT_EQ(FData.Comments(), options.Comments);
    EXPECT_EQ(FData.GetComments("COMMENT").size(), 40001u);
    const TLoopCue last = FData.Cues()[15];
    EXPECT_EQ(last.LoopStart, 0.2f);
    EXPECT_EQ(last.LoopEnd, 0.4f);
    EXPECT_EQ(last.Count, -1);
    EXPECT_EQ(FData.Cues()[12].Count, 39996 % 5);  // the last line for cue 12 wins
    FData.Play(true, true);
    for (int block = 0; block < 20; ++block) ASSERT_EQ(FData.RenderNext(0), kBufferSize);
}

// A comment header whose lengths promise more than the packet holds.
TEST_F(OggDataHostile, ACommentHeaderThatPromisesMoreThanItHoldsIsRefused) {
    std::vector<test::OggPacket> packets = test::PacketsOf(PlainFile(0.3));
    const std::vector<uint8_t> good =
        test::VorbisCommentPacket("vendor", {"COMMENT=*looptime,0,0,1,1"});
    // Byte offsets: 7 signature, 4 + 6 vendor, 4 count, 4 length of the first entry.
    for (const size_t at : {size_t{7}, size_t{17}, size_t{21}}) {
        SCOPED_TRACE("length at byte " + std::to_string(at));
        for (const uint8_t high : {uint8_t{0x01}, uint8_t{0x7F}, uint8_t{0xFF}}) {
            packets[1].Bytes = good;
            packets[1].Bytes[at + 3] = high;
            ExpectPlaysItsReadablePart(test::OggOfPagedPackets(packets));
        }
    }
}

// ---- Lengths that the file does not hold ----

// The last page's granule position claims far more samples than the audio holds. The audio
// spans several pages: libvorbisfile reads the granule of a lone audio page as a start offset.
std::vector<uint8_t> PromisingMore(int64_t claimedSamples) {
    std::vector<test::OggPacket> packets = test::PacketsOf(PlainFile(2.0));
    packets.back().GranulePos = claimedSamples;
    return test::OggOfPagedPackets(packets);
}

TEST_F(OggDataHostile, AFileWhoseLastPagePromisesAnHourPlaysWhatItHolds) {
    const int64_t hour = int64_t{44100} * 3600;
    const auto bytes = PromisingMore(hour);
    const test::Decoded reference = test::DecodeReference(bytes);
    ASSERT_TRUE(FData.LoadFromStream(StreamOf(bytes)));
    EXPECT_EQ(FData.PcmTotal(), reference.PcmTotal);
    EXPECT_EQ(FData.TotalTime(), static_cast<float>(reference.TimeTotal));
    EXPECT_NEAR(FData.TotalTime(), 3600.0f, 1.0f);

    FData.Play(false, true);
    const std::vector<int32_t> heard = PlayThrough(FData);
    EXPECT_TRUE(heard == InBlocks(reference.Samples)) << "not what libvorbisfile decodes";
    EXPECT_EQ(FData.GetState(true), 1);

    // Seeking into the promised part and playing from there ends without a hang; looping
    // from there goes on from the start.
    for (const float at : {FData.TotalTime() * 0.5f, FData.TotalTime(), 1.0f}) {
        SCOPED_TRACE("seek to " + std::to_string(at));
        FData.Seek(at, true);
        FData.Play(false, true);
        (void)PlayThrough(FData);
        EXPECT_EQ(FData.GetState(true), 1);
        FData.Seek(at, true);
        FData.Play(true, true);
        for (int block = 0; block < 8; ++block) ASSERT_EQ(FData.RenderNext(0), kBufferSize);
        const float playTime = FData.GetPlayTime();
        EXPECT_GE(playTime, 0.0f);
        EXPECT_LE(playTime, FData.TotalTime());
        FData.Stop(true);
    }
}

TEST_F(OggDataHostile, AFileWhoseLastPagePromisesTheLargestCountLoadsAndPlays) {
    for (const int64_t claimed :
         {std::numeric_limits<int64_t>::max(), int64_t{1} << 62, int64_t{-5}}) {
        SCOPED_TRACE("claimed " + std::to_string(claimed));
        const auto bytes = PromisingMore(claimed);
        test::Decoded reference;
        if (!LoadLikeTheReference(bytes, reference)) continue;
        EXPECT_EQ(FData.PcmTotal(), reference.PcmTotal);
        EXPECT_GE(FData.TotalSize(), 0);
        FData.Play(true, true);
        FData.Seek(FData.TotalTime() * 0.75f, true);
        for (int block = 0; block < 6; ++block) ASSERT_EQ(FData.RenderNext(0), kBufferSize);
        EXPECT_GE(FData.GetPlayTime(), 0.0f);
    }
}

}  // namespace
}  // namespace oggmix
