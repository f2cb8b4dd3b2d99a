// RenderKernels_Sse2.cpp: the SSE2 table, four floats or 32-bit values at a time. SSE2 is part
// of x86-64, so this file needs no special compiler flags; the wider tables take their
// integer kernels from here.
#include <emmintrin.h>

#include <cstddef>

#include "stream/RenderKernels_Vector.h"

namespace oggmix {
namespace {

struct Sse2F {
    using Vec = __m128;
    using Mask = __m128;
    static constexpr int32_t kWidth = 4;
    static Vec Load(const float* p) { return _mm_loadu_ps(p); }
    static void Store(float* p, Vec v) { _mm_storeu_ps(p, v); }
    static Vec Set1(float x) { return _mm_set1_ps(x); }
    static Vec Add(Vec a, Vec b) { return _mm_add_ps(a, b); }
    static Vec Sub(Vec a, Vec b) { return _mm_sub_ps(a, b); }
    static Vec Mul(Vec a, Vec b) { return _mm_mul_ps(a, b); }
    static Vec Abs(Vec v) { return _mm_andnot_ps(_mm_set1_ps(-0.0f), v); }
    static Mask GreaterEqual(Vec a, Vec b) { return _mm_cmpge_ps(a, b); }
    static Mask Greater(Vec a, Vec b) { return _mm_cmpgt_ps(a, b); }
    static Mask NotEqual(Vec a, Vec b) { return _mm_cmpneq_ps(a, b); }
    static Mask Or(Mask a, Mask b) { return _mm_or_ps(a, b); }
    static bool Any(Mask mask) { return _mm_movemask_ps(mask) != 0; }
    static Vec Select(Mask mask, Vec t, Vec f) {
        return _mm_or_ps(_mm_and_ps(mask, t), _mm_andnot_ps(mask, f));
    }
    struct Unzipper {
        explicit Unzipper(int32_t m) : Pairs(m == 2) {}
        void operator()(Vec y0, Vec y1, Vec& a, Vec& b) const {
            if (Pairs) {
                a = _mm_movelh_ps(y0, y1);
                b = _mm_movehl_ps(y1, y0);
            } else {
                a = _mm_shuffle_ps(y0, y1, _MM_SHUFFLE(2, 0, 2, 0));
                b = _mm_shuffle_ps(y0, y1, _MM_SHUFFLE(3, 1, 3, 1));
            }
        }
        bool Pairs;  // m = 2; otherwise m = 1
    };
};

__m128i SignExtendLow16(__m128i v) { return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16); }
__m128i Abs32(__m128i v) {
    const __m128i sign = _mm_srai_epi32(v, 31);
    return _mm_sub_epi32(_mm_xor_si128(v, sign), sign);
}
__m128i Max32(__m128i a, __m128i b) {
    const __m128i greater = _mm_cmpgt_epi32(a, b);
    return _mm_or_si128(_mm_and_si128(greater, a), _mm_andnot_si128(greater, b));
}
int32_t HorizontalMax32(__m128i v) {
    v = Max32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = Max32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(v);
}
// Value x Q8 gain / 256, truncated toward zero: the arithmetic shift rounds down, so a
// negative product first gets 255 added.
__m128i DivideBy256(__m128i product) {
    const __m128i bias = _mm_and_si128(_mm_srai_epi32(product, 31), _mm_set1_epi32(255));
    return _mm_srai_epi32(_mm_add_epi32(product, bias), 8);
}

void Round(const float* re, const float* im, const float* invWindow, int16_t* frames) {
    const __m128 high = _mm_set1_ps(32767.0f);
    const __m128 low = _mm_set1_ps(-32767.0f);
    const __m128 window = _mm_loadu_ps(invWindow);
    __m128i rounded[2];
    const float* parts[2] = {re, im};
    for (int part = 0; part < 2; ++part) {
        __m128 v = _mm_mul_ps(_mm_loadu_ps(parts[part]), window);
        // min(high, v) keeps a NaN (it returns its second operand then); max(v, low) then
        // turns it into low, as the scalar clip does.
        v = _mm_max_ps(_mm_min_ps(high, v), low);
        // Half away from zero: see kJustBelowHalf.
        const __m128 signedHalf =
            _mm_or_ps(_mm_and_ps(v, _mm_set1_ps(-0.0f)), _mm_set1_ps(kJustBelowHalf));
        rounded[part] = _mm_cvttps_epi32(_mm_add_ps(v, signedHalf));
    }
    const __m128i lo = _mm_unpacklo_epi32(rounded[0], rounded[1]);
    const __m128i hi = _mm_unpackhi_epi32(rounded[0], rounded[1]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(frames), _mm_packs_epi32(lo, hi));
}

void Sse2LoadFrames(const int16_t* frames, int32_t count, float* re, float* im) noexcept {
    int32_t j = 0;
    for (; j + 4 <= count; j += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frames + 2 * j));
        _mm_storeu_ps(re + j, _mm_cvtepi32_ps(_mm_srai_epi32(_mm_slli_epi32(v, 16), 16)));
        _mm_storeu_ps(im + j, _mm_cvtepi32_ps(_mm_srai_epi32(v, 16)));
    }
    ScalarKernels().LoadFrames(frames + 2 * j, count - j, re + j, im + j);
}

