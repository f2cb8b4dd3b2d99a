// FFTLib_bench.cpp: one transform pair, and the spectra of a stream and of the mix per call.
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "bench/BenchFiles.h"
#include "bench/BenchTable.h"
#include "mixer/OggPlayerLib.h"
#include "stream/FFTLib.h"
#include "stream/RenderKernels.h"
#include "stream/SimdLevel.h"
#include "tests/support/ScalarReference.h"
#include "tests/support/Signals.h"

namespace oggmix::bench {
namespace {

constexpr int32_t kPoints = 256;
constexpr int32_t kCallsPerUnit = 200;
constexpr int64_t kUnits = 500;

// Both transforms start from the same music; a pair gives the input back, so it stays music.
void FillWithMusic(TFFT& fft) {
    const test::Pcm pcm = test::Music(44100, 2, 0.1);
    for (int32_t i = 0; i < kPoints; ++i) {
        fft.Re[i] = pcm.Samples[2 * static_cast<size_t>(i) + 1000];
        fft.Im[i] = pcm.Samples[2 * static_cast<size_t>(i) + 1001];
    }
}

FigureWork TransformWork() {
    auto fft = std::make_shared<TFFT>(kPoints);
    auto reference = std::make_shared<TFFT>(kPoints);
    FillWithMusic(*fft);
    FillWithMusic(*reference);
    FigureWork work;
    work.Candidate = [fft] {
        fft->Forward();
        fft->Backward();
    };
    work.Baseline = [reference] {
        test::ReferenceTransform(*reference, reference->Re.data(), reference->Im.data(), true);
        test::ReferenceTransform(*reference, reference->Re.data(), reference->Im.data(), false);
    };
    return work;
}

// The same pair on the kernels of one level, whatever level is active.
FigureWork LevelTransformWork(SimdLevel level) {
    FigureWork work = TransformWork();
    auto fft = std::make_shared<TFFT>(kPoints);
    FillWithMusic(*fft);
    const RenderKernels& kernels = KernelsFor(level);
    work.Candidate = [fft, &kernels] {
        kernels.Transform(fft->Plan(), fft->Re.data(), fft->Im.data(), true);
        kernels.Transform(fft->Plan(), fft->Re.data(), fft->Im.data(), false);
    };
    return work;
}

FigureDef TransformDef(const std::string& name, const std::string& caption) {
    FigureDef def;
    def.Name = name;
    def.Caption = caption;
    def.BaselineText = "scalar reference";
    def.Unit = FigureUnit::Call;
    def.CallsPerUnit = kCallsPerUnit;
    def.Iterations = kUnits;
    return def;
}

// Runs call on the scalar kernels, then returns to the level in force.
template <class Call>
void OnScalarPaths(const Call& call) {
    const SimdLevel level = ActiveSimdLevel();
    SetSimdLevel(SimdLevel::Scalar);
    call();
    SetSimdLevel(level);
}

FigureWork StreamSpectrumWork() {
    // A pinned clock: the block just rendered is the one being heard, so there is always a
    // position to analyse.
    test_clock::Pin(1'000'000);
    std::shared_ptr<TOggData> stream = PlayingStream(StereoFile(), 10.0f);
    (void)stream->RenderNext(0);
    (void)stream->RenderNext(0);
    auto values = std::make_shared<std::array<float, kSpectrumValueCount>>();
    FigureWork work;
    work.Candidate = [stream, values] { stream->GetSpectrum(values->data()); };
    work.Baseline = [stream, values] {
        OnScalarPaths([&] { stream->GetSpectrum(values->data()); });
    };
    return work;
}

FigureWork MixSpectrumWork() {
    test_clock::Pin(1'000'000);
    struct Rig {
        std::unique_ptr<TOggData> Stream = PlayingStream(StereoFile(), 20.0f);
        TOggPlayer Player{kBufferBytes, 1};
        ~Rig() { Player.Reset(); }
    };
    auto rig = std::make_shared<Rig>();
    rig->Player.SetSlot(0, rig->Stream.get(), true);
    rig->Player.RenderNext();
    rig->Player.RenderNext();
    auto values = std::make_shared<std::array<float, kSpectrumValueCount>>();
    FigureWork work;
    work.Candidate = [rig, values] { rig->Player.GetMixSpectrum(values->data()); };
    work.Baseline = [rig, values] {
        OnScalarPaths([&] { rig->Player.GetMixSpectrum(values->data()); });
    };
    return work;
}

FigureDef SpectrumDef(const std::string& name, const std::string& caption) {
    FigureDef def = TransformDef(name, caption);
    def.BaselineText = "the same on the scalar kernels";
    return def;
}

}  // namespace

void AddTransformFigures() {
    AddFigure(TransformDef("transform/pair", "transform pair (Forward + Backward), 256 points"),
              TransformWork);
    for (const SimdLevel level : {SimdLevel::Scalar, SimdLevel::Sse2, SimdLevel::Avx2}) {
        if (static_cast<int32_t>(level) > static_cast<int32_t>(SupportedSimdLevel())) continue;
        const std::string name = SimdLevelName(level);
        AddFigure(TransformDef("transform/pair/" + name, "  the same on the " + name + " kernels"),
                  [level] { return LevelTransformWork(level); });
    }
    AddFigure(SpectrumDef("spectrum/stream", "GetSpectrum of a stream, per call"),
              StreamSpectrumWork);
    AddFigure(SpectrumDef("spectrum/mix", "GetMixSpectrum, per call"), MixSpectrumWork);
}

}  // namespace oggmix::bench
