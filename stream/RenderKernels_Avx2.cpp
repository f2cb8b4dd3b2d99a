// RenderKernels_Avx2.cpp: the AVX2 table, eight floats or 32-bit values at a time (short
// tails go to the SSE2 or scalar kernels). Compiled with -mavx2 (never -mfma: a fused
// multiply-add would round once where the scalar path rounds twice), and reached only on
// processors that run AVX2. Nothing here may use a template or inline function that other
// files use too (std::min, say): the linker could pick this file's AVX2 copy for all of them.
#include <immintrin.h>

#include <cstddef>

#include "stream/RenderKernels_Vector.h"

namespace oggmix {
namespace {

struct Avx2F {
    using Vec = __m256;
    using Mask = __m256;
    static constexpr int32_t kWidth = 8;
    static Vec Load(const float* p) { return _mm256_loadu_ps(p); }
    static void Store(float* p, Vec v) { _mm256_storeu_ps(p, v); }
    static Vec Set1(float x) { return _mm256_set1_ps(x); }
    static Vec Add(Vec a, Vec b) { return _mm256_add_ps(a, b); }
    static Vec Sub(Vec a, Vec b) { return _mm256_sub_ps(a, b); }
    static Vec Mul(Vec a, Vec b) { return _mm256_mul_ps(a, b); }
    static Vec Abs(Vec v) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), v); }
    static Mask GreaterEqual(Vec a, Vec b) { return _mm256_cmp_ps(a, b, _CMP_GE_OQ); }
    static Mask Greater(Vec a, Vec b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
    static Mask NotEqual(Vec a, Vec b) { return _mm256_cmp_ps(a, b, _CMP_NEQ_UQ); }
    static Mask Or(Mask a, Mask b) { return _mm256_or_ps(a, b); }
    static bool Any(Mask mask) { return _mm256_movemask_ps(mask) != 0; }
    static Vec Select(Mask mask, Vec t, Vec f) { return _mm256_blendv_ps(f, t, mask); }
    // Each input's a-blocks go to its low half and its b-blocks to its high half; then the
    // halves of the two inputs are joined.
    struct Unzipper {
        explicit Unzipper(int32_t m)
            : Regroup(m != 4),
              Order(m == 2 ? _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7)
                           : _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7)) {}
        void operator()(Vec y0, Vec y1, Vec& a, Vec& b) const {
            if (Regroup) {
                y0 = _mm256_permutevar8x32_ps(y0, Order);
                y1 = _mm256_permutevar8x32_ps(y1, Order);
            }
            a = _mm256_permute2f128_ps(y0, y1, 0x20);
            b = _mm256_permute2f128_ps(y0, y1, 0x31);
        }
        bool Regroup;  // m = 1 or 2; blocks of 4 are halves already
        __m256i Order;
    };
};

// Significant bits of a finite, normal float's significand; 24 for anything else.
int32_t SignificantBits(float value) {
    uint32_t bits = 0;
    __builtin_memcpy(&bits, &value, sizeof bits);
    const uint32_t exponent = (bits >> 23) & 0xFF;
    if (exponent == 0 || exponent == 0xFF) return 24;
    return 24 - __builtin_ctz((bits & 0x7FFFFF) | 0x800000);
}