void Sse2EmitFrames(const float* re, const float* im, const float* invWindow, int32_t count,
                    int16_t* frames) noexcept {
    int32_t j = 0;
    for (; j + 4 <= count; j += 4) Round(re + j, im + j, invWindow + j, frames + 2 * j);
    ScalarKernels().EmitFrames(re + j, im + j, invWindow + j, count - j, frames + 2 * j);
}

AgcRun Sse2AgcSteadyRun(int16_t* samples, int32_t count, float gain, int32_t target,
                        int32_t quietLevel) noexcept {
    const __m128d vGain = _mm_set1_pd(gain);
    const __m128d vTarget = _mm_set1_pd(target);
    const __m128d signBit = _mm_set1_pd(-0.0);
    const __m128i vQuiet = _mm_set1_epi32(quietLevel);
    __m128d peak = _mm_setzero_pd();
    AgcRun run;
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i in =
            SignExtendLow16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + i)));
        // The products are exact in double, as the scalar path forms them.
        const __m128d p0 = _mm_mul_pd(_mm_cvtepi32_pd(in), vGain);
        const __m128d p1 =
            _mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(in, _MM_SHUFFLE(1, 0, 3, 2))), vGain);
        const __m128d a0 = _mm_andnot_pd(signBit, p0);
        const __m128d a1 = _mm_andnot_pd(signBit, p1);
        const int below = _mm_movemask_pd(_mm_cmplt_pd(a0, vTarget)) |
                          (_mm_movemask_pd(_mm_cmplt_pd(a1, vTarget)) << 2);
        if (below != 0xF) break;
        // Below the target, so within 32 bits: truncation is exact, the pack saturates.
        const __m128i out = _mm_unpacklo_epi64(_mm_cvttpd_epi32(p0), _mm_cvttpd_epi32(p1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(samples + i), _mm_packs_epi32(out, out));
        peak = _mm_max_pd(peak, _mm_max_pd(a0, a1));
        const int quiet = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmplt_epi32(Abs32(in), vQuiet)));
        if (quiet == 0xF) {
            run.QuietTail += 4;
        } else {
            const int highestLoud = 31 - __builtin_clz(static_cast<unsigned>(~quiet & 0xF));
            run.QuietTail = 3 - highestLoud;
        }
    }
    run.Samples = i;
    const __m128d top = _mm_max_pd(peak, _mm_unpackhi_pd(peak, peak));
    run.PeakMagnitude = _mm_cvttsd_si32(top);
    return run;
}

void Sse2ExpandFrames(int16_t* dest, const int16_t* source, int32_t sourceFrames, int32_t channels,
                      int32_t repeat) noexcept {
    // Eight samples in: as eight, sixteen or thirty-two samples out.
    const int32_t framesPerVector = 8 / channels;
    int32_t f = 0;
    for (; f + framesPerVector <= sourceFrames; f += framesPerVector) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + f * channels));
        auto* out = reinterpret_cast<__m128i*>(dest + 2 * repeat * f);
        if (channels == 2 && repeat == 1) {
            _mm_storeu_si128(out, v);
            continue;
        }
        if (channels == 2) {  // each frame twice
            _mm_storeu_si128(out, _mm_unpacklo_epi32(v, v));
            _mm_storeu_si128(out + 1, _mm_unpackhi_epi32(v, v));
            continue;
        }
        const __m128i lo = _mm_unpacklo_epi16(v, v);  // samples 0-3, each on both sides
        const __m128i hi = _mm_unpackhi_epi16(v, v);
        if (repeat == 1) {
            _mm_storeu_si128(out, lo);
            _mm_storeu_si128(out + 1, hi);
        } else {
            _mm_storeu_si128(out, _mm_unpacklo_epi32(lo, lo));
            _mm_storeu_si128(out + 1, _mm_unpackhi_epi32(lo, lo));
            _mm_storeu_si128(out + 2, _mm_unpacklo_epi32(hi, hi));
            _mm_storeu_si128(out + 3, _mm_unpackhi_epi32(hi, hi));
        }
    }
    ScalarKernels().ExpandFrames(dest + 2 * repeat * f, source + f * channels, sourceFrames - f,
                                 channels, repeat);
}

__m128i Gains16(int32_t gainL, int32_t gainR) {
    const auto l = static_cast<int16_t>(gainL);
    const auto r = static_cast<int16_t>(gainR);
    return _mm_setr_epi16(l, r, l, r, l, r, l, r);
}

