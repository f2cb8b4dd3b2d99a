// ScalarReference.cpp: the plain, one-value-at-a-time render arithmetic.
#include "tests/support/ScalarReference.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

#include "base/PcmFormat.h"
#include "stream/OggDataLib.h"

namespace oggmix::test {
namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();

int32_t Saturate32(int64_t v) {
    return static_cast<int32_t>(v > kInt32Max ? kInt32Max : v < kInt32Min ? kInt32Min : v);
}

int16_t Clip16(int32_t v) {
    return static_cast<int16_t>(v > 32767 ? 32767 : v < -32767 ? -32767 : v);
}

}  // namespace

void ReferenceTransform(const TFFT& tables, float* Re, float* Im, bool Scaled) {
    const int32_t n = tables.Size();
    const auto& sinTable = tables.SinTable();
    const auto& bitRev = tables.BitRev();
    for (int32_t i = 0; i < n; ++i) {
        const int32_t j = bitRev[i];
        if (i < j) {
            std::swap(Re[i], Re[j]);
            std::swap(Im[i], Im[j]);
        }
    }
    for (int32_t k = 1; k < n; k *= 2) {
        const int32_t k2 = 2 * k;
        const int32_t d = n / k2;
        int32_t h = 0;
        for (int32_t j = 0; j < k; ++j) {
            const float c = sinTable[h + n / 4];
            const float s = Scaled ? -sinTable[h] : sinTable[h];
            for (int32_t i = j; i < n; i += k2) {
                const int32_t ik = i + k;
                const float dx = s * Im[ik] + c * Re[ik];
                const float dy = c * Im[ik] - s * Re[ik];
                Re[ik] = Re[i] - dx;
                Re[i] = Re[i] + dx;
                Im[ik] = Im[i] - dy;
                Im[i] = Im[i] + dy;
            }
            h += d;
        }
    }
    if (Scaled) {
        const float scale = 1.0f / static_cast<float>(n);
        for (int32_t i = 0; i < n; ++i) {
            Re[i] = Re[i] * scale;
            Im[i] = Im[i] * scale;
        }
    }
}

// ---- Tone filter ----

ReferenceFilter::ReferenceFilter() = default;

void ReferenceFilter::SetPoint(int32_t Index, float Value, float Time) {
    if (!std::isfinite(Value)) Value = 0.0f;
    Point& p = FPoints[static_cast<size_t>(Index)];
    p.Target = Value;
    if (!(static_cast<double>(Time) >= 0.001)) {
        p.Gain = Value;
        p.Step = 0.0f;
    } else {
        p.Step = (Value - p.Gain) / (Time * 44100.0f);
    }
}

void ReferenceFilter::SetCurve(const float* Values, int32_t Count, float Time) {
    for (int32_t i = 0; i < 256; ++i) {
        const auto x = static_cast<float>(static_cast<double>(i) * (Count - 1) / 255.0);
        float v = TOggData::CurveValue(Values, x, Count);
        if (!(v > 0.0f)) v = 0.0f;
        SetPoint(i, v, Time);
    }
}

bool ReferenceFilter::Active() const {
    return std::any_of(FPoints.begin(), FPoints.end(), [](const Point& p) {
        const float distance = std::fabs(p.Gain - 1.0f) + std::fabs(p.Target - 1.0f);
        return static_cast<double>(distance) > 0.01;
    });
}

