// oggmix-cli play through a real sound server: a private PulseAudio server with a null sink,
// its monitor recorded with parec, and the recording checked against what render writes, in
// order, without gaps or repeats of its own (silence a busy machine makes the server insert
// is told apart: after it the sound goes on exactly where it stopped). The test starts the
// server and stops it by its process id.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <thread>

#include "tests/support/OggFixture.h"
#include "tests/support/RunProgram.h"
#include "tests/tools/PlaySupport.h"

namespace oggmix::test {
namespace {

constexpr int32_t kRate = 44100;
constexpr auto kHungRun = std::chrono::seconds(60);

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

// Waits until done() holds; false only when the run hung.
bool WaitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kHungRun;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

uintmax_t SizeOf(const std::string& path) {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

TEST(PlayThroughPulseAudio, TheRecordedSoundIsTheRenderedSound) {
    const std::string pulseaudio = FindProgram("pulseaudio");
    const std::string parec = FindProgram("parec");
    const std::string pactl = FindProgram("pactl");
    if (pulseaudio.empty() || parec.empty() || pactl.empty()) {
        if (std::getenv("CI") != nullptr) FAIL() << "pulseaudio and pulseaudio-utils are missing";
        GTEST_SKIP() << "pulseaudio or pulseaudio-utils not installed (scripts/install-deps)";
    }
    TempDir dir;
    const std::string runtime = dir.Path() + "/run";
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    const std::string socket = dir.Path() + "/native";
    // The server and its clients keep their state in the temporary folder, never the user's.
    setenv("HOME", dir.Path().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    setenv("OGGMIX_AUDIO", "sdl", 1);
    // SDL's device-watching thread drops a sink-info request inside libpulse without freeing
    // it; the player never calls libpulse itself, so a leak found there is not ours.
    const std::string_view pulseLeaks = "leak:libpulse.so\n";
    const std::string suppressions = dir.Write(
        "lsan.supp", {reinterpret_cast<const uint8_t*>(pulseLeaks.data()), pulseLeaks.size()});
    setenv("LSAN_OPTIONS", ("print_suppressions=0:suppressions=" + suppressions).c_str(), 1);

    Child server(pulseaudio,
                 {"-n", "--exit-idle-time=-1", "--disable-shm=yes", "--daemonize=no",
                  "--use-pid-file=no", "-L",
                  "module-native-protocol-unix socket=" + socket + " auth-anonymous=1", "-L",
                  "module-null-sink sink_name=oggmix_test norewinds=1"});
    ASSERT_TRUE(WaitUntil([&] {
        const ProgramResult sinks = RunProgram(pactl, {"list", "short", "sinks"});
        return sinks.ExitCode == 0 && sinks.Out.find("oggmix_test") != std::string::npos;
    })) << "the sound server did not start";

    const std::string recording = dir.Path() + "/recorded.raw";
    Child recorder(parec, {"--latency-msec=10", "-d", "oggmix_test.monitor", "--format=s16le",
                           "--rate=44100", "--channels=2", "--raw"},
                   recording);
    ASSERT_TRUE(WaitUntil([&] { return SizeOf(recording) > 0; })) << "parec records nothing";

    const std::string music = dir.Write("music.ogg", EncodeOgg(Music(kRate, 2, 1.2, 5)));
    const std::string cli = ExecutableDir() + "/oggmix-cli";
    const ProgramResult played = RunProgram(cli, {"play", "--seconds", "3", music});
    ASSERT_EQ(played.ExitCode, 0) << played.Err;
    // What the server still holds reaches the monitor within a fraction of a second.
    const uintmax_t afterPlay = SizeOf(recording);
    ASSERT_TRUE(WaitUntil([&] { return SizeOf(recording) > afterPlay + 4 * kRate / 2; }));
    EXPECT_EQ(recorder.Stop(SIGTERM), 0);
    EXPECT_EQ(server.Stop(SIGTERM), 0);

    const ProgramResult rendered =
        RunProgram(cli, {"render", "--seconds", "4", music, "-o", dir.Path() + "/rendered.wav"});
    ASSERT_EQ(rendered.ExitCode, 0) << rendered.Err;
    const std::vector<int16_t> heard = ReadPcm(recording, 0);
    const std::vector<int16_t> reference = ReadPcm(dir.Path() + "/rendered.wav", 44);
    // A short key: the start is found even when the server ran dry soon after it.
    const Alignment at = Align(heard, reference, 512);
    ASSERT_TRUE(at.Found) << "the rendered sound was not recorded";
    EXPECT_TRUE(AllZero(heard.begin(), heard.begin() + static_cast<long>(at.Offset)));
    // A busy machine may make the server run dry for a moment; it then inserts silence and
    // goes on where it stopped. Everything the player sent must arrive, once and in order.
    const ServerComparison heardInOrder = CompareThroughServer(heard, reference, at);
    std::printf("server underruns: %zu, %zu frames of silence inserted\n", heardInOrder.Underruns,
                heardInOrder.InsertedSilence / 2);
    EXPECT_GE(heardInOrder.Matched, 2u * 2 * kRate)
        << "the recording diverges after " << heardInOrder.Matched / 2 << " frames; play said: "
        << played.Err;
    EXPECT_LT(heardInOrder.InsertedSilence, heardInOrder.Matched) << "the server mostly ran dry";
    EXPECT_TRUE(AllZero(heard.begin() + static_cast<long>(heardInOrder.StoppedAt), heard.end()))
        << "something else was recorded after " << heardInOrder.Matched / 2 << " frames";
}

}  // namespace
}  // namespace oggmix::test
