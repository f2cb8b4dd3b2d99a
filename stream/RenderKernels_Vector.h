#pragma once
// RenderKernels_Vector.h: the float kernels written once for any vector width: the transform,
// the tone filter's frame and the ramp of its curve. Included only by the per-level files,
// each with its own traits type (width, load, store, arithmetic, masks, and an Unzipper for a
// block length m, which splits two vectors of alternating a- and b-blocks of m values into
// all a's and all b's).
//
// The transform is the in-place radix-2 butterfly network of the scalar path, evaluated
// stage by stage out of place (the Stockham arrangement): the same butterflies on the same
// values with the same single-precision operations, only written where the next stage reads
// them contiguously, which also makes the bit-reversal permutation unnecessary. Before stage
// s, the j-th value of the sub-transform of residue r (of N / 2^s residues) sits at
// j * N / 2^s + r; natural order at both ends.
//
// Everything here has internal linkage: each including file compiles its own copy for its
// instruction set, and no copy may be merged with another's.

#include <cstdint>
#include <type_traits>
#include <utility>

#include "stream/RenderKernels.h"
#include "stream/RenderKernels_Internal.h"

namespace oggmix {
namespace {  // NOLINT(google-build-namespaces): one copy per instruction set, on purpose

// One radix-2 stage: pairs k = 2^s apart, m = N / 2k residues per twiddle. Premul: the
// inputs are first multiplied by the array given (window or bin gains); ScaleOut: the
// outputs are multiplied by Scale (the forward transform's 1/N). Half and S, when not 0 and
// -1, fix N / 2 and s at compile time, so that every stride is a constant.
template <class F, bool Premul, bool ScaleOut, int32_t Half = 0, int32_t S = -1>
void Stage(const TransformPlan& plan, int32_t s, const float* sinTable, const float* srcRe,
           const float* srcIm, float* dstRe, float* dstIm, const float* premul, float scale) {
    using V = typename F::Vec;
    constexpr int32_t W = F::kWidth;
    if constexpr (S >= 0) s = S;
    const int32_t half = Half > 0 ? Half : plan.Points / 2;
    const int32_t k = int32_t{1} << s;
    const int32_t m = half >> s;
    const float* cosS = plan.StageCos + s * half;
    const float* sinS = sinTable + s * half;
    const V vScale = F::Set1(scale);

    // dx, dy: the twiddled b value; a + dx, a - dx as the scalar path writes them.
    auto butterfly = [&](V aRe, V aIm, V bRe, V bIm, V c, V sn, float* outRe, float* outIm) {
        const V dx = F::Add(F::Mul(sn, bIm), F::Mul(c, bRe));
        const V dy = F::Sub(F::Mul(c, bIm), F::Mul(sn, bRe));
        V re0 = F::Add(aRe, dx);
        V re1 = F::Sub(aRe, dx);
        V im0 = F::Add(aIm, dy);
        V im1 = F::Sub(aIm, dy);
        if constexpr (ScaleOut) {
            re0 = F::Mul(re0, vScale);
            re1 = F::Mul(re1, vScale);
            im0 = F::Mul(im0, vScale);
            im1 = F::Mul(im1, vScale);
        }
        F::Store(outRe, re0);
        F::Store(outRe + half, re1);
        F::Store(outIm, im0);
        F::Store(outIm + half, im1);
    };

    if (m >= W) {
        // Every lane of a vector shares its twiddle: residues run along the vector.
#pragma GCC unroll 4
        for (int32_t j = 0; j < k; ++j) {
            const V c = F::Set1(cosS[j * m]);
            const V sn = F::Set1(sinS[j * m]);
            const int32_t in = 2 * j * m;
            const int32_t out = j * m;
#pragma GCC unroll 4
            for (int32_t r = 0; r < m; r += W) {
                V aRe = F::Load(srcRe + in + r);
                V aIm = F::Load(srcIm + in + r);
                V bRe = F::Load(srcRe + in + m + r);
                V bIm = F::Load(srcIm + in + m + r);
                if constexpr (Premul) {
                    const V pa = F::Load(premul + in + r);
                    const V pb = F::Load(premul + in + m + r);
                    aRe = F::Mul(aRe, pa);
                    aIm = F::Mul(aIm, pa);
                    bRe = F::Mul(bRe, pb);
                    bIm = F::Mul(bIm, pb);
                }
                butterfly(aRe, aIm, bRe, bIm, c, sn, dstRe + out + r, dstIm + out + r);
            }
        }
        return;
    }
    // Fewer residues than lanes: a vector spans several twiddles, and its a and b values come
    // interleaved in blocks of m from two consecutive input vectors.
    const typename F::Unzipper unzip(m);
#pragma GCC unroll 4
    for (int32_t e = 0; e < half; e += W) {
        V y0Re = F::Load(srcRe + 2 * e);
        V y1Re = F::Load(srcRe + 2 * e + W);
        V y0Im = F::Load(srcIm + 2 * e);
        V y1Im = F::Load(srcIm + 2 * e + W);
        if constexpr (Premul) {
            const V p0 = F::Load(premul + 2 * e);
            const V p1 = F::Load(premul + 2 * e + W);
            y0Re = F::Mul(y0Re, p0);
            y1Re = F::Mul(y1Re, p1);
            y0Im = F::Mul(y0Im, p0);
            y1Im = F::Mul(y1Im, p1);
        }
        V aRe, bRe, aIm, bIm;
        unzip(y0Re, y1Re, aRe, bRe);
        unzip(y0Im, y1Im, aIm, bIm);
        butterfly(aRe, aIm, bRe, bIm, F::Load(cosS + e), F::Load(sinS + e), dstRe + e, dstIm + e);
    }
}

// The whole transform from In to Out (which may be the same arrays), through the first two
// pairs of the plan's working arrays. Premul, if not null, multiplies the input first.
// Needs N >= 2W.
template <class F>
void StockhamTransform(const TransformPlan& plan, const float* inRe, const float* inIm,
                       float* outRe, float* outIm, bool scaled, const float* premul) {
    const float* sinTable = scaled ? plan.StageSinForward : plan.StageSinBackward;
    const float scale = 1.0f / static_cast<float>(plan.Points);
    float* const a[2] = {plan.Scratch, plan.Scratch + plan.Points};
    float* const b[2] = {plan.Scratch + 2 * plan.Points, plan.Scratch + 3 * plan.Points};
    for (int32_t s = 0; s < plan.Stages; ++s) {
        // In -> a -> b -> a ... -> Out: only the first stage reads In and only the last
        // writes Out, so In may be Out.
        const bool first = s == 0;
        const bool last = s == plan.Stages - 1;
        float* const* src = s % 2 == 1 ? a : b;
        float* const* dst = s % 2 == 0 ? a : b;
        const float* srcRe = first ? inRe : src[0];
        const float* srcIm = first ? inIm : src[1];
        float* dstRe = last ? outRe : dst[0];
        float* dstIm = last ? outIm : dst[1];
        const bool pre = first && premul != nullptr;
        const bool post = last && scaled;
        if (pre && post)
            Stage<F, true, true>(plan, s, sinTable, srcRe, srcIm, dstRe, dstIm, premul, scale);
        else if (pre)
            Stage<F, true, false>(plan, s, sinTable, srcRe, srcIm, dstRe, dstIm, premul, scale);
        else if (post)
            Stage<F, false, true>(plan, s, sinTable, srcRe, srcIm, dstRe, dstIm, premul, scale);
        else
            Stage<F, false, false>(plan, s, sinTable, srcRe, srcIm, dstRe, dstIm, premul, scale);
    }
}

// The same for the 256 points every stream and the mixer use, with each stage's shape fixed
// at compile time.
template <class F, bool Pre, bool Post, int32_t... Stages>
void StockhamTransform256(const TransformPlan& plan, const float* inRe, const float* inIm,
                          float* outRe, float* outIm, bool scaled, const float* premul,
                          std::integer_sequence<int32_t, Stages...>) {
    constexpr int32_t kStages = sizeof...(Stages);
    const float* sinTable = scaled ? plan.StageSinForward : plan.StageSinBackward;
    const float scale = 1.0f / static_cast<float>(plan.Points);
    float* const a[2] = {plan.Scratch, plan.Scratch + plan.Points};
    float* const b[2] = {plan.Scratch + 2 * plan.Points, plan.Scratch + 3 * plan.Points};
    const auto stage = [&]<int32_t S>(std::integral_constant<int32_t, S>) {
        constexpr bool first = S == 0;
        constexpr bool last = S == kStages - 1;
        float* const* src = S % 2 == 1 ? a : b;
        float* const* dst = S % 2 == 0 ? a : b;
        Stage<F, first && Pre, last && Post, 128, S>(plan, S, sinTable, first ? inRe : src[0],
                                                     first ? inIm : src[1], last ? outRe : dst[0],
                                                     last ? outIm : dst[1], premul, scale);
    };
    (stage(std::integral_constant<int32_t, Stages>{}), ...);
}

template <class F>
void Transform(const TransformPlan& plan, const float* inRe, const float* inIm, float* outRe,
               float* outIm, bool scaled, const float* premul) {
    if (plan.Points != 256)
        return StockhamTransform<F>(plan, inRe, inIm, outRe, outIm, scaled, premul);
    constexpr auto kStages = std::make_integer_sequence<int32_t, 8>{};
    const bool pre = premul != nullptr;
    if (pre && scaled)
        StockhamTransform256<F, true, true>(plan, inRe, inIm, outRe, outIm, scaled, premul,
                                            kStages);
    else if (pre)
        StockhamTransform256<F, true, false>(plan, inRe, inIm, outRe, outIm, scaled, premul,
                                             kStages);
    else if (scaled)
        StockhamTransform256<F, false, true>(plan, inRe, inIm, outRe, outIm, scaled, premul,
                                             kStages);
    else
        StockhamTransform256<F, false, false>(plan, inRe, inIm, outRe, outIm, scaled, premul,
                                              kStages);
}

template <class F>
bool Fits(const TransformPlan& plan) {
    return plan.Points >= 2 * F::kWidth;
}

template <class F>
void VectorTransform(const TransformPlan& plan, float* re, float* im, bool scaled) noexcept {
    if (!Fits<F>(plan)) return ScalarKernels().Transform(plan, re, im, scaled);
    Transform<F>(plan, re, im, re, im, scaled, nullptr);
}

template <class F>
void VectorFilterTransform(const TransformPlan& plan, float* re, float* im,
                           const float* binGain) noexcept {
    if (!Fits<F>(plan)) return ScalarKernels().FilterTransform(plan, re, im, binGain);
    // The spectrum stays in the third pair of working arrays between the two transforms.
    float* spectrumRe = plan.Scratch + 4 * plan.Points;
    float* spectrumIm = plan.Scratch + 5 * plan.Points;
    Transform<F>(plan, re, im, spectrumRe, spectrumIm, true, plan.Window);
    Transform<F>(plan, spectrumRe, spectrumIm, re, im, false, binGain);
}

template <class F>
bool VectorMoveCurve(float* gain, const float* target, float* step, int32_t count,
                     float frames) noexcept {
    using V = typename F::Vec;
    const V vFrames = F::Set1(frames);
    const V zero = F::Set1(0.0f);
    auto moving = F::NotEqual(zero, zero);
    for (int32_t i = 0; i < count; i += F::kWidth) {
        const V g = F::Load(gain + i);
        const V t = F::Load(target + i);
        const V st = F::Load(step + i);
        moving = F::Or(moving, F::NotEqual(st, zero));
        const V move = F::Mul(vFrames, st);
        const auto keep = F::GreaterEqual(F::Abs(F::Sub(g, t)), F::Abs(move));
        F::Store(gain + i, F::Select(keep, F::Add(g, move), t));
        F::Store(step + i, F::Select(keep, st, zero));
    }
    return F::Any(moving);
}

template <class F>
bool VectorCurveActive(const float* gain, const float* target, int32_t count) noexcept {
    using V = typename F::Vec;
    const V one = F::Set1(1.0f);
    // x > 0.01 (double) and x > 0.01f (float) agree for every float x: no float lies between
    // 0.01f, which is below 0.01, and the next float, which is above it.
    const V tolerance = F::Set1(0.01f);
    for (int32_t i = 0; i < count; i += F::kWidth) {
        const V distance = F::Add(F::Abs(F::Sub(F::Load(gain + i), one)),
                                  F::Abs(F::Sub(F::Load(target + i), one)));
        if (F::Any(F::Greater(distance, tolerance))) return true;
    }
    return false;
}

}  // namespace
}  // namespace oggmix