void ReferenceFilter::Apply(int16_t* Samples, int32_t ByteCount) {
    if (!Active()) return;
    float* re = FFft.Re.data();
    float* im = FFft.Im.data();
    const auto& window = FFft.Window();
    const auto& invWindow = FFft.InvWindow();
    std::array<float, 256> binGain{};
    int32_t remaining = ByteCount / 4;
    int16_t* cursor = Samples;
    while (remaining > 0) {
        const int32_t fresh = std::min(remaining, 192);
        for (int32_t i = 0; i < 256; ++i) {
            Point& p = FPoints[static_cast<size_t>(i)];
            const float move = static_cast<float>(fresh) * p.Step;
            if (std::fabs(p.Gain - p.Target) >= std::fabs(move)) {
                p.Gain = p.Gain + move;
            } else {
                p.Gain = p.Target;
                p.Step = 0.0f;
            }
            binGain[static_cast<size_t>(i % 2 == 0 ? i / 2 : 255 - i / 2)] = p.Gain;
        }
        for (int32_t j = 0; j < 64; ++j) {
            re[j] = FHistoryL[static_cast<size_t>(j)];
            im[j] = FHistoryR[static_cast<size_t>(j)];
        }
        for (int32_t j = 0; j < fresh; ++j) {
            re[64 + j] = cursor[2 * j];
            im[64 + j] = cursor[2 * j + 1];
        }
        for (int32_t j = 64 + fresh; j < 256; ++j) {
            re[j] = re[64 + fresh - 1];
            im[j] = im[64 + fresh - 1];
        }
        const int32_t emitted = fresh < 192 ? fresh : 128;
        for (int32_t j = 0; j < 64; ++j) {
            FHistoryL[static_cast<size_t>(j)] = re[emitted + j];
            FHistoryR[static_cast<size_t>(j)] = im[emitted + j];
        }
        for (int32_t i = 0; i < 256; ++i) {
            re[i] = re[i] * window[i];
            im[i] = im[i] * window[i];
        }
        ReferenceTransform(FFft, re, im, true);
        for (int32_t k = 0; k < 256; ++k) {
            re[k] = re[k] * binGain[static_cast<size_t>(k)];
            im[k] = im[k] * binGain[static_cast<size_t>(k)];
        }
        ReferenceTransform(FFft, re, im, false);
        for (int32_t i = 0; i < 256; ++i) {
            for (float* v : {&re[i], &im[i]}) {
                *v = *v * invWindow[i];
                if (*v > 32767.0f) *v = 32767.0f;
                if (!(*v >= -32767.0f)) *v = -32767.0f;
            }
        }
        for (int32_t j = 0; j < emitted; ++j) {
            cursor[2 * j] = static_cast<int16_t>(RoundHalfAway(re[64 + j]));
            cursor[2 * j + 1] = static_cast<int16_t>(RoundHalfAway(im[64 + j]));
        }
        cursor += 2 * emitted;
        remaining -= emitted;
    }
}

// ---- Gain control ----

void ReferenceAgcProcess(TAGC& agc, int16_t* Samples, int32_t ByteCount) {
    if (agc.Target <= agc.QuietLevel) return;
    const auto countUp = [](int32_t& counter) {
        if (counter < std::numeric_limits<int32_t>::max()) ++counter;
    };
    for (int32_t i = 0; i < ByteCount / 2; ++i) {
        const int32_t in = Samples[i];
        const double product = static_cast<double>(in) * static_cast<double>(agc.Gain);
        int64_t out = 0;
        if (!(product < 4.0e18))
            out = product > 0.0 ? int64_t{4'000'000'000'000'000'000} : 0;
        else if (!(product > -4.0e18))
            out = -int64_t{4'000'000'000'000'000'000};
        else
            out = static_cast<int64_t>(product);
        const int64_t mag = std::llabs(out);
        if (std::abs(in) < agc.QuietLevel)
            countUp(agc.QuietRun);
        else
            agc.QuietRun = 0;
        if (mag < agc.Target) {
            if (mag > agc.RisePeak) agc.RisePeak = static_cast<int32_t>(mag);
            countUp(agc.RiseCount);
            if (agc.RiseCount > agc.RiseInterval) {
                if (agc.QuietRun > agc.RiseInterval) {
                    agc.Gain = (10.0f * agc.AdjustRate) * (1.0f - agc.Gain) + agc.Gain;
                } else if (agc.RisePeak > 0) {
                    agc.Gain = (static_cast<float>(agc.Target) / static_cast<float>(agc.RisePeak)) *
                                   agc.AdjustRate +
                               agc.Gain;
                    agc.RisePeak = 0;
                    agc.RiseCount = 0;
                } else {
                    agc.Gain = (10.0f * agc.AdjustRate) * (1.0f - agc.Gain) + agc.Gain;
                    agc.RiseCount = 0;
                }
            }
            Samples[i] = static_cast<int16_t>(std::clamp<int64_t>(out, -32768, 32767));
        } else {
            out = std::clamp<int64_t>(out, -32760, 32760);
            agc.Gain = agc.Gain -
                       (static_cast<float>(mag) / static_cast<float>(agc.Target)) * agc.AdjustRate;
            if (!(agc.Gain >= 0.0f)) agc.Gain = 0.0f;
            agc.RisePeak = 0;
            agc.RiseCount = 0;
            Samples[i] = static_cast<int16_t>(out);
        }
    }
}

