// RateConverter.cpp: the libsoxr state, history priming, and the accounts of music inside.
#include "stream/RateConverter.h"

#include <soxr.h>

#include <algorithm>
#include <array>

#include "base/Exceptions.h"
#include "stream/PcmFormat.h"

namespace oggmix {
namespace {

constexpr int32_t kSamplesPerFrame = 2;
// Enough history for the longest filter libsoxr's high-quality setting builds, in seconds.
constexpr double kPrimeSec = 0.05;
// Silence pushed through by Finish, in source frames per call.
constexpr int32_t kSilenceFrames = 256;
constexpr std::array<int16_t, kSilenceFrames * kSamplesPerFrame> kSilence{};

soxr_t CreateState(int32_t sourceRateHz) {
    soxr_error_t error = nullptr;
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    // Rounded, not dithered: the same input gives the same output every time.
    io.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_t state = soxr_create(sourceRateHz, kFramesPerSecond, kSamplesPerFrame, &error, &io,
                               &quality, nullptr);
    if (error != nullptr || state == nullptr) {
        soxr_delete(state);
        throw ERangeError("ファイルの読み込みに失敗");
    }
    return state;
}

// Output frames that `sourceFrames` of music at `rateHz` become, to the nearest frame.
int64_t OutputFramesFor(int64_t sourceFrames, int32_t rateHz) noexcept {
    return (sourceFrames * kFramesPerSecond + rateHz / 2) / rateHz;
}

}  // namespace

void RateConverter::SoxrDeleter::operator()(::soxr* state) const noexcept {
    soxr_delete(state);
}

RateConverter::RateConverter(int32_t sourceRateHz)
    : FSourceRateHz(sourceRateHz),
      FPrimeFrames(static_cast<int32_t>(kPrimeSec * sourceRateHz)),
      FState(CreateState(sourceRateHz)) {}

RateConverter::~RateConverter() = default;

void RateConverter::Restart(int64_t primeFrames) {
    FState.reset(CreateState(FSourceRateHz));
    FFedFrames = 0;
    FOutFrames = 0;
    // Rounded up, so the first frame kept is at or just after the end of the history.
    FDropFrames = (primeFrames * kFramesPerSecond + FSourceRateHz - 1) / FSourceRateHz;
}

ConverterStep RateConverter::Step(std::span<const int16_t> Input,
                                  std::span<int16_t> Output) noexcept {
    size_t consumed = 0;
    size_t produced = 0;
    // A null input would mean the end of the signal to libsoxr, so an empty span still
    // passes a valid pointer.
    const int16_t* in = Input.empty() ? kSilence.data() : Input.data();
    soxr_process(FState.get(), in, Input.size() / kSamplesPerFrame, &consumed, Output.data(),
                 Output.size() / kSamplesPerFrame, &produced);
    FFedFrames += static_cast<int64_t>(consumed);
    FOutFrames += static_cast<int64_t>(produced);
    return {static_cast<int32_t>(consumed), static_cast<int32_t>(produced)};
}

ConverterStep RateConverter::Process(std::span<const int16_t> Input,
                                     std::span<int16_t> Output) noexcept {
    ConverterStep total;
    // Output owed to a restart's history is written and then overwritten.
    while (FDropFrames > 0) {
        const auto room = static_cast<size_t>(
            std::min<int64_t>(FDropFrames, static_cast<int64_t>(Output.size()) / 2));
        const ConverterStep step = Step(Input, Output.first(room * kSamplesPerFrame));
        Input = Input.subspan(static_cast<size_t>(step.ConsumedFrames) * kSamplesPerFrame);
        total.ConsumedFrames += step.ConsumedFrames;
        FDropFrames -= step.ProducedFrames;
        if (step.ConsumedFrames == 0 && step.ProducedFrames == 0) return total;
    }
    const ConverterStep step = Step(Input, Output);
    total.ConsumedFrames += step.ConsumedFrames;
    total.ProducedFrames = step.ProducedFrames;
    return total;
}

int32_t RateConverter::Finish(std::span<int16_t> Output) noexcept {
    // The silence is not music: it moves the filter on without counting as fed. The bound
    // covers libsoxr's longest latency many times over.
    constexpr int kMaxSteps = 256;
    const int64_t fedFrames = FFedFrames;
    for (int i = 0; i < kMaxSteps; ++i) {
        const int64_t owed = OutputFramesFor(fedFrames, FSourceRateHz) - FOutFrames;
        if (owed <= 0) break;
        // While a restart's history is still being dropped, its output is written over.
        const int64_t wanted = FDropFrames > 0 ? std::min(owed, FDropFrames) : owed;
        const auto room = static_cast<size_t>(
            std::min<int64_t>(wanted, static_cast<int64_t>(Output.size()) / kSamplesPerFrame));
        const ConverterStep step = Step(kSilence, Output.first(room * kSamplesPerFrame));
        FFedFrames = fedFrames;
        if (FDropFrames > 0) {
            FDropFrames -= step.ProducedFrames;
            continue;
        }
        if (step.ProducedFrames > 0) return step.ProducedFrames;
    }
    return 0;
}

double RateConverter::LagSec() const noexcept {
    return static_cast<double>(FFedFrames) / FSourceRateHz -
           static_cast<double>(FOutFrames + FDropFrames) / kFramesPerSecond;
}

}  // namespace oggmix
