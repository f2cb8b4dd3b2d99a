// oggmix-cli play through a real sound server: a private PulseAudio server (or PipeWire with
// its PulseAudio server) with a null sink, its monitor recorded with parec, and the recording
// checked against what render writes, in
// order, without gaps or repeats of its own (silence a busy machine makes the server insert
// is told apart: after it the sound goes on exactly where it stopped). Also: with both cores
// busy the server inserts no silence and the positions the player reports follow the sound
// on the monitor; a server that is killed and comes back is played to again, at the place
// the clock reached. The tests start the server and stop it by its process id; they run
// one at a time (they load the cores or time the sound).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string_view>
#include <thread>

#include "tests/support/OggFixture.h"
#include "tests/support/RunProgram.h"
#include "tests/support/SoundServer.h"
#include "tests/tools/PlaySupport.h"

namespace oggmix::test {
namespace {

constexpr int32_t kRate = 44100;
// The null sink renders ahead of its clock by one block, the latency its monitor's reader
// asks for (parec's 10 ms); the monitor has a block at once, the server counts it as heard
// once the sink's clock has played it.
constexpr double kMonitorLeadSec = 0.010;

struct PositionSample {
    int64_t ClockUs;
    double PlayTimeSec;
};

std::vector<PositionSample> ReadPositionLog(const std::string& path) {
    std::vector<PositionSample> samples;
    std::ifstream in(path);
    long long clockUs = 0;
    double playTime = 0.0;
    int mixPosition = 0;
    while (in >> clockUs >> playTime >> mixPosition) samples.push_back({clockUs, playTime});
    return samples;
}

// Where the heard samples from `from` on (a key of keySamples) are found in the reference.
std::optional<size_t> FindInReference(const std::vector<int16_t>& heard, size_t from,
                                      const std::vector<int16_t>& reference,
                                      size_t keySamples = 1024) {
    if (from + keySamples > heard.size()) return std::nullopt;
    for (size_t at = 0; at + keySamples <= reference.size(); at += 2)
        if (std::equal(heard.begin() + static_cast<long>(from),
                       heard.begin() + static_cast<long>(from + keySamples),
                       reference.begin() + static_cast<long>(at)))
            return at;
    return std::nullopt;
}

class PlayThroughPulseAudio : public ::testing::Test {
protected:
    virtual SoundServer::Kind ServerKind() const { return SoundServer::Kind::PulseAudio; }

    void SetUp() override {
        FServer = std::make_unique<SoundServer>(ServerKind(), FDir.Path());
        if (const std::string missing = FServer->MissingMessage(); !missing.empty()) {
            if (std::getenv("CI") != nullptr) FAIL() << missing;
            GTEST_SKIP() << missing;
        }
        FParec = FindProgram("parec");
        setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        UseBackend(nullptr);
        // SDL's device-watching thread drops a sink-info request inside libpulse without
        // freeing it; the player never asks for one, so a leak found there is not ours. SDL
        // also keeps a little of a device that went away after its audio is closed and opened
        // again (allocated and lost inside SDL).
        const std::string_view pulseLeaks = "leak:libpulse.so\nleak:libSDL2-2.0.so\n";
        const std::string suppressions = FDir.Write(
            "lsan.supp", {reinterpret_cast<const uint8_t*>(pulseLeaks.data()), pulseLeaks.size()});
        setenv("LSAN_OPTIONS", ("print_suppressions=0:suppressions=" + suppressions).c_str(), 1);
        StartServer();
    }

    // OGGMIX_E2E_AUDIO, if set, picks the back end to measure; else the given one (null: the
    // default).
    static void UseBackend(const char* backend) {
        if (const char* chosen = std::getenv("OGGMIX_E2E_AUDIO")) backend = chosen;
        if (backend != nullptr)
            setenv("OGGMIX_AUDIO", backend, 1);
        else
            unsetenv("OGGMIX_AUDIO");
    }

    void StartServer() { ASSERT_TRUE(FServer->Start()) << "the sound server did not start"; }

    std::unique_ptr<MonitorRecorder> Record(const std::string& name) {
        auto recorder = std::make_unique<MonitorRecorder>(FParec, FDir.Path() + "/" + name);
        EXPECT_TRUE(WaitUntil([&] { return SizeOf(recorder->Path()) > 0; }))
            << "parec records nothing";
        return recorder;
    }

    // Waits until what the server still holds has reached the monitor.
    static void Drain(MonitorRecorder& recorder) {
        const uintmax_t afterPlay = SizeOf(recorder.Path());
        EXPECT_TRUE(WaitUntil([&] { return SizeOf(recorder.Path()) > afterPlay + 4 * kRate / 2; }));
        recorder.Stop();
    }

    std::vector<int16_t> Rendered(const std::string& music, const std::string& seconds) {
        const std::string out = FDir.Path() + "/rendered.wav";
        const ProgramResult rendered =
            RunProgram(Cli(), {"render", "--seconds", seconds, music, "-o", out});
        EXPECT_EQ(rendered.ExitCode, 0) << rendered.Err;
        return ReadPcm(out, 44);
    }