// ---- Volume, fade and pan ----

namespace {

constexpr double kQ40One = 1099511627776.0;

void SetRamp(int64_t& value, int64_t& target, int64_t& step, float to, float seconds) {
    target = static_cast<int64_t>(static_cast<double>(to) * kQ40One);
    if (!(static_cast<double>(seconds) >= 0.01)) {
        value = target;
        step = 0;
    } else {
        step = static_cast<int64_t>(static_cast<double>(target - value) /
                                    (static_cast<double>(seconds) * 44100.0));
    }
}

bool StepRamp(int64_t& value, int64_t target, int64_t& step) {
    if (step == 0) return false;
    if (std::llabs(step) > std::llabs(target - value)) {
        value = target;
        step = 0;
    }
    value += step;
    return true;
}

}  // namespace

void ReferenceVolume::Fade(float To, float Seconds) {
    if (!(To >= 0.0f)) To = 0.0f;
    if (To > 64.0f) To = 64.0f;
    SetRamp(FadeVolume, FadeTarget, FadeStep, To, Seconds);
}

void ReferenceVolume::SetPan(float To, float Seconds) {
    if (!(To >= -1.0f)) To = -1.0f;
    if (To > 1.0f) To = 1.0f;
    SetRamp(Pan, PanTarget, PanStep, To, Seconds);
}

void ReferenceVolume::SetMasterVolume(float To) { MasterVolume = RoundHalfAway(To * 256.0f); }
void ReferenceVolume::SetVolume(float To) { Volume = RoundHalfAway(To * 256.0f); }

int32_t ReferenceVolume::Apply(void* Dest, const int16_t* Source, int32_t Count, bool Wide) {
    const int32_t vol = Saturate32(int64_t{MasterVolume} * Volume / 256);
    int32_t gainL = 0;
    int32_t gainR = 0;
    const auto gains = [&] {
        const int64_t fade = FadeVolume / (int64_t{1} << 32);
        const int64_t pan = Pan / (int64_t{1} << 32);
        const int64_t left = std::min<int64_t>(256 - pan, 256);
        const int64_t right = std::min<int64_t>(256 + pan, 256);
        gainL = Saturate32(fade * vol * left / 65536);
        gainR = Saturate32(fade * vol * right / 65536);
    };
    gains();
    for (int32_t f = 0; f < Count / 4; ++f) {
        const bool fadeMoved = StepRamp(FadeVolume, FadeTarget, FadeStep);
        const bool panMoved = StepRamp(Pan, PanTarget, PanStep);
        if (fadeMoved || panMoved) gains();
        const int32_t l = Saturate32(int64_t{Source[2 * f]} * gainL / 256);
        const int32_t r = Saturate32(int64_t{Source[2 * f + 1]} * gainR / 256);
        if (Wide) {
            static_cast<int32_t*>(Dest)[2 * f] = l;
            static_cast<int32_t*>(Dest)[2 * f + 1] = r;
        } else {
            static_cast<int16_t*>(Dest)[2 * f] = Clip16(l);
            static_cast<int16_t*>(Dest)[2 * f + 1] = Clip16(r);
        }
    }
    return Wide ? Count * 2 : Count;
}

// ---- Mixer ----

void ReferenceMix(std::span<const int32_t* const> Sources, int32_t ValueCount, int32_t* Mix) {
    for (int32_t i = 0; i < ValueCount; ++i) {
        int64_t sum = 0;
        for (const int32_t* source : Sources) sum += source[i];
        Mix[i] = Saturate32(sum);
    }
}

int32_t ReferencePeak(const int32_t* Values, int32_t Count) {
    int64_t peak = 0;
    for (int32_t i = 0; i < Count; ++i)
        peak = std::max<int64_t>(peak, std::llabs(int64_t{Values[i]}));
    return static_cast<int32_t>(std::min(peak, kInt32Max));
}

void ReferenceScaleQ8(int32_t* Values, int32_t Count, int32_t GainQ8) {
    for (int32_t i = 0; i < Count; ++i) Values[i] = Saturate32(int64_t{Values[i]} * GainQ8 / 256);
}

void ReferenceClip(const int32_t* Values, int32_t Count, int16_t* Out) {
    for (int32_t i = 0; i < Count; ++i) Out[i] = Clip16(Values[i]);
}

}  // namespace oggmix::test