// Sixteen samples levelled at the gain through doubles, where every product is exact, as the
// scalar path forms them. False, with nothing written, when one reaches the target.
bool LevelSixteenInDouble(int16_t* samples, __m256i in0, __m256i in1, __m256d gain, __m256d target,
                          __m256i& peak) {
    const __m256d signBit = _mm256_set1_pd(-0.0);
    __m256d p[4] = {_mm256_cvtepi32_pd(_mm256_castsi256_si128(in0)),
                    _mm256_cvtepi32_pd(_mm256_extracti128_si256(in0, 1)),
                    _mm256_cvtepi32_pd(_mm256_castsi256_si128(in1)),
                    _mm256_cvtepi32_pd(_mm256_extracti128_si256(in1, 1))};
    __m256d below = _mm256_castsi256_pd(_mm256_set1_epi32(-1));
    for (__m256d& product : p) {
        product = _mm256_mul_pd(product, gain);
        const __m256d magnitude = _mm256_andnot_pd(signBit, product);
        below = _mm256_and_pd(below, _mm256_cmp_pd(magnitude, target, _CMP_LT_OQ));
    }
    if (_mm256_movemask_pd(below) != 0xF) return false;
    // Below the target, so within 32 bits: truncation is exact, the pack saturates.
    const __m256i out0 = _mm256_setr_m128i(_mm256_cvttpd_epi32(p[0]), _mm256_cvttpd_epi32(p[1]));
    const __m256i out1 = _mm256_setr_m128i(_mm256_cvttpd_epi32(p[2]), _mm256_cvttpd_epi32(p[3]));
    const __m128i packed0 =
        _mm_packs_epi32(_mm256_castsi256_si128(out0), _mm256_extracti128_si256(out0, 1));
    const __m128i packed1 =
        _mm_packs_epi32(_mm256_castsi256_si128(out1), _mm256_extracti128_si256(out1, 1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(samples), _mm256_setr_m128i(packed0, packed1));
    peak = _mm256_max_epi32(peak, _mm256_max_epi32(_mm256_abs_epi32(out0), _mm256_abs_epi32(out1)));
    return true;
}

AgcRun Avx2AgcSteadyRun(int16_t* samples, int32_t count, float gain, int32_t target,
                        int32_t quietLevel) noexcept {
    // In float a product rounds, but its truncation stays exact unless it rounded onto a
    // nonzero integer: an integer between the product and its rounding would itself be a float
    // nearer to the product. Such lanes go through doubles. A gain of at most 9 significant
    // bits (1.0, say) times a 16-bit sample rounds nothing at all. Rounding is monotonic, so a
    // rounded product below the rounded target is a product below the target; the other way
    // round the stretch simply ends early.
    const bool productsExact = SignificantBits(gain) <= 9;
    const __m256 gainF = _mm256_set1_ps(gain);
    const __m256 targetF = _mm256_set1_ps(static_cast<float>(target));
    const __m256 zero = _mm256_setzero_ps();
    const __m256 signBit = _mm256_set1_ps(-0.0f);
    const __m256d gainD = _mm256_set1_pd(gain);
    const __m256d targetD = _mm256_set1_pd(target);
    const __m256i vQuiet = _mm256_set1_epi32(quietLevel);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i peak = _mm256_setzero_si256();
    __m256i lastLoud = _mm256_set1_epi32(-1);  // per lane, the index of its last loud sample
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples + i));
        const __m256i in0 = _mm256_cvtepi16_epi32(_mm256_castsi256_si128(raw));
        const __m256i in1 = _mm256_cvtepi16_epi32(_mm256_extracti128_si256(raw, 1));
        const __m256 p0 = _mm256_mul_ps(_mm256_cvtepi32_ps(in0), gainF);
        const __m256 p1 = _mm256_mul_ps(_mm256_cvtepi32_ps(in1), gainF);
        const __m256 below =
            _mm256_and_ps(_mm256_cmp_ps(_mm256_andnot_ps(signBit, p0), targetF, _CMP_LT_OQ),
                          _mm256_cmp_ps(_mm256_andnot_ps(signBit, p1), targetF, _CMP_LT_OQ));
        if (_mm256_movemask_ps(below) != 0xFF) break;
        const __m256i t0 = _mm256_cvttps_epi32(p0);
        const __m256i t1 = _mm256_cvttps_epi32(p1);
        const __m256 onInteger =
            _mm256_or_ps(_mm256_and_ps(_mm256_cmp_ps(_mm256_cvtepi32_ps(t0), p0, _CMP_EQ_OQ),
                                       _mm256_cmp_ps(p0, zero, _CMP_NEQ_OQ)),
                         _mm256_and_ps(_mm256_cmp_ps(_mm256_cvtepi32_ps(t1), p1, _CMP_EQ_OQ),
                                       _mm256_cmp_ps(p1, zero, _CMP_NEQ_OQ)));
        if (productsExact || _mm256_movemask_ps(onInteger) == 0) {
            // The pack interleaves 128-bit halves; the permutation puts them back in order.
            const __m256i packed =
                _mm256_permute4x64_epi64(_mm256_packs_epi32(t0, t1), _MM_SHUFFLE(3, 1, 2, 0));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(samples + i), packed);
            peak = _mm256_max_epi32(peak,
                                    _mm256_max_epi32(_mm256_abs_epi32(t0), _mm256_abs_epi32(t1)));
        } else if (!LevelSixteenInDouble(samples + i, in0, in1, gainD, targetD, peak)) {
            break;
        }
        const __m256i index = _mm256_add_epi32(lanes, _mm256_set1_epi32(i));
        const __m256i loud0 = _mm256_andnot_si256(_mm256_cmpgt_epi32(vQuiet, _mm256_abs_epi32(in0)),
                                                  _mm256_set1_epi32(-1));
        const __m256i loud1 = _mm256_andnot_si256(_mm256_cmpgt_epi32(vQuiet, _mm256_abs_epi32(in1)),
                                                  _mm256_set1_epi32(-1));
        lastLoud = _mm256_blendv_epi8(lastLoud, index, loud0);
        lastLoud =
            _mm256_blendv_epi8(lastLoud, _mm256_add_epi32(index, _mm256_set1_epi32(8)), loud1);
    }
    __m128i top = _mm_max_epi32(_mm256_castsi256_si128(peak), _mm256_extracti128_si256(peak, 1));
    top = _mm_max_epi32(top, _mm_shuffle_epi32(top, _MM_SHUFFLE(1, 0, 3, 2)));
    top = _mm_max_epi32(top, _mm_shuffle_epi32(top, _MM_SHUFFLE(2, 3, 0, 1)));
    __m128i loud =
        _mm_max_epi32(_mm256_castsi256_si128(lastLoud), _mm256_extracti128_si256(lastLoud, 1));
    loud = _mm_max_epi32(loud, _mm_shuffle_epi32(loud, _MM_SHUFFLE(1, 0, 3, 2)));
    loud = _mm_max_epi32(loud, _mm_shuffle_epi32(loud, _MM_SHUFFLE(2, 3, 0, 1)));

    // The rest, up to the first sample that reaches the target, one at a time.
    const AgcRun rest =
        ScalarKernels().AgcSteadyRun(samples + i, count - i, gain, target, quietLevel);
    AgcRun run{0, 0, 0};  // all given: no constructor of the shared header is emitted here
    run.Samples = i + rest.Samples;
    const int32_t peakMagnitude = _mm_cvtsi128_si32(top);
    run.PeakMagnitude = peakMagnitude > rest.PeakMagnitude ? peakMagnitude : rest.PeakMagnitude;
    const int32_t quietTail = i - 1 - _mm_cvtsi128_si32(loud);
    run.QuietTail = rest.QuietTail == rest.Samples ? quietTail + rest.Samples : rest.QuietTail;
    return run;
}

