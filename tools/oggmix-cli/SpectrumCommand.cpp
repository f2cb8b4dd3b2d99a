// SpectrumCommand.cpp: `oggmix-cli spectrum`: plays a file through the mixer offline up to a
// moment and prints the mix spectrum of the frames heard then, as the display would see it.
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/PcmFormat.h"
#include "mixer/OggPlayerLib.h"
#include "stream/OggDataLib.h"
#include "tools/oggmix-cli/Command.h"
#include "tools/oggmix-cli/MixOptions.h"
#include "tools/oggmix-cli/StreamFiles.h"

namespace oggmix::cli {
namespace {

constexpr double kMaxAtSec = 24.0 * 3600.0;
// Any moment will do: the clock is pinned while the file renders, so that the mixer's
// estimate of the frame being heard follows the rendered audio, not the wall clock.
constexpr int64_t kRenderClockMs = 1000000;
constexpr double kFramesPerMs = kFramesPerSecond / 1000.0;

struct SpectrumArgs {
    std::string File;
    std::optional<double> AtSec;
    MixOptions Mix;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "oggmix-cli spectrum: %s\n", message.c_str());
    PrintUsage();
    return kExitUsage;
}

std::optional<double> ParseAt(const std::string& text) {
    size_t used = 0;
    double seconds = 0.0;
    try {
        seconds = std::stod(text, &used);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (used != text.size() || !(seconds >= 0.0) || seconds > kMaxAtSec) return std::nullopt;
    return seconds;
}

// One argument that is not a mix option; returns an empty string or what is wrong.
std::string ParseOther(std::span<const std::string> args, size_t& i, SpectrumArgs& out) {
    const std::string& arg = args[i];
    if (arg == "--at" || arg.starts_with("--at=")) {
        std::string value;
        if (arg != "--at") {
            value = arg.substr(5);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return "--at needs a number of seconds";
        }
        out.AtSec = ParseAt(value);
        if (!out.AtSec) return "--at expects a number of seconds, 0 to 86400";
    } else if (arg.size() > 1 && arg[0] == '-') {
        return "unknown option " + arg;
    } else if (out.File.empty()) {
        out.File = arg;
    } else {
        return "spectrum takes one FILE";
    }
    return {};
}

// Parses args into out; returns an empty string or what is wrong.
std::string ParseArgs(std::span<const std::string> args, SpectrumArgs& out) {
    const std::string error = ParseArguments(
        args, out.Mix,
        [&out](std::span<const std::string> all, size_t& i) { return ParseOther(all, i, out); });
    if (!error.empty()) return error;
    if (out.File.empty()) return "no FILE given";
    if (!out.AtSec) return "no moment given (--at SECONDS)";
    if (out.Mix.Seconds) return "--seconds does not apply: the moment is --at";
    if (out.Mix.HighestSlot() > 0) return "the FILE is in slot 0; no other slot holds one";
    return {};
}

// Renders blocks until the one holding frame atFrame is the block being heard, then sets the
// clock to the moment within it; returns the spectrum then.
std::vector<float> SpectrumAt(TOggPlayer& mixer, int64_t atFrame) {
    const int64_t blockFrames = BytesToFrames(mixer.BlockBytes());
    const int64_t heardBlock = atFrame / blockFrames;
    test_clock::Pin(kRenderClockMs);
    // The block heard is the one before the block rendered last.
    for (int64_t block = 0; block <= heardBlock + 1; ++block) mixer.RenderNext();
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
    SpectrumArgs args;
    if (const std::string error = ParseArgs(argv, args); !error.empty()) return UsageError(error);
    if (!BindDecoderBesideExecutable()) return kExitFailure;
    const std::vector<std::unique_ptr<TOggData>> streams =
        LoadStreamFiles({args.File}, kMixBufferBytes, args.Mix.Resample);
    if (streams.empty()) return kExitFailure;

    TOggPlayer mixer(kMixBufferBytes, kMixSlots);
    mixer.SetSlot(0, streams.front().get(), true);
    ApplyMixOptions(args.Mix, mixer);
    mixer.Play(0, !args.Mix.NoLoop);
    const std::vector<float> values =
        SpectrumAt(mixer, std::llround(*args.AtSec * kFramesPerSecond));

    for (const float value : values) std::printf("%.6g\n", static_cast<double>(value));
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

const std::string kUsage = std::string(
    "  oggmix-cli spectrum [OPTIONS] FILE --at SECONDS\n"
    "      plays FILE through the mixer (slot 0, looping) up to SECONDS and prints the 256\n"
    "      values of the mix spectrum of the frames heard then, one per line; takes the\n"
    "      mix options of render (--resample too), except --seconds\n");

const bool kRegistered = RegisterCommand({"spectrum", 40, kUsage.c_str(), Run});

}  // namespace
}  // namespace oggmix::cli
