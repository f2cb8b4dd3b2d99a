// The platform's own files: names in UTF-8, bytes as written, and a replace in one step.
#include "base/platform/Platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/FileCloser.h"
#include "tests/support/TestPaths.h"

namespace oggmix {
namespace {

std::string ReadText(const std::string& path) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

bool WriteText(const std::string& path, const std::string& text) {
    UniqueFile file(platform::OpenFile(path, "w"));
    return file && std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
}

TEST(Platform, AFileNamedInUtf8IsWrittenByteForByte) {
    const test::TempDir dir;
    const std::string path = dir.Path() + "/効果音 ♪.txt";
    ASSERT_TRUE(WriteText(path, "line one\nline two\n"));
    EXPECT_EQ(ReadText(path), "line one\nline two\n");
}

TEST(Platform, MoveIntoPlaceReplacesTheFileThere) {
    const test::TempDir dir;
    const std::string target = dir.Path() + "/out.wav";
    ASSERT_TRUE(WriteText(target, "old"));
    ASSERT_TRUE(WriteText(target + ".partial", "new"));
    ASSERT_TRUE(platform::MoveIntoPlace(target + ".partial", target));
    EXPECT_EQ(ReadText(target), "new");
    EXPECT_FALSE(platform::MoveIntoPlace(target + ".partial", target));
}

}  // namespace
}  // namespace oggmix