    static std::string Cli() { return ExecutableDir() + "/oggmix-cli"; }

    // oggmix-cli play on the back end (null: the default, which is pulse where a server
    // answers): what the monitor records is the rendered sound, in order, and nothing else.
    void ExpectPlayedAsRendered(const char* backend) {
        UseBackend(backend);
        auto recorder = Record("recorded.raw");
        const std::string music = FDir.Write("music.ogg", EncodeOgg(Music(kRate, 2, 1.2, 5)));
        const int64_t launchedUs = MonotonicUs();
        const ProgramResult played = RunProgram(Cli(), {"play", "--seconds", "3", music});
        ASSERT_EQ(played.ExitCode, 0) << played.Err;
        const std::string expected = backend != nullptr ? backend : "pulse";
        if (std::getenv("OGGMIX_E2E_AUDIO") == nullptr) {
            EXPECT_NE(played.Err.find("sound device " + expected + ","), std::string::npos)
                << "not played on " << expected << ": " << played.Err;
        }
        Drain(*recorder);
        EXPECT_EQ(FServer->Stop(SIGTERM), 0);

        const std::vector<int16_t> reference = Rendered(music, "4");
        const std::vector<int16_t> heard = ReadPcm(recorder->Path(), 0);
        // A short key: the start is found even when the server ran dry soon after it.
        const Alignment at = Align(heard, reference, 512);
        ASSERT_TRUE(at.Found) << "the rendered sound was not recorded";
        EXPECT_TRUE(AllZero(heard.begin(), heard.begin() + static_cast<long>(at.Offset)));
        ASSERT_TRUE(recorder->StartUs().has_value());
        std::printf("from the start of play to the first sound: %.0f ms\n",
                    (static_cast<double>(*recorder->StartUs() - launchedUs) +
                     static_cast<double>(at.Offset / 2) * 1e6 / kRate) /
                        1000.0);
        // A busy machine may make the server run dry for a moment; it then inserts silence
        // and goes on where it stopped. Everything the player sent must arrive, once and in
        // order.
        const ServerComparison heardInOrder = CompareThroughServer(heard, reference, at);
        std::printf(
            "server underruns: %zu, %zu frames of silence inserted, %zu in place of "
            "late sound\n",
            heardInOrder.Underruns, heardInOrder.InsertedSilence / 2,
            heardInOrder.ReplacedSamples / 2);
        EXPECT_GE(heardInOrder.Matched, 2u * 2 * kRate)
            << "the recording diverges after " << heardInOrder.Matched / 2
            << " frames; play said: " << played.Err;
        EXPECT_LT(heardInOrder.InsertedSilence + heardInOrder.ReplacedSamples, heardInOrder.Matched)
            << "the server mostly ran dry";
        EXPECT_TRUE(AllZero(heard.begin() + static_cast<long>(heardInOrder.StoppedAt), heard.end()))
            << "something else was recorded after " << heardInOrder.Matched / 2 << " frames";
    }