// Four frames times their gains, / 256: the first two frames' values, then the last two's.
void ScaleFourFrames(const int16_t* source, __m128i gains, __m128i& first, __m128i& second) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
    const __m128i lo = _mm_mullo_epi16(v, gains);
    const __m128i hi = _mm_mulhi_epi16(v, gains);
    first = DivideBy256(_mm_unpacklo_epi16(lo, hi));
    second = DivideBy256(_mm_unpackhi_epi16(lo, hi));
}

void Sse2VolumeWide(int32_t* dest, const int16_t* source, int32_t frames, int32_t gainL,
                    int32_t gainR) noexcept {
    const __m128i gains = Gains16(gainL, gainR);
    int32_t f = 0;
    for (; f + 4 <= frames; f += 4) {
        __m128i first, second;
        ScaleFourFrames(source + 2 * f, gains, first, second);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 2 * f), first);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 2 * f + 4), second);
    }
    ScalarKernels().VolumeWide(dest + 2 * f, source + 2 * f, frames - f, gainL, gainR);
}

void Sse2VolumeNarrow(int16_t* dest, const int16_t* source, int32_t frames, int32_t gainL,
                      int32_t gainR) noexcept {
    const __m128i gains = Gains16(gainL, gainR);
    const __m128i floor = _mm_set1_epi16(-32767);
    int32_t f = 0;
    for (; f + 4 <= frames; f += 4) {
        __m128i first, second;
        ScaleFourFrames(source + 2 * f, gains, first, second);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 2 * f),
                         _mm_max_epi16(_mm_packs_epi32(first, second), floor));
    }
    ScalarKernels().VolumeNarrow(dest + 2 * f, source + 2 * f, frames - f, gainL, gainR);
}

bool Sse2MixAdd(int32_t* sum, const int32_t* source, int32_t count) noexcept {
    __m128i wrapped = _mm_setzero_si128();
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sum + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        const __m128i s = _mm_add_epi32(a, b);
        // Wrapped exactly when a and b share a sign that the sum lacks.
        wrapped = _mm_or_si128(wrapped, _mm_and_si128(_mm_xor_si128(a, s), _mm_xor_si128(b, s)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sum + i), s);
    }
    const bool any = _mm_movemask_ps(_mm_castsi128_ps(wrapped)) != 0;
    return ScalarKernels().MixAdd(sum + i, source + i, count - i) || any;
}

int32_t Sse2PeakMagnitude(const int32_t* values, int32_t count) noexcept {
    __m128i peak = _mm_setzero_si128();
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i magnitude =
            Abs32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i)));
        // -2^31 has no positive 32-bit magnitude and stays negative; flip it to 2^31 - 1.
        peak = Max32(peak, _mm_xor_si128(magnitude, _mm_srai_epi32(magnitude, 31)));
    }
    const int32_t tail = ScalarKernels().PeakMagnitude(values + i, count - i);
    const int32_t head = HorizontalMax32(peak);
    return head > tail ? head : tail;
}

void Sse2ScaleQ8(int32_t* values, int32_t count, int32_t gainQ8) noexcept {
    // value x gain is exact in double (31 + 21 bits), and so is the division by 256; clamping
    // before truncating gives what truncating and then saturating gives.
    const __m128d gain = _mm_set1_pd(static_cast<double>(gainQ8) / 256.0);
    const __m128d high = _mm_set1_pd(2147483647.0);
    const __m128d low = _mm_set1_pd(-2147483648.0);
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i));
        __m128d d0 = _mm_mul_pd(_mm_cvtepi32_pd(v), gain);
        __m128d d1 =
            _mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2))), gain);
        d0 = _mm_max_pd(_mm_min_pd(d0, high), low);
        d1 = _mm_max_pd(_mm_min_pd(d1, high), low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(values + i),
                         _mm_unpacklo_epi64(_mm_cvttpd_epi32(d0), _mm_cvttpd_epi32(d1)));
    }
    ScalarKernels().ScaleQ8(values + i, count - i, gainQ8);
}

void Sse2ClipToNarrow(void* dest, const int32_t* values, int32_t count) noexcept {
    // Byte arithmetic: Dest need not be aligned for 16-bit values.
    auto* out = static_cast<std::byte*>(dest);
    const __m128i floor = _mm_set1_epi16(-32767);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i),
                         _mm_max_epi16(_mm_packs_epi32(a, b), floor));
    }
    ScalarKernels().ClipToNarrow(out + 2 * i, values + i, count - i);
}

}  // namespace

const RenderKernels& Sse2Kernels() noexcept {
    static const RenderKernels table{
        VectorTransform<Sse2F>,
        VectorFilterTransform<Sse2F>,
        VectorMoveCurve<Sse2F>,
        VectorCurveActive<Sse2F>,
        Sse2LoadFrames,
        Sse2EmitFrames,
        Sse2AgcSteadyRun,
        Sse2ExpandFrames,
        Sse2VolumeWide,
        Sse2VolumeNarrow,
        Sse2MixAdd,
        Sse2PeakMagnitude,
        Sse2ScaleQ8,
        Sse2ClipToNarrow,
    };
    return table;
}

}  // namespace oggmix
