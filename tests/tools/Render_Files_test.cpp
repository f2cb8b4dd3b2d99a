// oggmix-cli render's output files: a render ended by a signal leaves no temporary file
// behind, and an output that is not a regular file (a FIFO here) is written in place, never
// replaced.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/OggFixture.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

// Half an hour of output, far longer than the test waits; with and without a plan.
class RenderKilled : public ::testing::TestWithParam<bool> {};

TEST_P(RenderKilled, BySigtermLeavesNoTemporaryFile) {
    TempDir dir;
    dir.Write("a.ogg", EncodeOgg(Sine(44100, 2, 0.5, 440.0)));
    const std::string plan = "0 load a a.ogg\n0 play a\n1800 end\n";
    dir.Write("plan.txt", std::vector<uint8_t>(plan.begin(), plan.end()));
    const std::vector<std::string> args =
        GetParam() ? std::vector<std::string>{"render", "--script", dir.Path() + "/plan.txt", "-o",
                                              dir.Path() + "/out.wav"}
                   : std::vector<std::string>{"render", "--seconds",
                                              "1800",   dir.Path() + "/a.ogg",
                                              "-o",     dir.Path() + "/out.wav"};
    Child render(ExecutableDir() + "/oggmix-cli", args);
    // Killed once it is writing: once its output, under whatever name, holds some music.
    const auto writing = [&] {
        std::error_code error;
        for (const std::string& name : Names(dir.Path()))
            if (name.starts_with("out.wav") &&
                fs::file_size(dir.Path() + "/" + name, error) > 65536 && !error)
                return true;
        return false;
    };
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!writing() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(writing()) << "the render wrote nothing";
    EXPECT_EQ(render.Stop(SIGTERM), 128 + SIGTERM);
    EXPECT_EQ(Names(dir.Path()).size(), 2u) << "only a.ogg and plan.txt";
}

INSTANTIATE_TEST_SUITE_P(ScriptAndFiles, RenderKilled, ::testing::Bool());

TEST(RenderOutput, AFifoIsWrittenInPlaceWithTheWholeLengthInItsHeader) {
    TempDir dir;
    dir.Write("a.ogg", EncodeOgg(Sine(44100, 2, 0.5, 440.0)));
    const std::string fifo = dir.Path() + "/out.wav";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Our own writer keeps the reader from seeing the end until the render is over, whether
    // or not it ever opens the FIFO.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    fcntl(reader, F_SETFL, fcntl(reader, F_GETFL) & ~O_NONBLOCK);
    const int keeper = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(keeper, 0);
    std::vector<uint8_t> bytes;
    std::thread drain([&] {
        uint8_t block[65536];
        for (ssize_t got; (got = read(reader, block, sizeof block)) > 0;)
            bytes.insert(bytes.end(), block, block + got);
    });
    const std::string plan = "0 load a a.ogg\n0 play a\n1 end\n";
    const ProgramResult result = RunProgram(
        ExecutableDir() + "/oggmix-cli",
        {"render", "--script",
         dir.Write("plan.txt", std::vector<uint8_t>(plan.begin(), plan.end())), "-o", fifo});
    close(keeper);
    drain.join();
    close(reader);
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_TRUE(fs::is_fifo(fifo));
    constexpr uint32_t kDataBytes = 44100 * 4;
    ASSERT_EQ(bytes.size(), 44u + kDataBytes);
    const auto u32At = [&](size_t at) {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t{bytes[at + 3]} << 24;
    };
    EXPECT_EQ(u32At(4), 36u + kDataBytes);
    EXPECT_EQ(u32At(40), kDataBytes);
}

}  // namespace
}  // namespace oggmix::test
