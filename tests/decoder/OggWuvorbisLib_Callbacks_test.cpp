// The stream callbacks over a MemoryStream, and the wrappers against plain libvorbisfile.
#include <malloc.h>

#include <cstdint>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/MemoryStream.h"
#include "decoder/OggWuvorbisLib.h"
#include "tests/support/OggFixture.h"
#include "tests/support/TestPaths.h"

namespace oggmix {
namespace {

std::vector<uint8_t> Counting(size_t sizeBytes) {
    std::vector<uint8_t> bytes(sizeBytes);
    std::iota(bytes.begin(), bytes.end(), uint8_t{0});
    return bytes;
}

TEST(StreamCallbacks, ZeroItemSizeOrCountReadsNothingAndKeepsThePosition) {
    MemoryStream stream(Counting(100));
    ASSERT_EQ(stream.Seek(10, MemoryStream::FromBeginning), 10);
    std::vector<uint8_t> dest(16, 0xEE);
    EXPECT_EQ(StreamRead(dest.data(), 0, 8, &stream), 0u);
    EXPECT_EQ(StreamRead(dest.data(), 1, 0, &stream), 0u);
    EXPECT_EQ(stream.Position(), 10);
    EXPECT_EQ(dest, std::vector<uint8_t>(16, 0xEE));
}

TEST(StreamCallbacks, ReadReturnsBytesNotItems) {
    MemoryStream stream(Counting(100));
    std::vector<uint8_t> dest(6);
    EXPECT_EQ(StreamRead(dest.data(), 2, 3, &stream), 6u);
    EXPECT_EQ(dest, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(StreamTell(&stream), 6);
}

TEST(StreamCallbacks, ReadNearTheEndIsShortAndAtTheEndReturnsZero) {
    MemoryStream stream(Counting(100));
    ASSERT_EQ(stream.Seek(97, MemoryStream::FromBeginning), 97);
    std::vector<uint8_t> dest(10, 0xEE);
    EXPECT_EQ(StreamRead(dest.data(), 1, 10, &stream), 3u);
    EXPECT_EQ(dest[0], 97);
    EXPECT_EQ(dest[2], 99);
    EXPECT_EQ(dest[3], 0xEE);
    EXPECT_EQ(StreamRead(dest.data(), 1, 10, &stream), 0u);
    EXPECT_EQ(StreamTell(&stream), 100);
}

TEST(StreamCallbacks, SeekFollowsTheThreeOriginsAndReturnsTheNewPosition) {
    MemoryStream stream(Counting(100));
    EXPECT_EQ(StreamSeek(&stream, 40, SEEK_SET), 40);
    EXPECT_EQ(StreamSeek(&stream, -15, SEEK_CUR), 25);
    EXPECT_EQ(StreamSeek(&stream, 5, SEEK_CUR), 30);
    EXPECT_EQ(StreamSeek(&stream, -1, SEEK_END), 99);
    EXPECT_EQ(StreamSeek(&stream, 0, SEEK_END), 100);
    EXPECT_EQ(StreamTell(&stream), 100);
}

TEST(StreamCallbacks, SeekBeforeTheStartOrWithAnUnknownOriginFailsAndKeepsThePosition) {
    MemoryStream stream(Counting(100));
    ASSERT_EQ(StreamSeek(&stream, 50, SEEK_SET), 50);
    EXPECT_EQ(StreamSeek(&stream, -1, SEEK_SET), -1);
    EXPECT_EQ(StreamSeek(&stream, -101, SEEK_END), -1);
    EXPECT_EQ(StreamSeek(&stream, 0, 3), -1);
    EXPECT_EQ(StreamTell(&stream), 50);
}

TEST(StreamCallbacks, SeekPassesOnlyTheLow32BitsOfTheOffset) {
    MemoryStream stream(Counting(100));
    EXPECT_EQ(StreamSeek(&stream, (int64_t{1} << 32) + 7, SEEK_SET), 7);
    EXPECT_EQ(StreamSeek(&stream, (int64_t{3} << 32) - 2, SEEK_END), 98);
}

TEST(StreamCallbacks, CloseFreesTheStream) {
#ifdef OGGMIX_SANITIZED
    GTEST_SKIP() << "the sanitizer's allocator keeps its own books; its leak check covers this";
#else
    constexpr size_t kStreamBytes = size_t{8} << 20;
    auto inUse = [] {
        const struct mallinfo2 info = mallinfo2();
        return info.uordblks + info.hblkhd;
    };
    void* source = std::make_unique<MemoryStream>(std::vector<uint8_t>(kStreamBytes, 1)).release();
    const size_t before = inUse();
    EXPECT_EQ(StreamClose(source), 0);
    EXPECT_GE(before - inUse(), kStreamBytes);
#endif
}

// The wrappers through the global binding against a plain libvorbisfile decode of the same file.
class Wrappers : public testing::Test {
protected:
    static void SetUpTestSuite() { test::BindDecoder(); }

    void Open(const std::vector<uint8_t>& bytes) {
        auto stream = std::make_unique<MemoryStream>(bytes);
        ASSERT_EQ(VorbisFileDLL->OpenCallbacks(stream.get(), &FVf, nullptr, 0), 0);
        stream.release();  // the decoder state owns it now
        FOpen = true;
    }
    void TearDown() override {
        if (FOpen) {
            EXPECT_EQ(VorbisFileDLL->Clear(&FVf), 0);
        }
    }

    OggVorbis_File FVf{};
    bool FOpen = false;
};

TEST_F(Wrappers, InformationAndCommentsAreThoseOfLibvorbisfile) {
    test::EncodeOptions options;
    options.Comments = {"TITLE=テスト", "COMMENT=*looptime,0,1,2,-1\r\nsecond line", "EMPTY="};
    const auto bytes = test::EncodeOgg(test::Sine(22050, 1, 1.3, 330.0), options);
    const test::Decoded reference = test::DecodeReference(bytes);
    Open(bytes);

    const vorbis_info* info = VorbisFileDLL->Info(&FVf, -1);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->channels, 1);
    EXPECT_EQ(info->rate, 22050);
    EXPECT_EQ(VorbisFileDLL->PcmTotal(&FVf, -1), reference.PcmTotal);
    EXPECT_EQ(VorbisFileDLL->TimeTotal(&FVf, -1), reference.TimeTotal);
    EXPECT_NE(VorbisFileDLL->Seekable(&FVf), 0);

    const vorbis_comment* comment = VorbisFileDLL->Comment(&FVf, -1);
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(std::string(comment->vendor), reference.Vendor);
    ASSERT_EQ(comment->comments, 3);
    for (int i = 0; i < comment->comments; ++i)
        EXPECT_EQ(std::string(comment->user_comments[i]), options.Comments[i]);
}

TEST_F(Wrappers, ReadDeliversTheSamePcmAsLibvorbisfile) {
    const auto bytes = test::EncodeOgg(test::Noise(44100, 2, 0.7, 11));
    const test::Decoded reference = test::DecodeReference(bytes);
    Open(bytes);

    // An odd request size makes the library split its packets across calls.
    std::vector<int16_t> samples;
    std::vector<int16_t> buffer(1537);
    int32_t section = -1;
    for (;;) {
        const int32_t got = VorbisFileDLL->Read(&FVf, buffer.data(), 3074, 0, 2, 1, &section);
        ASSERT_GE(got, 0);
        if (got == 0) break;
        ASSERT_EQ(got % 4, 0);
        samples.insert(samples.end(), buffer.begin(), buffer.begin() + got / 2);
    }
    EXPECT_EQ(section, 0);
    EXPECT_EQ(samples, reference.Samples);
}

TEST_F(Wrappers, TimeSeekLandsOnTheRequestedTime) {
    const auto bytes = test::EncodeOgg(test::Sine(44100, 2, 2.0, 440.0));
    Open(bytes);
    EXPECT_EQ(VorbisFileDLL->TimeTell(&FVf), 0.0);
    EXPECT_EQ(VorbisFileDLL->TimeSeek(&FVf, 1.25), 0);
    EXPECT_EQ(VorbisFileDLL->TimeTell(&FVf), 1.25);
    EXPECT_LT(VorbisFileDLL->TimeSeek(&FVf, 99.0), 0);  // beyond the end: the library's code
}

TEST_F(Wrappers, FailedOpenLeavesTheStreamToTheCaller) {
    const std::string text = "This is a text file, not Ogg Vorbis.\n";
    auto stream = std::make_unique<MemoryStream>(std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_LT(VorbisFileDLL->OpenCallbacks(stream.get(), &FVf, nullptr, 0), 0);
    // Still alive and readable: the library did not close it (a sanitizer build would see a
    // use after free here, and a double free when the unique_ptr lets go).
    ASSERT_EQ(stream->Seek(0, MemoryStream::FromBeginning), 0);
    char first = 0;
    EXPECT_EQ(stream->Read(&first, 1), 1);
    EXPECT_EQ(first, 'T');
}

TEST_F(Wrappers, ClearTakesTheStreamWithIt) {
    // The fixture's TearDown clears; a sanitizer build reports the stream if Clear leaked it.
    Open(test::EncodeOgg(test::Silence(44100, 2, 0.1)));
    EXPECT_EQ(VorbisFileDLL->PcmTotal(&FVf, -1), 4410);
}

}  // namespace
}  // namespace oggmix
