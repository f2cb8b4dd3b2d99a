// FFTLib.cpp: the tables and the radix-2 transform. Each table value is computed in double and
// rounded to float once where it is stored; the transform itself is float, step by step.
#include "stream/FFTLib.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/Exceptions.h"

namespace oggmix {
namespace {

constexpr double kSinTablePi = 3.141592;  // the table's own value of pi
constexpr double kWindowPi = 3.14159265;  // the window's
constexpr double kWeightExponent = 0.85;
constexpr double kWeightFloor = 0.025;
constexpr double kWeightScale = 150.0;

bool IsPowerOfTwo(int32_t n) { return n > 0 && (n & (n - 1)) == 0; }

void MultiplyBy(std::vector<float>& values, const std::vector<float>& factors) {
    for (size_t i = 0; i < values.size(); ++i) values[i] = values[i] * factors[i];
}

}  // namespace

TFFT::TFFT(int32_t Size) { SetSize(Size); }

void TFFT::SetSize(int32_t Size) {
    if (Size < 4 || !IsPowerOfTwo(Size))
        throw ERangeError("transform size must be a power of two of at least 4");
    FSize = Size;
    Re.assign(static_cast<size_t>(Size), 0.0f);
    Im.assign(static_cast<size_t>(Size), 0.0f);
    MakeSinTable();
    MakeBitReverse();
    MakeWindow();
    MakeWeight();
    MakePlan();
}

void TFFT::MakeSinTable() {
    const int32_t n = FSize;
    const int32_t quarter = n / 4;
    const int32_t half = n / 2;
    const int32_t eighth = n / 8;
    FSinTable.assign(static_cast<size_t>(3 * n / 4), 0.0f);

    // Cosine and sine walk the first quarter wave together from both ends, so the table needs
    // no sine call per entry; the rest follows by symmetry.
    const auto t = static_cast<float>(std::sin(kSinTablePi / n));
    auto dc = static_cast<float>(2.0 * t * t);
    auto ds = static_cast<float>(std::sqrt((2.0 - dc) * dc));
    const auto t2 = static_cast<float>(2.0 * dc);
    FSinTable[quarter] = 1.0f;
    FSinTable[0] = 0.0f;
    float c = 1.0f;
    float s = 0.0f;
    for (int32_t i = 1; i < eighth; ++i) {
        c = static_cast<float>(static_cast<double>(c) - dc);
        dc = static_cast<float>(dc + static_cast<double>(t2) * c);
        s = static_cast<float>(static_cast<double>(s) + ds);
        ds = static_cast<float>(ds - static_cast<double>(t2) * s);
        FSinTable[i] = s;
        FSinTable[quarter - i] = c;
    }
    if (eighth != 0) FSinTable[eighth] = static_cast<float>(std::sqrt(0.5));
    for (int32_t i = 0; i < quarter; ++i) {
        FSinTable[half - i] = FSinTable[i];
        FSinTable[half + i] = -FSinTable[i];
    }
}

void TFFT::MakeBitReverse() {
    const int32_t n = FSize;
    FBitRev.assign(static_cast<size_t>(n), 0);
    int32_t i = 0;
    int32_t j = 0;
    for (;;) {
        FBitRev[i] = j;
        if (++i >= n) break;
        int32_t k = n / 2;
        while (k <= j) {
            j -= k;
            k /= 2;
        }
        j += k;
    }
}

void TFFT::MakeWindow() {
    const int32_t n = FSize;
    FWindow.assign(static_cast<size_t>(n), 0.0f);
    FInvWindow.assign(static_cast<size_t>(n), 0.0f);
    for (int32_t i = 0; i < n; ++i) {
        const auto u = static_cast<float>(i - n / 2.0);
        FWindow[i] = static_cast<float>(std::cos(kWindowPi * u / n) * 0.5 + 0.5);
        FInvWindow[i] = static_cast<float>(1.0 / FWindow[i]);
    }
}

void TFFT::MakeWeight() {
    const int32_t n = FSize;
    const int32_t half = n / 2;
    FWeight.assign(static_cast<size_t>(n), 0.0f);
    for (int32_t i = 0; i < half; ++i) {
        auto v = static_cast<float>(
            i == 0 ? 0.0 : std::pow(static_cast<double>(i) / half, kWeightExponent));
        v = static_cast<float>(v + (1.0 - v) * kWeightFloor);
        FWeight[i] = static_cast<float>(v / kWeightScale);
    }
    for (int32_t j = 0; j < half; ++j) FWeight[n - 1 - j] = FWeight[j];
}

void TFFT::MakePlan() {
    const int32_t n = FSize;
    const int32_t half = n / 2;
    int32_t stages = 0;
    while ((int32_t{1} << stages) < n) ++stages;
    const size_t twiddles = static_cast<size_t>(stages) * static_cast<size_t>(half);
    constexpr size_t kAlignFloats = 64 / sizeof(float);
    FKernelData.assign(3 * twiddles + 7 * static_cast<size_t>(n) + kAlignFloats, 0.0f);
    const auto misalignedBytes = reinterpret_cast<uintptr_t>(FKernelData.data()) % 64;
    float* const start =
        FKernelData.data() + (misalignedBytes == 0 ? 0 : (64 - misalignedBytes) / sizeof(float));
    float* const cosines = start;
    float* const forwardSines = cosines + twiddles;
    float* const backwardSines = forwardSines + twiddles;

    // Stage k (pairs k apart) uses twiddle j = 0..k-1 at sine-table step h = j * n / 2k, for
    // n / 2k butterflies each: the entry of result e is that of j = e / (n / 2k).
    size_t index = 0;
    for (int32_t k = 1; k < n; k *= 2) {
        const int32_t perTwiddle = n / (2 * k);
        for (int32_t e = 0; e < half; ++e, ++index) {
            const int32_t h = e / perTwiddle * perTwiddle;
            cosines[index] = FSinTable[h + n / 4];
            forwardSines[index] = -FSinTable[h];
            backwardSines[index] = FSinTable[h];
        }
    }
    float* const window = backwardSines + twiddles;
    std::copy(FWindow.begin(), FWindow.end(), window);
    FPlan = {n,       stages,       FSinTable.data(), FBitRev.data(), window,
             cosines, forwardSines, backwardSines,    window + n};
}

void TFFT::Forward() noexcept { Kernels().Transform(FPlan, Re.data(), Im.data(), true); }
void TFFT::Backward() noexcept { Kernels().Transform(FPlan, Re.data(), Im.data(), false); }
void TFFT::FilterTransform(float* FrameRe, float* FrameIm, const float* BinGain) noexcept {
    Kernels().FilterTransform(FPlan, FrameRe, FrameIm, BinGain);
}
void TFFT::ApplyWindow() noexcept {
    MultiplyBy(Re, FWindow);
    MultiplyBy(Im, FWindow);
}
void TFFT::RemoveWindow() noexcept {
    MultiplyBy(Re, FInvWindow);
    MultiplyBy(Im, FInvWindow);
}
void TFFT::ApplyWeight() noexcept {
    MultiplyBy(Re, FWeight);
    MultiplyBy(Im, FWeight);
}

void TFFT::AnalyseSpectrum(float* Values) noexcept {
    ApplyWindow();
    Forward();
    ApplyWeight();
    // Entries 2j and 2j + 1 come from bins j and N - 1 - j, so the array rises through the
    // frequencies with both halves of the transform interleaved.
    const int32_t half = FSize / 2;
    for (int32_t j = 0; j < half; ++j) {
        const int32_t mirror = FSize - 1 - j;
        Values[2 * j] = (std::fabs(Re[j]) + std::fabs(Im[j])) * 0.5f;
        Values[2 * j + 1] = (std::fabs(Re[mirror]) + std::fabs(Im[mirror])) * 0.5f;
    }
}

void TFFT::ClipSamples() noexcept {
    for (std::vector<float>* part : {&Re, &Im}) {
        for (float& v : *part) {
            if (v > 32767.0f) v = 32767.0f;
            if (!(v >= -32767.0f)) v = -32767.0f;
        }
    }
}

}  // namespace oggmix