    TempDir FDir;
    std::string FParec;
    std::unique_ptr<SoundServer> FServer;
};

// The same through PipeWire's PulseAudio server, as current desktops run it.
class PlayThroughPipeWire : public PlayThroughPulseAudio {
protected:
    SoundServer::Kind ServerKind() const override { return SoundServer::Kind::PipeWire; }
};

TEST_F(PlayThroughPulseAudio, TheRecordedSoundIsTheRenderedSound) {
    ExpectPlayedAsRendered(nullptr);
}

TEST_F(PlayThroughPulseAudio, OnSdlTheRecordedSoundIsTheRenderedSound) {
    ExpectPlayedAsRendered("sdl");
}

TEST_F(PlayThroughPipeWire, TheRecordedSoundIsTheRenderedSound) { ExpectPlayedAsRendered(nullptr); }

// On the native PulseAudio back end: SDL cannot say how much sound the server holds, so its
// position is an estimate (see bench/RESULTS.md for both).
TEST_F(PlayThroughPulseAudio, UnderLoadNothingIsMissedAndThePositionFollowsTheSound) {
    constexpr int kPlaySeconds = 20;
    UseBackend("pulse");
    const std::string music =
        FDir.Write("music.ogg", EncodeOgg(Music(kRate, 2, kPlaySeconds + 2.0, 7)));
    const std::vector<int16_t> reference = Rendered(music, std::to_string(kPlaySeconds + 1));
    auto recorder = Record("recorded.raw");
    const std::string log = FDir.Path() + "/positions.txt";
    ProgramResult played;
    {
        BusyCores load;
        ASSERT_GT(load.Processes(), 0u) << "taskset cannot load the processors";
        played = RunProgram(Cli(), {"play", "--seconds", std::to_string(kPlaySeconds),
                                    "--position-log", log, music});
    }
    ASSERT_EQ(played.ExitCode, 0) << played.Err;
    Drain(*recorder);
    ASSERT_TRUE(recorder->StartUs().has_value());

    const std::vector<int16_t> heard = ReadPcm(recorder->Path(), 0);
    const Alignment at = Align(heard, reference, 512);
    ASSERT_TRUE(at.Found) << "the rendered sound was not recorded";
    const ServerComparison heardInOrder = CompareThroughServer(heard, reference, at);
    std::printf("under load: %sserver underruns: %zu (%zu frames of silence)\n", played.Err.c_str(),
                heardInOrder.Underruns,
                (heardInOrder.InsertedSilence + heardInOrder.ReplacedSamples) / 2);
    EXPECT_EQ(heardInOrder.Underruns, 0u) << "the server ran dry under load";
    EXPECT_GE(heardInOrder.Matched, size_t{kPlaySeconds - 1} * 2 * kRate)
        << "the recording diverges after " << heardInOrder.Matched / 2 << " frames";

    // The music's time on the monitor at each logged moment, against what play said.
    const double musicStartSec = static_cast<double>(*recorder->StartUs()) / 1e6 +
                                 static_cast<double>(at.Offset / 2) / kRate + kMonitorLeadSec;
    std::vector<double> errorsMs;
    for (const PositionSample& sample : ReadPositionLog(log)) {
        const double heardSec = static_cast<double>(sample.ClockUs) / 1e6 - musicStartSec;
        if (heardSec < 0.5 || heardSec > kPlaySeconds - 0.5) continue;
        errorsMs.push_back((sample.PlayTimeSec - heardSec) * 1000.0);
    }
    ASSERT_GT(errorsMs.size(), 100u) << "too few positions logged";
    std::sort(errorsMs.begin(), errorsMs.end());
    double mean = 0.0;
    for (const double e : errorsMs) mean += e / static_cast<double>(errorsMs.size());
    const double p5 = errorsMs[errorsMs.size() * 5 / 100];
    const double p95 = errorsMs[errorsMs.size() * 95 / 100];
    std::printf("position error against the monitor: mean %.1f ms, 5%% %.1f ms, 95%% %.1f ms\n",
                mean, p5, p95);
    EXPECT_LE(std::abs(mean), 10.0);
    EXPECT_GE(p5, -15.0);
    EXPECT_LE(p95, 15.0);
}

TEST_F(PlayThroughPulseAudio, AServerThatComesBackIsPlayedToAtTheClocksPosition) {
    const std::string music = FDir.Write("music.ogg", EncodeOgg(Music(kRate, 2, 10.0, 9)));
    const std::vector<int16_t> reference = Rendered(music, "9");
    const std::string log = FDir.Path() + "/positions.txt";
    const std::string errors = FDir.Path() + "/play.err";
    Child player(Cli(), {"play", "--seconds", "8", "--position-log", log, music}, "/dev/null",
                 errors);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(FServer->Stop(SIGKILL), 128 + SIGKILL);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    StartServer();
    const int64_t returnedUs = MonotonicUs();
    auto recorder = Record("after.raw");
    const int exitCode = player.Wait();
    Drain(*recorder);
    const std::vector<uint8_t> saidBytes = ReadFileBytes(errors);
    const std::string said(saidBytes.begin(), saidBytes.end());
    EXPECT_EQ(exitCode, 0) << said;
    const auto count = [&](std::string_view text) {
        size_t n = 0;
        for (size_t at = said.find(text); at != std::string::npos; at = said.find(text, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("sound device lost"), 1u) << said;
    EXPECT_EQ(count("sound device back"), 1u) << said;

    const std::vector<int16_t> heard = ReadPcm(recorder->Path(), 0);
    const auto firstSound = std::find_if(heard.begin(), heard.end(), [](int16_t s) { return s; });
    ASSERT_NE(firstSound, heard.end()) << "nothing heard after the server came back";
    const size_t from = static_cast<size_t>(firstSound - heard.begin()) & ~size_t{1};
    ASSERT_TRUE(recorder->StartUs().has_value());
    const double heardAtUs =
        static_cast<double>(*recorder->StartUs()) + static_cast<double>(from / 2) * 1e6 / kRate;
    std::printf("sound back %.2f s after the server\n", (heardAtUs - returnedUs) / 1e6);
    EXPECT_LT((heardAtUs - returnedUs) / 1e6, 2.0);

    // The music there is where the player's clock had got to, and goes on in order.
    const std::optional<size_t> inReference = FindInReference(heard, from, reference);
    ASSERT_TRUE(inReference.has_value()) << "what came back is not the music";
    const std::vector<PositionSample> positions = ReadPositionLog(log);
    const auto nearest = std::min_element(
        positions.begin(), positions.end(), [&](const PositionSample& a, const PositionSample& b) {
            return std::abs(a.ClockUs - heardAtUs) < std::abs(b.ClockUs - heardAtUs);
        });
    ASSERT_NE(nearest, positions.end());
    const double musicSec = static_cast<double>(*inReference / 2) / kRate;
    EXPECT_NEAR(musicSec, nearest->PlayTimeSec + (heardAtUs - nearest->ClockUs) / 1e6, 0.1);
    const std::vector<int16_t> rest(reference.begin() + static_cast<long>(*inReference),
                                    reference.end());
    EXPECT_GE(CompareThroughServer(heard, rest, {true, from, 0}).Matched, size_t{2} * kRate)
        << "the music does not go on in order";
}

}  // namespace
}  // namespace oggmix::test
