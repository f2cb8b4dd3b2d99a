// PlayerTiming.cpp: oggmix_player_timing [SECONDS]: when the game player's sound is heard,
// through a private PulseAudio server with a null sink whose monitor parec records at 10 ms
// (the moment frame k reached the monitor is known to the sampling of the recording's size).
// With 4 busy processes per core, for LatencyMs 20, 50 and 100 on the pulse back end:
//   - call to heard: 20 Play calls without a fade, each after half a second of silence, from
//     the call to the first frame of the track on the monitor (median and 95 %);
//   - one track played SECONDS: the gaps (silence the server inserted) and the position error
//     (Position against the music's time on the monitor, the monitor's 10 ms lead allowed
//     for; mean, 5 % and 95 %).
// Then, unloaded, a click on every beat: each Beat event's HeardAt against the click's onset
// on the monitor (mean, 5 % and 95 %).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "oggmix/MusicPlayer.h"
#include "tests/music/ServerPlayback.h"
#include "tests/support/OggFixture.h"
#include "tests/support/SoundServer.h"
#include "tests/support/TestPaths.h"
#include "tests/tools/PlaySupport.h"

namespace {

using namespace oggmix;
using namespace oggmix::test;

constexpr double kMonitorLeadSec = 0.010;  // the null sink hands its monitor a block early

struct Spread {
    double Mean = 0, P5 = 0, Median = 0, P95 = 0;
    size_t Count = 0;
};

Spread SpreadOf(std::vector<double> values) {
    Spread s;
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    for (const double v : values) s.Mean += v / static_cast<double>(values.size());
    s.P5 = values[values.size() * 5 / 100];
    s.Median = values[values.size() / 2];
    s.P95 = values[std::min(values.size() - 1, values.size() * 95 / 100)];
    s.Count = values.size();
    return s;
}

class Bench {
public:
    Bench() : FServer(SoundServer::Kind::PulseAudio, FDir.Path()) {
        if (!FServer.Start()) throw std::runtime_error("the sound server did not start");
    }

    std::unique_ptr<MonitorRecorder> Record() {
        auto recorder =
            std::make_unique<MonitorRecorder>(FindProgram("parec"), FDir.Path() + "/monitor.raw");
        if (!WaitUntil([&] { return SizeOf(recorder->Path()) > 0; }))
            throw std::runtime_error("parec records nothing");
        return recorder;
    }

    // The clock (us) at which the frame of a drained recording reached the monitor.
    static std::vector<int16_t> Drained(MonitorRecorder& recorder, int64_t& startUs) {
        const uintmax_t before = SizeOf(recorder.Path());
        (void)WaitUntil([&] { return SizeOf(recorder.Path()) > before + 2 * kServerRate; });
        recorder.Stop();
        startUs = recorder.StartUs().value_or(0);
        return ReadPcm(recorder.Path(), 0);
    }

    void CallToHeard(int32_t latencyMs) {
        const std::vector<uint8_t> tone = EncodeOgg(Sine(kServerRate, 2, 1.0, 440.0));
        auto recorder = Record();
        std::vector<int64_t> callsUs;
        {
            MusicPlayer player(BackendOptions("pulse", latencyMs));
            const Track track = LoadBytes(player, tone);
            for (int i = 0; i < 20; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(600));
                callsUs.push_back(MonotonicUs());
                player.Play(track, {.Loop = false});
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                player.Stop(track);
            }
        }
        int64_t startUs = 0;
        const std::vector<int16_t> heard = Drained(*recorder, startUs);
        const std::vector<int64_t> onsets = Onsets(heard, kServerRate / 5);
        std::vector<double> ms;
        for (size_t i = 0; i < std::min(onsets.size(), callsUs.size()); ++i)
            ms.push_back((static_cast<double>(startUs) + onsets[i] * 1e6 / kServerRate -
                          static_cast<double>(callsUs[i])) /
                         1000.0);
        const Spread s = SpreadOf(ms);
        std::printf("  call to heard: median %.1f ms, 95 %% %.1f ms (%zu of 20 onsets found)\n",
                    s.Median, s.P95, onsets.size());
    }

