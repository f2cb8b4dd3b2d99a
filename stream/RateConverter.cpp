// RateConverter.cpp: the libsoxr state, its warm-up and history priming, fixed-size calls
// through two small buffers, and the accounts of music inside.
#include "stream/RateConverter.h"

#include <soxr.h>

#include <algorithm>
#include <cstring>
#include <numeric>

#include "base/Exceptions.h"
#include "base/PcmFormat.h"
#include "stream/RenderKernels.h"

namespace oggmix {
namespace {

// Enough history for the longest filter libsoxr's high-quality setting builds, in seconds.
constexpr double kPrimeSec = 0.05;
// Calls of silence after which libsoxr's buffers have reached their size for every rate
// from 8000 to 192000 Hz (measured: at most 64 are needed).
constexpr int64_t kWarmUpSteps = 128;
constexpr std::array<int16_t, 1024 * kChannelsPerFrame> kSilence{};

soxr_t CreateState(int32_t sourceRateHz, int32_t channels) {
    soxr_error_t error = nullptr;
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    // Rounded, not dithered: the same input gives the same output every time.
    io.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_t state = soxr_create(sourceRateHz, kFramesPerSecond, static_cast<unsigned>(channels),
                               &error, &io, &quality, nullptr);
    if (error != nullptr || state == nullptr) {
        soxr_delete(state);
        throw ERangeError("ファイルの読み込みに失敗");
    }
    return state;
}

// Output frames that sourceFrames of music become, rounded up.
int64_t OutputFramesFor(int64_t sourceFrames, int32_t rateHz) noexcept {
    return (sourceFrames * kFramesPerSecond + rateHz - 1) / rateHz;
}

}  // namespace

void RateConverter::SoxrDeleter::operator()(::soxr* state) const noexcept { soxr_delete(state); }

RateConverter::RateConverter(int32_t sourceRateHz, int32_t sourceChannels)
    : FSourceRateHz(sourceRateHz),
      FChannels(sourceChannels == 1 ? 1 : 2),
      FPrimeFrames(static_cast<int32_t>(kPrimeSec * sourceRateHz)) {
    Restart(0);
}

RateConverter::~RateConverter() = default;

void RateConverter::Restart(int64_t historyFrames) {
    FState.reset(CreateState(FSourceRateHz, FChannels));
    FStepFrames = 0;
    FOutputBegin = 0;
    FOutputEnd = 0;
    FFedFrames = 0;
    // The warm-up silence is a whole number of output frames long where the rates allow it
    // (the music after it then lies on the same output grid as after a fresh start), and
    // otherwise at most one source second.
    const int64_t gridFrames = FSourceRateHz / std::gcd(FSourceRateHz, kFramesPerSecond);
    const int64_t warmUpFrames =
        (kWarmUpSteps * kStepFrames + gridFrames - 1) / gridFrames * gridFrames;
    // The output count starts below zero by the warm-up's output, so it is zero where the
    // music's history begins.
    FDropFrames = warmUpFrames * kFramesPerSecond / FSourceRateHz;
    FOutFrames = -FDropFrames;
    for (int64_t fed = 0; fed < warmUpFrames;) {
        const auto n = static_cast<size_t>(
            std::min<int64_t>(warmUpFrames - fed, kSilence.size() / kChannelsPerFrame));
        const int32_t taken = Feed(std::span(kSilence).first(n * kChannelsPerFrame), false);
        Take({});
        if (taken == 0 && FOutputBegin != FOutputEnd) break;  // a stall guard: drops cover it
        fed += taken;
    }
    // Rounded up, so the first frame kept is at or just after the end of the history.
    FDropFrames += OutputFramesFor(historyFrames, FSourceRateHz);
}

int32_t RateConverter::Feed(std::span<const int16_t> Input, bool countAsMusic) noexcept {
    const int32_t frames =
        std::min(kStepFrames - FStepFrames, static_cast<int32_t>(Input.size() / kChannelsPerFrame));
    if (FChannels == kChannelsPerFrame) {
        std::memcpy(FStep.data() + FStepFrames * kChannelsPerFrame, Input.data(),
                    static_cast<size_t>(frames) * kChannelsPerFrame * sizeof(int16_t));
    } else {
        for (int32_t f = 0; f < frames; ++f) FStep[FStepFrames + f] = Input[2 * f];
    }
    FStepFrames += frames;
    if (countAsMusic) FFedFrames += frames;
    if (FStepFrames == kStepFrames && FOutputBegin == FOutputEnd) {
        size_t consumed = 0;
        size_t produced = 0;
        // Room for everything one step can give, so libsoxr always takes the whole step.
        soxr_process(FState.get(), FStep.data(), kStepFrames, &consumed, FOutput.data(),
                     kOutputFrames, &produced);
        FStepFrames = 0;
        FOutputBegin = 0;
        FOutputEnd = static_cast<int32_t>(produced);
    }
    return frames;
}

int32_t RateConverter::Take(std::span<int16_t> Output) noexcept {
    // Output owed to a restart's history or warm-up is dropped first.
    const auto drop =
        static_cast<int32_t>(std::min<int64_t>(FDropFrames, FOutputEnd - FOutputBegin));
    FOutputBegin += drop;
    FDropFrames -= drop;
    FOutFrames += drop;
    const int32_t frames = std::min(FOutputEnd - FOutputBegin,
                                    static_cast<int32_t>(Output.size() / kChannelsPerFrame));
    if (frames == 0) return 0;  // Output may be empty, with no memory behind it
    if (FChannels == kChannelsPerFrame) {
        std::memcpy(Output.data(), FOutput.data() + FOutputBegin * kChannelsPerFrame,
                    static_cast<size_t>(frames) * kChannelsPerFrame * sizeof(int16_t));
    } else {
        // A converted mono frame goes out on both sides.
        Kernels().ExpandFrames(Output.data(), FOutput.data() + FOutputBegin, frames, 1, 1);
    }
    FOutputBegin += frames;
    FOutFrames += frames;
    return frames;
}

ConverterStep RateConverter::Process(std::span<const int16_t> Input,
                                     std::span<int16_t> Output) noexcept {
    ConverterStep total;
    for (;;) {
        const int32_t out =
            Take(Output.subspan(static_cast<size_t>(total.ProducedFrames) * kChannelsPerFrame));
        total.ProducedFrames += out;
        const auto room =
            Output.size() / kChannelsPerFrame - static_cast<size_t>(total.ProducedFrames);
        const auto rest =
            Input.subspan(static_cast<size_t>(total.ConsumedFrames) * kChannelsPerFrame);
        if (room == 0 || rest.empty() || FOutputBegin != FOutputEnd) return total;
        total.ConsumedFrames += Feed(rest, true);
    }
}

int32_t RateConverter::Finish(std::span<int16_t> Output) noexcept {
    // The silence is not music: it moves the filter on without counting as fed. The bound
    // covers libsoxr's longest latency many times over.
    constexpr int kMaxSteps = 256;
    for (int i = 0; i < kMaxSteps; ++i) {
        const int64_t owed = OutputFramesFor(FFedFrames, FSourceRateHz) - FOutFrames;
        if (owed <= 0) return 0;
        const auto room = static_cast<size_t>(
            std::min<int64_t>(owed, static_cast<int64_t>(Output.size()) / kChannelsPerFrame));
        const int32_t out = Take(Output.first(room * kChannelsPerFrame));
        if (out > 0) return out;
        Feed(kSilence, false);
    }
    return 0;
}

double RateConverter::OutputFedFrames() const noexcept {
    return static_cast<double>(FOutFrames + FDropFrames) * FSourceRateHz / kFramesPerSecond;
}

double RateConverter::LagSec() const noexcept {
    return static_cast<double>(FFedFrames) / FSourceRateHz -
           static_cast<double>(FOutFrames + FDropFrames) / kFramesPerSecond;
}

}  // namespace oggmix