void Avx2LoadFrames(const int16_t* frames, int32_t count, float* re, float* im) noexcept {
    int32_t j = 0;
    for (; j + 8 <= count; j += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(frames + 2 * j));
        _mm256_storeu_ps(re + j,
                         _mm256_cvtepi32_ps(_mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16)));
        _mm256_storeu_ps(im + j, _mm256_cvtepi32_ps(_mm256_srai_epi32(v, 16)));
    }
    Sse2Kernels().LoadFrames(frames + 2 * j, count - j, re + j, im + j);
}

__m256i RoundEmitted(const float* values, __m256 invWindow) {
    const __m256 high = _mm256_set1_ps(32767.0f);
    const __m256 low = _mm256_set1_ps(-32767.0f);
    __m256 v = _mm256_mul_ps(_mm256_loadu_ps(values), invWindow);
    // min(high, v) keeps a NaN (it returns its second operand then); max(v, low) then turns it
    // into low, as the scalar clip does.
    v = _mm256_max_ps(_mm256_min_ps(high, v), low);
    // Half away from zero: see kJustBelowHalf.
    const __m256 signedHalf =
        _mm256_or_ps(_mm256_and_ps(v, _mm256_set1_ps(-0.0f)), _mm256_set1_ps(kJustBelowHalf));
    return _mm256_cvttps_epi32(_mm256_add_ps(v, signedHalf));
}