    void GapsAndPosition(int32_t latencyMs, double seconds) {
        const std::vector<uint8_t> music = EncodeOgg(Music(kServerRate, 2, seconds + 2.0, 7));
        auto recorder = Record();
        std::vector<std::pair<double, double>> samples;  // clock (s), position (s)
        uint64_t late = 0;
        {
            MusicPlayer player(BackendOptions("pulse", latencyMs));
            const Track track = LoadBytes(player, music);
            player.Play(track, {.Loop = false});
            while (player.Position(track) < seconds) {
                std::this_thread::sleep_for(std::chrono::milliseconds(16));
                const int64_t before = MonotonicUs();
                const double at = player.Position(track);
                const int64_t after = MonotonicUs();
                if (after - before < 1000) samples.push_back({(before + after) / 2e6, at});
            }
            late = player.Delivery().LateBlocks;
        }
        int64_t startUs = 0;
        const std::vector<int16_t> heard = Drained(*recorder, startUs);
        const std::vector<int16_t> reference = PlayedAlone(music, seconds + 1.0);
        const Alignment at = Align(heard, reference, 512);
        if (!at.Found) return std::printf("  the music was not recorded\n"), void();
        const ServerComparison inOrder = CompareThroughServer(heard, reference, at);
        std::printf(
            "  %.0f s: %zu gaps (%zu frames of silence), %.1f s heard in order, late blocks "
            "%llu\n",
            seconds, inOrder.Underruns, inOrder.InsertedSilence / 2,
            static_cast<double>(inOrder.Matched) / 2 / kServerRate,
            static_cast<unsigned long long>(late));
        const double musicStartSec = static_cast<double>(startUs) / 1e6 +
                                     static_cast<double>(at.Offset / 2) / kServerRate +
                                     kMonitorLeadSec;
        std::vector<double> errorsMs;
        for (const auto& [clockSec, positionSec] : samples) {
            const double heardSec = clockSec - musicStartSec;
            if (heardSec > 0.5 && heardSec < seconds - 0.5)
                errorsMs.push_back((positionSec - heardSec) * 1000.0);
        }
        const Spread s = SpreadOf(errorsMs);
        std::printf("  position error: mean %.1f ms, 5 %% %.1f ms, 95 %% %.1f ms (%zu readings)\n",
                    s.Mean, s.P5, s.P95, s.Count);
    }

    void BeatTimes() {
        const std::vector<uint8_t> clicks = ClickTrack(12.0);
        auto recorder = Record();
        std::vector<MusicEvent> beats;
        {
            MusicPlayer player(BackendOptions("pulse"));
            const Track track = LoadBytes(player, clicks);
            player.Play(track, {.Loop = false});
            while (player.Position(track) < 10.0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(16));
                for (const MusicEvent& event : player.Poll())
                    if (event.Kind == MusicEventKind::Beat) beats.push_back(event);
            }
        }
        int64_t startUs = 0;
        const std::vector<int16_t> heard = Drained(*recorder, startUs);
        const std::vector<int64_t> onsets = Onsets(heard, kClickBeatFrames / 2);
        std::vector<double> errorsMs;
        for (size_t i = 0; i < std::min(onsets.size(), beats.size()); ++i) {
            const double heardUs = static_cast<double>(startUs) + onsets[i] * 1e6 / kServerRate +
                                   kMonitorLeadSec * 1e6;
            const double predictedUs =
                std::chrono::duration<double, std::micro>(beats[i].HeardAt.time_since_epoch())
                    .count();
            errorsMs.push_back((predictedUs - heardUs) / 1000.0);
        }
        const Spread s = SpreadOf(errorsMs);
        std::printf(
            "beat events' HeardAt against the clicks on the monitor: mean %.1f ms, 5 %% "
            "%.1f ms, 95 %% %.1f ms (%zu beats, %zu onsets)\n",
            s.Mean, s.P5, s.P95, beats.size(), onsets.size());
    }

private:
    TempDir FDir;
    SoundServer FServer;
};

}  // namespace

int main(int argc, char** argv) try {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    Bench bench;
    bench.BeatTimes();
    for (const int32_t latencyMs : {20, 50, 100}) {
        std::printf("LatencyMs %d, 4 busy processes per core:\n", latencyMs);
        BusyCores load;
        bench.CallToHeard(latencyMs);
        bench.GapsAndPosition(latencyMs, seconds);
    }
    return 0;
} catch (const std::exception& error) {
    std::fprintf(stderr, "oggmix_player_timing: %s\n", error.what());
    return 1;
}
