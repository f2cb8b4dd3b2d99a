// SpectrumCommand.cpp: `oggmix-cli spectrum`: plays a file through the mixer offline up to a
// moment and prints the mix spectrum of the frames heard then, as the display would see it.
#include <cmath>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/PcmFormat.h"
#include "mixer/OggPlayerLib.h"
#include "stream/OggDataLib.h"
#include "tools/oggmix-cli/Command.h"
#include "tools/oggmix-cli/CommandLine.h"
#include "tools/oggmix-cli/MixOptions.h"
#include "tools/oggmix-cli/Progress.h"
#include "tools/oggmix-cli/StreamFiles.h"

namespace oggmix::cli {
namespace {

// The moment is at most this many times the file's length: far enough to hear many loops,
// near enough that the render before it ends soon.
constexpr int64_t kMaxAtLengths = 10;
// Any moment will do: the clock is pinned while the file renders, so that the mixer's
// estimate of the frame being heard follows the rendered audio, not the wall clock.
constexpr int64_t kRenderClockMs = 1000000;
constexpr double kFramesPerMs = kFramesPerSecond / 1000.0;

// Parses args into out; returns an empty string or what is wrong.
std::string ParseArgs(std::span<const std::string> args, CommandLine& out) {
    if (std::string error = ParseCommandLine(kSpectrum, args, out); !error.empty()) return error;
    if (out.Files.empty()) return "no FILE given";
    if (out.Files.size() > 1) return "spectrum takes one FILE";
    if (!out.AtSec) return "no moment given (--at SECONDS)";
    if (out.Mix.HighestSlot() > 0) return "the FILE is in slot 0; no other slot holds one";
    return {};
}

// The latest moment --at may name for a file of fileFrames, whole milliseconds.
double MaxAtSec(int64_t fileFrames) {
    return std::floor(static_cast<double>(kMaxAtLengths * fileFrames) / kFramesPerMs) / 1000.0;
}

// Renders blocks until the one holding frame atFrame is the block being heard, then sets the
// clock to the moment within it; returns the spectrum then.
std::vector<float> SpectrumAt(TOggPlayer& mixer, int64_t atFrame) {
    const int64_t blockFrames = BytesToFrames(mixer.BlockBytes());
    const int64_t heardBlock = atFrame / blockFrames;
    Progress progress(atFrame);
    test_clock::Pin(kRenderClockMs);
    // The block heard is the one before the block rendered last.
    for (int64_t block = 0; block <= heardBlock + 1; ++block) {
        mixer.RenderNext();
        progress.Update(block * blockFrames);
    }
    // The clock counts whole milliseconds, so the moment lands within half a millisecond.
    const auto intoBlockMs =
        std::llround(static_cast<double>(atFrame % blockFrames) / kFramesPerMs);
    test_clock::Pin(kRenderClockMs + intoBlockMs);
    std::vector<float> values(kSpectrumValueCount, 0.0f);
    mixer.GetMixSpectrum(values.data());
    test_clock::Unpin();
    return values;
}

int Run(std::span<const std::string> argv) {
    CommandLine args;
    if (const std::string error = ParseArgs(argv, args); !error.empty())
        return UsageError("spectrum", error);
    if (!BindDecoderBesideExecutable()) return kExitFailure;
    const std::vector<std::unique_ptr<TOggData>> streams =
        LoadStreamFiles(args.Files, kMixBufferBytes, args.Mix.Resample);
    if (streams.empty()) return kExitFailure;
    if (const double maxAtSec = MaxAtSec(OutputFrames(*streams.front())); *args.AtSec > maxAtSec) {
        char bound[128];
        std::snprintf(bound, sizeof bound, "--at is at most %.3f s, 10 times the file's length",
                      maxAtSec);
        return UsageError("spectrum", bound);
    }

    TOggPlayer mixer(kMixBufferBytes, kMixSlots);
    mixer.SetSlot(0, streams.front().get(), true);
    ApplyMixOptions(args.Mix, mixer);
    mixer.Play(0, !args.Mix.NoLoop);
    const std::vector<float> values =
        SpectrumAt(mixer, std::llround(*args.AtSec * kFramesPerSecond));

    for (const float value : values) std::printf("%.6g\n", static_cast<double>(value));
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

const bool kRegistered = RegisterCommand(
    {"spectrum", kSpectrum, "oggmix-cli spectrum [OPTIONS] FILE --at SECONDS",
     "plays FILE through the mixer (slot 0, looping) up to SECONDS and prints the 256\n"
     "values of the mix spectrum of the frames heard then, one per line",
     Run, nullptr});

}  // namespace
}  // namespace oggmix::cli