void Avx2EmitFrames(const float* re, const float* im, const float* invWindow, int32_t count,
                    int16_t* frames) noexcept {
    int32_t j = 0;
    for (; j + 8 <= count; j += 8) {
        const __m256 window = _mm256_loadu_ps(invWindow + j);
        const __m256i left = RoundEmitted(re + j, window);
        const __m256i right = RoundEmitted(im + j, window);
        // Within each 128-bit half: frames 0, 1 then 2, 3 interleaved and packed in order.
        const __m256i packed = _mm256_packs_epi32(_mm256_unpacklo_epi32(left, right),
                                                  _mm256_unpackhi_epi32(left, right));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(frames + 2 * j), packed);
    }
    Sse2Kernels().EmitFrames(re + j, im + j, invWindow + j, count - j, frames + 2 * j);
}

__m256i Gains16(int32_t gainL, int32_t gainR) {
    const auto l = static_cast<int16_t>(gainL);
    const auto r = static_cast<int16_t>(gainR);
    return _mm256_setr_epi16(l, r, l, r, l, r, l, r, l, r, l, r, l, r, l, r);
}

// Value x Q8 gain / 256, truncated toward zero: the arithmetic shift rounds down, so a
// negative product first gets 255 added.
__m256i DivideBy256(__m256i product) {
    const __m256i bias = _mm256_and_si256(_mm256_srai_epi32(product, 31), _mm256_set1_epi32(255));
    return _mm256_srai_epi32(_mm256_add_epi32(product, bias), 8);
}

// Eight frames times their gains, / 256. Unpacking works within 128-bit halves: First holds
// values 0-3 and 8-11, Second 4-7 and 12-15.
void ScaleEightFrames(const int16_t* source, __m256i gains, __m256i& first, __m256i& second) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source));
    const __m256i lo = _mm256_mullo_epi16(v, gains);
    const __m256i hi = _mm256_mulhi_epi16(v, gains);
    first = DivideBy256(_mm256_unpacklo_epi16(lo, hi));
    second = DivideBy256(_mm256_unpackhi_epi16(lo, hi));
}

void Avx2VolumeWide(int32_t* dest, const int16_t* source, int32_t frames, int32_t gainL,
                    int32_t gainR) noexcept {
    const __m256i gains = Gains16(gainL, gainR);
    int32_t f = 0;
    for (; f + 8 <= frames; f += 8) {
        __m256i first, second;
        ScaleEightFrames(source + 2 * f, gains, first, second);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + 2 * f),
                            _mm256_permute2x128_si256(first, second, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + 2 * f + 8),
                            _mm256_permute2x128_si256(first, second, 0x31));
    }
    Sse2Kernels().VolumeWide(dest + 2 * f, source + 2 * f, frames - f, gainL, gainR);
}

void Avx2VolumeNarrow(int16_t* dest, const int16_t* source, int32_t frames, int32_t gainL,
                      int32_t gainR) noexcept {
    const __m256i gains = Gains16(gainL, gainR);
    const __m256i floor = _mm256_set1_epi16(-32767);
    int32_t f = 0;
    for (; f + 8 <= frames; f += 8) {
        __m256i first, second;
        ScaleEightFrames(source + 2 * f, gains, first, second);
        // Packing works within 128-bit halves too, which puts the values back in order.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + 2 * f),
                            _mm256_max_epi16(_mm256_packs_epi32(first, second), floor));
    }
    Sse2Kernels().VolumeNarrow(dest + 2 * f, source + 2 * f, frames - f, gainL, gainR);
}

bool Avx2MixAdd(int32_t* sum, const int32_t* source, int32_t count) noexcept {
    __m256i wrapped = _mm256_setzero_si256();
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sum + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i));
        const __m256i s = _mm256_add_epi32(a, b);
        // Wrapped exactly when a and b share a sign that the sum lacks.
        wrapped = _mm256_or_si256(wrapped,
                                  _mm256_and_si256(_mm256_xor_si256(a, s), _mm256_xor_si256(b, s)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sum + i), s);
    }
    const bool any = _mm256_movemask_ps(_mm256_castsi256_ps(wrapped)) != 0;
    return Sse2Kernels().MixAdd(sum + i, source + i, count - i) || any;
}

