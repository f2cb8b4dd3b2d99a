// MemoryStream: loading whole files, and positions at and beyond the edges.
#include "base/MemoryStream.h"

#include <cstdint>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/Exceptions.h"
#include "tests/support/TestPaths.h"

namespace oggmix {
namespace {

std::vector<uint8_t> Pattern(size_t sizeBytes) {
    std::vector<uint8_t> bytes(sizeBytes);
    for (size_t i = 0; i < sizeBytes; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

TEST(MemoryStreamLoad, ReadsTheWholeFileAndRewinds) {
    // Larger than one read piece and not a multiple of it.
    const std::vector<uint8_t> bytes = Pattern(3 * 65536 + 17);
    test::TempDir dir;
    const std::string path = dir.Write("data.bin", bytes);
    MemoryStream stream(Pattern(5));
    ASSERT_EQ(stream.Seek(3, MemoryStream::FromBeginning), 3);

    stream.LoadFromFile(path);
    EXPECT_EQ(stream.Position(), 0);
    ASSERT_EQ(stream.Size(), static_cast<int32_t>(bytes.size()));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), stream.Bytes().begin()));
}

TEST(MemoryStreamLoad, EmptyFileGivesAnEmptyStream) {
    test::TempDir dir;
    MemoryStream stream(Pattern(5));
    stream.LoadFromFile(dir.Write("empty", {}));
    EXPECT_EQ(stream.Size(), 0);
    uint8_t byte = 0;
    EXPECT_EQ(stream.Read(&byte, 1), 0);
}

TEST(MemoryStreamLoad, FailuresThrowAnInOutErrorNamingTheFileAndKeepTheContents) {
    test::TempDir dir;
    const std::vector<std::string> unreadable = {
        dir.Path() + "/missing.bin",  // cannot be opened
        dir.Path(),                   // a folder opens but cannot be read
        "/proc/self/mem",             // opens, and reading at offset 0 fails
    };
    for (const std::string& path : unreadable) {
        SCOPED_TRACE(path);
        MemoryStream stream(Pattern(5));
        ASSERT_EQ(stream.Seek(2, MemoryStream::FromBeginning), 2);
        EXPECT_THAT([&] { stream.LoadFromFile(path); },
                    testing::ThrowsMessage<EInOutError>(testing::EndsWith(": " + path)));
        EXPECT_EQ(stream.Size(), 5);
        EXPECT_EQ(stream.Position(), 2);
    }
}

TEST(MemoryStreamPosition, ReadsPastTheEndOrWithNonPositiveCountsReturnZero) {
    MemoryStream stream(Pattern(10));
    uint8_t dest[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(stream.Read(dest, 0), 0);
    EXPECT_EQ(stream.Read(dest, -4), 0);
    EXPECT_EQ(stream.Position(), 0);
    EXPECT_EQ(dest[0], 0xEE);

    ASSERT_EQ(stream.Seek(25, MemoryStream::FromBeginning), 25);  // allowed past the end
    EXPECT_EQ(stream.Read(dest, 4), 0);
    EXPECT_EQ(stream.Position(), 25);
    EXPECT_EQ(stream.Seek(-20, MemoryStream::FromCurrent), 5);
    EXPECT_EQ(stream.Read(dest, 4), 4);
    EXPECT_EQ(dest[0], Pattern(10)[5]);
}

TEST(MemoryStreamPosition, SeekThatWouldLeaveThe32BitRangeIsRefused) {
    MemoryStream stream(Pattern(10));
    ASSERT_EQ(stream.Seek(std::numeric_limits<int32_t>::max(), MemoryStream::FromBeginning),
              std::numeric_limits<int32_t>::max());
    EXPECT_EQ(stream.Seek(1, MemoryStream::FromCurrent), -1);
    EXPECT_EQ(stream.Position(), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(stream.Seek(std::numeric_limits<int32_t>::min(), MemoryStream::FromBeginning), -1);
    EXPECT_EQ(stream.Seek(0, 7), -1);
    EXPECT_EQ(stream.Position(), std::numeric_limits<int32_t>::max());
}

}  // namespace
}  // namespace oggmix
