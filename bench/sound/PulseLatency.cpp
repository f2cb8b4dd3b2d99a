// PulseLatency.cpp: the pulse back end through a private PulseAudio server, per latency asked
// for (20, 50 and 100 ms): how long from asking for sound (a click after silence) to its first
// frame at the server's monitor (median of 20), and how many gaps the server fills with
// silence while a tone plays for SECONDS (default 60) with four busy processes per core.
//   oggmix_pulse_latency [SECONDS [LATENCY_MS...]]
// The monitor gets each block of the null sink when the sink renders it, about 10 ms before
// the sink's clock plays it (parec's latency); the figures are at the monitor.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sound/platform/AudioBackend.h"
#include "tests/support/SoundServer.h"
#include "tests/support/TestPaths.h"
#include "tests/tools/PlaySupport.h"

namespace oggmix {
namespace {

using test::MonitorRecorder;
using test::MonotonicUs;
using test::SoundServer;

constexpr int32_t kClicks = 20;
constexpr int32_t kClickFrames = 441;
constexpr int64_t kRate = kDeviceFramesPerSecond;

// What the back end plays: silence, a click when asked, or a tone that never touches zero.
struct Source {
    std::atomic<bool> ClickAsked{false};
    std::atomic<bool> Tone{false};
    int32_t ClickLeft = 0;  // device thread
    int64_t Phase = 0;      // device thread

    void Pull(std::span<int16_t> out) {
        for (size_t i = 0; i < out.size(); i += 2) {
            int16_t value = 0;
            if (Tone.load(std::memory_order_relaxed)) {
                value = static_cast<int16_t>(1000 + Phase++ % 200);
            } else if (ClickLeft > 0 || ClickAsked.exchange(false, std::memory_order_relaxed)) {
                if (ClickLeft == 0) ClickLeft = kClickFrames;
                --ClickLeft;
                value = 12000;
            }
            out[i] = out[i + 1] = value;
        }
    }
};

struct Figures {
    double MedianMs = 0.0;
    size_t Gaps = 0;
    size_t GapFrames = 0;
};

// Onsets of sound after silence, in frames of the recording.
std::vector<size_t> Onsets(const std::vector<int16_t>& heard) {
    std::vector<size_t> onsets;
    size_t silent = kRate;  // the start counts as after silence
    for (size_t frame = 0; frame * 2 < heard.size(); ++frame) {
        if (heard[frame * 2] == 0) {
            ++silent;
            continue;
        }
        if (silent >= static_cast<size_t>(kRate / 20)) onsets.push_back(frame);
        silent = 0;
    }
    return onsets;
}

bool Measure(int32_t latencyMs, int32_t loadSeconds, const std::string& folder,
             const std::string& parec, Figures& figures) {
    Source source;
    std::unique_ptr<AudioBackend> backend;
    if (CreateAudioBackend("pulse", backend, {latencyMs}) != DS_OK ||
        backend->Open([&](std::span<int16_t> out) { source.Pull(out); }) != DS_OK) {
        std::fprintf(stderr, "pulse latency: cannot open: %s\n", LastAudioBackendError().c_str());
        return false;
    }
    const std::string clicks = folder + "/clicks-" + std::to_string(latencyMs) + ".raw";
    std::vector<int64_t> askedUs;
    {
        MonitorRecorder recorder(parec, clicks);
        backend->Start();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        for (int32_t i = 0; i < kClicks; ++i) {
            askedUs.push_back(MonotonicUs());
            source.ClickAsked.store(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(300 + 37 * (i % 5)));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        recorder.Stop();
        const std::vector<size_t> onsets = Onsets(test::ReadPcm(clicks, 0));
        if (onsets.size() != askedUs.size() || !recorder.StartUs()) {
            std::fprintf(stderr, "pulse latency: %zu clicks heard of %zu\n", onsets.size(),
                         askedUs.size());
            return false;
        }
        std::vector<double> delaysMs;
        for (size_t i = 0; i < onsets.size(); ++i)
            delaysMs.push_back(static_cast<double>(*recorder.StartUs() - askedUs[i]) / 1000.0 +
                               static_cast<double>(onsets[i]) * 1000.0 / kRate);
        std::sort(delaysMs.begin(), delaysMs.end());
        figures.MedianMs = (delaysMs[kClicks / 2 - 1] + delaysMs[kClicks / 2]) / 2.0;
    }
    const std::string tone = folder + "/tone-" + std::to_string(latencyMs) + ".raw";
    {
        MonitorRecorder recorder(parec, tone);
        source.Tone.store(true);
        {
            test::BusyCores load;
            std::this_thread::sleep_for(std::chrono::seconds(loadSeconds));
        }
        source.Tone.store(false);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        recorder.Stop();
        const std::vector<int16_t> heard = test::ReadPcm(tone, 0);
        // Silence between the first and the last frame of the tone is the server's.
        size_t first = 0, last = heard.size();
        while (first < heard.size() && heard[first] == 0) ++first;
        while (last > first && heard[last - 1] == 0) --last;
        for (size_t i = first; i < last; i += 2) {
            if (heard[i] != 0) continue;
            if (i == first || heard[i - 2] != 0) ++figures.Gaps;
            ++figures.GapFrames;
        }
    }
    backend->Close();
    return true;
}

}  // namespace
}  // namespace oggmix

int main(int argc, char** argv) {
    using namespace oggmix;
    const int32_t seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    std::vector<int32_t> latenciesMs{20, 50, 100};
    if (argc > 2) {
        latenciesMs.clear();
        for (int i = 2; i < argc; ++i) latenciesMs.push_back(std::atoi(argv[i]));
    }
    if (seconds <= 0 ||
        std::any_of(latenciesMs.begin(), latenciesMs.end(), [](int32_t ms) { return ms <= 0; })) {
        std::fprintf(stderr, "usage: oggmix_pulse_latency [SECONDS [LATENCY_MS...]]\n");
        return 2;
    }
    const test::TempDir folder;
    SoundServer server(SoundServer::Kind::PulseAudio, folder.Path());
    if (!server.MissingPrograms().empty() || !server.Start()) {
        std::fprintf(stderr,
                     "pulse latency: no private PulseAudio server (scripts/install-deps)\n");
        return 1;
    }
    const std::string parec = test::FindProgram("parec");
    std::printf(
        "| latency asked | call to monitor, median of %d | gaps in %d s, 4 busy per core |\n",
        kClicks, seconds);
    std::printf("|---|---|---|\n");
    for (const int32_t latencyMs : latenciesMs) {
        Figures figures;
        if (!Measure(latencyMs, seconds, folder.Path(), parec, figures)) return 1;
        std::printf("| %d ms | %.1f ms | %zu (%zu frames) |\n", latencyMs, figures.MedianMs,
                    figures.Gaps, figures.GapFrames);
        std::fflush(stdout);
    }
    return 0;
}