int32_t Avx2PeakMagnitude(const int32_t* values, int32_t count) noexcept {
    __m256i peak = _mm256_setzero_si256();
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i magnitude =
            _mm256_abs_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + i)));
        // -2^31 has no positive 32-bit magnitude and stays negative; flip it to 2^31 - 1.
        peak =
            _mm256_max_epi32(peak, _mm256_xor_si256(magnitude, _mm256_srai_epi32(magnitude, 31)));
    }
    __m128i top = _mm_max_epi32(_mm256_castsi256_si128(peak), _mm256_extracti128_si256(peak, 1));
    top = _mm_max_epi32(top, _mm_shuffle_epi32(top, _MM_SHUFFLE(1, 0, 3, 2)));
    top = _mm_max_epi32(top, _mm_shuffle_epi32(top, _MM_SHUFFLE(2, 3, 0, 1)));
    const int32_t head = _mm_cvtsi128_si32(top);
    const int32_t tail = Sse2Kernels().PeakMagnitude(values + i, count - i);
    return head > tail ? head : tail;
}

void Avx2ScaleQ8(int32_t* values, int32_t count, int32_t gainQ8) noexcept {
    // value x gain is exact in double (31 + 21 bits), and so is the division by 256; clamping
    // before truncating gives what truncating and then saturating gives.
    const __m256d gain = _mm256_set1_pd(static_cast<double>(gainQ8) / 256.0);
    const __m256d high = _mm256_set1_pd(2147483647.0);
    const __m256d low = _mm256_set1_pd(-2147483648.0);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + i));
        __m256d d0 = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(v)), gain);
        __m256d d1 = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(v, 1)), gain);
        d0 = _mm256_max_pd(_mm256_min_pd(d0, high), low);
        d1 = _mm256_max_pd(_mm256_min_pd(d1, high), low);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(values + i),
                            _mm256_setr_m128i(_mm256_cvttpd_epi32(d0), _mm256_cvttpd_epi32(d1)));
    }
    Sse2Kernels().ScaleQ8(values + i, count - i, gainQ8);
}

void Avx2ClipToNarrow(void* dest, const int32_t* values, int32_t count) noexcept {
    // Byte arithmetic: Dest need not be aligned for 16-bit values.
    auto* out = static_cast<std::byte*>(dest);
    const __m256i floor = _mm256_set1_epi16(-32767);
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + i + 8));
        // The pack interleaves 128-bit halves; the permutation puts them back in order.
        const __m256i packed =
            _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), _MM_SHUFFLE(3, 1, 2, 0));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * i),
                            _mm256_max_epi16(packed, floor));
    }
    Sse2Kernels().ClipToNarrow(out + 2 * i, values + i, count - i);
}

}  // namespace

const RenderKernels& Avx2Kernels() noexcept {
    static const RenderKernels table = [] {
        RenderKernels kernels = Sse2Kernels();
        kernels.Transform = VectorTransform<Avx2F>;
        kernels.FilterTransform = VectorFilterTransform<Avx2F>;
        kernels.MoveCurve = VectorMoveCurve<Avx2F>;
        kernels.CurveActive = VectorCurveActive<Avx2F>;
        kernels.LoadFrames = Avx2LoadFrames;
        kernels.EmitFrames = Avx2EmitFrames;
        kernels.AgcSteadyRun = Avx2AgcSteadyRun;
        kernels.VolumeWide = Avx2VolumeWide;
        kernels.VolumeNarrow = Avx2VolumeNarrow;
        kernels.MixAdd = Avx2MixAdd;
        kernels.PeakMagnitude = Avx2PeakMagnitude;
        kernels.ScaleQ8 = Avx2ScaleQ8;
        kernels.ClipToNarrow = Avx2ClipToNarrow;
        return kernels;
    }();
    return table;
}

}  // namespace oggmix
