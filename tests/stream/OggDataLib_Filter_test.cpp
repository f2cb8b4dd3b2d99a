// OggDataLib_Filter_test.cpp: the tone filter's curve, presets, ramps, steps, bypass and
// frequency response, driven through ApplyFilter as the render path calls it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "stream/FilterPresets.h"
#include "stream/OggDataLib.h"
#include "tests/stream/StreamTestSupport.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/Signals.h"

namespace oggmix {
namespace {

constexpr int32_t kBufferBytes = 65536;
constexpr int kPoints = kFilterPointCount;

// ApplyFilter as the render path calls it: with the stream's lock held.
void Filter(TOggData& stream, std::vector<int16_t>& samples, size_t first = 0,
            size_t frames = SIZE_MAX) {
    frames = std::min(frames, (samples.size() - first) / 2);
    stream.Lock();
    stream.ApplyFilter(samples.data() + first, static_cast<int32_t>(frames * 4));
    stream.Unlock();
}

// Filters the whole signal in chunks of chunkFrames, as the render path hands them over.
void FilterInChunks(TOggData& stream, std::vector<int16_t>& samples, size_t chunkFrames) {
    for (size_t at = 0; at < samples.size(); at += 2 * chunkFrames)
        Filter(stream, samples, at, chunkFrames);
}

void ApplyPreset(TOggData& stream, const FilterPreset& p, float seconds) {
    const auto& v = p.Values;
    if (p.ValueCount == 8) {
        stream.SetFilterCurve8(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], seconds);
    } else {
        stream.SetFilterCurve4(v[0], v[1], v[2], v[3], seconds);
    }
}

const FilterPreset& Preset(const char* caption) {
    const FilterPreset* p = FindFilterPreset(caption);
    EXPECT_NE(p, nullptr) << caption;
    return p != nullptr ? *p : kFilterPresets[4];
}

double Rms(const std::vector<int16_t>& samples, size_t firstFrame) {
    double sum = 0.0;
    for (size_t i = 2 * firstFrame; i < samples.size(); ++i)
        sum += static_cast<double>(samples[i]) * samples[i];
    return std::sqrt(sum / static_cast<double>(samples.size() - 2 * firstFrame));
}

// ---- Curve evaluation ----

TEST(FilterCurve, PresetsGiveTheirPublishedTargetGains) {
    const std::vector<int> points{0, 42, 85, 106, 128, 170, 212, 255};
    const std::map<std::string, std::vector<double>> table{
        {"LowPass", {1.0000, 0.5059, 0.0000, 0.0000, 0.0000, 0.0000, 0.0000, 0.0000}},
        {"HighPass", {0.0000, 0.0000, 0.0000, 0.2930, 0.6323, 1.0000, 0.6323, 0.0000}},
        {"LowReso", {2.0000, 1.5059, 1.0000, 0.9650, 0.9691, 1.0000, 1.0000, 1.0000}},
        {"HighReso", {1.0000, 0.9691, 1.0000, 1.2930, 1.6323, 2.0000, 1.6323, 1.0000}},
        {"LoHiPass", {1.0000, 0.3824, 0.0000, 0.1530, 0.5088, 1.0000, 0.6323, 0.0000}},
        {"MiddleReso", {1.0000, 1.6176, 2.0000, 1.8930, 1.6176, 1.0000, 0.9684, 1.0000}},
        {"Wave", {1.5000, 0.5630, 1.2407, 0.5229, 1.0206, 0.7593, 1.4141, 0.5000}},
        {"OFF", {1.0000, 1.0000, 1.0000, 1.0000, 1.0000, 1.0000, 1.0000, 1.0000}},
    };
    ASSERT_EQ(table.size(), kFilterPresets.size());
    for (const FilterPreset& preset : kFilterPresets) {
        SCOPED_TRACE(std::string(preset.Caption));
        const auto row = table.find(std::string(preset.Caption));
        ASSERT_NE(row, table.end());
        TOggData stream(kBufferBytes);
        ApplyPreset(stream, preset, 0.0f);
        for (size_t i = 0; i < points.size(); ++i) {
            EXPECT_NEAR(stream.GetFilterTarget(points[i]), row->second[i], 0.00005) << points[i];
            EXPECT_EQ(stream.GetFilterGain(points[i]), stream.GetFilterTarget(points[i]))
                << points[i];
        }
        for (int i = 0; i < kPoints; ++i) EXPECT_GE(stream.GetFilterTarget(i), 0.0f) << i;
    }
}

TEST(FilterCurve, PresetsAreFoundByCaptionInAnyCase) {
    EXPECT_EQ(FindFilterPreset("LowPass"), &kFilterPresets[0]);
    EXPECT_EQ(FindFilterPreset("middleRESO"), &kFilterPresets[6]);
    EXPECT_EQ(FindFilterPreset("Wave")->ValueCount, 8);
    EXPECT_EQ(FindFilterPreset("Low"), nullptr);
    EXPECT_EQ(FindFilterPreset(""), nullptr);
}

TEST(FilterCurve, CurveValueReturnsTheEndValuesExactly) {
    const float four[4] = {0.3f, 1.7f, 2.9f, 0.123f};
    const float eight[8] = {0.7f, 1.1f, 0.2f, 1.9f, 0.4f, 1.3f, 0.05f, 1.234f};
    EXPECT_EQ(TOggData::CurveValue(four, 3.0f, 4), 0.123f);
    EXPECT_EQ(TOggData::CurveValue(eight, 7.0f, 8), 1.234f);
    EXPECT_EQ(TOggData::CurveValue(four, 0.0f, 4), 0.3f);
    EXPECT_EQ(TOggData::CurveValue(eight, 0.0f, 8), 0.7f);
    EXPECT_EQ(TOggData::CurveValue(eight, 2.0f, 8), 0.2f) << "a knot is met exactly";
}

TEST(FilterCurve, HermiteMeetsItsKnotsAndFlattensTheTangentsOfAFlatSegment) {
    EXPECT_EQ(TOggData::HermiteValue(0.0f, 0.25f, 0.75f, 1.0f, 0.0f, 1.0f, 1.0f), 0.25f);
    EXPECT_EQ(TOggData::HermiteValue(0.0f, 0.25f, 0.75f, 1.0f, 1.0f, 1.0f, 1.0f), 0.75f);
    // Between 0, 1, 1, 0 the full tangents +1 and -1 would bulge to 1.25 at the middle; a
    // quarter of them gives 1.0625.
    EXPECT_FLOAT_EQ(TOggData::HermiteValue(0.0f, 1.0f, 1.0f, 0.0f, 0.5f, 1.0f, 1.0f), 1.0625f);
    EXPECT_NEAR(TOggData::HermiteValue(0.0f, 1.0f, 1.0f + 1e-6f, 0.0f, 0.5f, 1.0f, 1.0f), 1.25,
                1e-5);
}

TEST(FilterCurve, AStrayPositionStaysInsideTheValues) {
    const float four[4] = {0.5f, 1.0f, 1.5f, 2.0f};
    for (float x : {-1.0f, -1e30f, 1e30f, 3.5f, std::numeric_limits<float>::infinity(),
                    std::numeric_limits<float>::quiet_NaN()}) {
        const float v = TOggData::CurveValue(four, x, 4);
        if (std::isfinite(x) && std::fabs(x) < 10.0f) {
            EXPECT_TRUE(std::isfinite(v)) << x;
        }
    }
    TOggData stream(kBufferBytes);
    stream.SetFilterCurve4(std::numeric_limits<float>::quiet_NaN(), 1.0f, 1.0f, 1.0f, 0.0f);
    EXPECT_EQ(stream.GetFilterTarget(0), 0.0f) << "a curve value that is not above 0 becomes 0";
}

// ---- Points and ramps ----

TEST(FilterPoints, ATimeBelowAMillisecondJumpsAndFromAMillisecondOnRamps) {
    TOggData stream(kBufferBytes);
    stream.SetFilterPoint(7, 0.5f, 0.0005f);
    EXPECT_EQ(stream.GetFilterGain(7), 0.5f);
    stream.SetFilterPoint(8, 0.5f, 0.001f);
    EXPECT_EQ(stream.GetFilterGain(8), 1.0f);
    EXPECT_EQ(stream.GetFilterTarget(8), 0.5f);
}

TEST(FilterPoints, NonFiniteValuesBecomeSilentPointsAndStrayIndicesAreIgnored) {
    TOggData stream(kBufferBytes);
    stream.SetFilterPointNow(3, std::numeric_limits<float>::quiet_NaN());
    stream.SetFilterPointNow(4, std::numeric_limits<float>::infinity());
    EXPECT_EQ(stream.GetFilterGain(3), 0.0f);
    EXPECT_EQ(stream.GetFilterTarget(4), 0.0f);
    stream.SetFilterPointNow(-1, 5.0f);
    stream.SetFilterPointNow(kPoints, 5.0f);
    for (int i = 0; i < kPoints; ++i) {
        if (i != 3 && i != 4) {
            EXPECT_EQ(stream.GetFilterGain(i), 1.0f) << i;
        }
    }
    std::vector<int16_t> samples = test::Noise(44100, 2, 0.01, 5).Samples;
    Filter(stream, samples);
    for (int16_t s : samples) ASSERT_GT(s, -32767) << "no band turned into full-scale noise";
}

TEST(FilterPoints, LowPassFromFlatLeavesPointZeroAtRestAndRampsTheTopDown) {
    TOggData stream(kBufferBytes);
    ApplyPreset(stream, Preset("LowPass"), 5.0f);
    std::vector<int16_t> samples(2 * 512, 0);
    Filter(stream, samples);
    EXPECT_EQ(stream.GetFilterGain(0), 1.0f);
    for (int i = 85; i < kPoints; ++i) {
        EXPECT_LT(stream.GetFilterGain(i), 1.0f) << i;
        EXPECT_GT(stream.GetFilterGain(i), 0.99f) << i;
        EXPECT_EQ(stream.GetFilterTarget(i), 0.0f) << i;
    }
}

// A point ramping from 0 to 1 over 10 s moves by one step per fresh frame loaded; the steps of
// a chunk load min(192, left) fresh frames and emit 128 of a full step.
class FilterStepSizes : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(FilterStepSizes, TheCurveMovesByTheFreshFramesOfEachStep) {
    const auto [chunkFrames, freshFrames] = GetParam();
    TOggData stream(kBufferBytes);
    stream.SetFilterPointNow(0, 0.0f);
    stream.SetFilterPoint(0, 1.0f, 10.0f);
    std::vector<int16_t> samples(2 * static_cast<size_t>(chunkFrames), 0);
    Filter(stream, samples);
    const double stepPerFrame = 1.0 / (10.0 * 44100.0);
    EXPECT_NEAR(stream.GetFilterGain(0), freshFrames * stepPerFrame, stepPerFrame / 4);
}

INSTANTIATE_TEST_SUITE_P(Chunks, FilterStepSizes,
                         ::testing::Values(std::pair{192, 192 + 64}, std::pair{193, 192 + 65},
                                           std::pair{512, 704}, std::pair{1024, 7 * 192 + 128}));

TEST(FilterStepSizes, EveryChunkOf1To191FramesIsOneStep) {
    for (int frames = 1; frames <= 191; ++frames) {
        TOggData stream(kBufferBytes);
        stream.SetFilterPointNow(0, 0.0f);
        stream.SetFilterPoint(0, 1.0f, 10.0f);
        std::vector<int16_t> samples(2 * static_cast<size_t>(frames), 0);
        Filter(stream, samples);
        const double stepPerFrame = 1.0 / (10.0 * 44100.0);
        ASSERT_NEAR(stream.GetFilterGain(0), frames * stepPerFrame, stepPerFrame / 4) << frames;
    }
}

// Runs chunks until every point has landed; returns the seconds of sound that took.
double SecondsUntilLanded(TOggData& stream, size_t chunkFrames) {
    std::vector<int16_t> chunk(2 * chunkFrames, 0);
    size_t frames = 0;
    auto landed = [&stream] {
        for (int i = 0; i < kPoints; ++i) {
            if (stream.GetFilterGain(i) != stream.GetFilterTarget(i)) return false;
        }
        return true;
    };
    while (!landed() && frames < 10 * 44100) {
        Filter(stream, chunk);
        frames += chunkFrames;
    }
    return static_cast<double>(frames) / 44100.0;
}

TEST(FilterRamp, AFiveSecondPresetCompletesEarlyBecauseStepsCountFreshFrames) {
    TOggData wide(kBufferBytes);
    ApplyPreset(wide, Preset("LowPass"), 5.0f);
    const double wideSec = SecondsUntilLanded(wide, 512);
    EXPECT_GT(wideSec, 3.6);
    EXPECT_LT(wideSec, 3.7) << "512-frame chunks: 704 frames' worth per 512 emitted";

    TOggData narrow(kBufferBytes);
    ApplyPreset(narrow, Preset("LowPass"), 5.0f);
    const double narrowSec = SecondsUntilLanded(narrow, 1024);
    EXPECT_GT(narrowSec, 3.45);
    EXPECT_LT(narrowSec, 3.55) << "1024-frame chunks: 1472 frames' worth per 1024 emitted";
}

TEST(FilterRamp, GainsFallSteadilyWhileTheyRamp) {
    TOggData stream(kBufferBytes);
    ApplyPreset(stream, Preset("LowPass"), 1.0f);
    std::vector<int16_t> chunk(2 * 512, 0);
    float previous = stream.GetFilterGain(200);
    for (int i = 0; i < 70; ++i) {  // 70 x 704 frames' worth: past the 44100 of one second
        Filter(stream, chunk);
        const float now = stream.GetFilterGain(200);
        EXPECT_LE(now, previous) << i;
        EXPECT_GE(now, 0.0f) << i;
        previous = now;
    }
    EXPECT_EQ(previous, 0.0f);
}

TEST(FilterRamp, AfterARenderTheDisplayShowsTheGainsTheRenderReached) {
    // A render filters its block in 512-frame chunks under one hold of the lock; the gains the
    // display reads must have caught up with all of them when it returns.
    test::TestStream s = test::MakeNoiseStream(44100, 2, 1.0);
    TOggData& stream = *s.Data;
    TOggData reference(kBufferBytes);
    for (TOggData* each : {&stream, &reference}) {
        each->SetFilterPointNow(0, 0.0f);
        ApplyPreset(*each, Preset("LowPass"), 5.0f);
        each->SetFilterPoint(0, 1.0f, 10.0f);
    }
    stream.Play(false, true);
    ASSERT_EQ(stream.RenderNext(0), test::kBlockFrames * kBytesPerWideFrame);
    std::vector<int16_t> block(2 * static_cast<size_t>(test::kBlockFrames), 0);
    FilterInChunks(reference, block, 512);
    for (int i = 0; i < kPoints; ++i)
        ASSERT_EQ(stream.GetFilterGain(i), reference.GetFilterGain(i)) << i;
    const double stepPerFrame = 1.0 / (10.0 * 44100.0);
    EXPECT_NEAR(stream.GetFilterGain(0), 16 * 704 * stepPerFrame, stepPerFrame);
}

// ---- Bypass and transparency ----

TEST(FilterActivity, AFlatOrWithinToleranceCurveLeavesSamplesBitForBit) {
    const std::vector<int16_t> input = [] {
        std::vector<int16_t> s = test::Noise(44100, 2, 0.05, 11, 1.0).Samples;
        s[0] = -32768;
        s[1] = 32767;
        return s;
    }();
    TOggData flat(kBufferBytes);
    TOggData within(kBufferBytes);
    for (int i = 0; i < kPoints; ++i) within.SetFilterPointNow(i, i % 2 == 0 ? 1.004f : 0.996f);
    for (TOggData* stream : {&flat, &within}) {
        EXPECT_FALSE(stream->FilterActive());
        std::vector<int16_t> out = input;
        FilterInChunks(*stream, out, 512);
        EXPECT_EQ(out, input);
    }
}

TEST(FilterActivity, TheToleranceCountsGainAndTargetTogether) {
    TOggData stream(kBufferBytes);
    stream.SetFilterPointNow(100, 1.006f);
    EXPECT_TRUE(stream.FilterActive());
    stream.SetFilterPointNow(100, 1.0f);
    stream.SetFilterPoint(100, 1.006f, 1.0f);  // gain 1.0, target 1.006: 0.006
    EXPECT_FALSE(stream.FilterActive());
    stream.SetFilterPoint(100, 1.011f, 1.0f);
    EXPECT_TRUE(stream.FilterActive());
}

TEST(FilterActivity, AnActiveCurveAtOneEverywhereIsTransparentButForMinus32768) {
    // The last chunk of a transition: the points land on 1.0 in its first step.
    TOggData stream(kBufferBytes);
    for (int i = 0; i < kPoints; ++i) stream.SetFilterPointNow(i, 1.02f);
    for (int i = 0; i < kPoints; ++i) stream.SetFilterPoint(i, 1.0f, 0.002f);
    ASSERT_TRUE(stream.FilterActive());
    std::vector<int16_t> input = test::Noise(44100, 2, 512.0 / 44100.0, 99, 1.0).Samples;
    input[10] = -32768;
    std::vector<int16_t> out = input;
    Filter(stream, out);
    for (size_t i = 0; i < input.size(); ++i)
        ASSERT_EQ(out[i], input[i] == -32768 ? -32767 : input[i]) << i;
    EXPECT_FALSE(stream.FilterActive());
}

TEST(FilterActivity, LoudBoostedSamplesAreClippedTo32767) {
    TOggData stream(kBufferBytes);
    for (int i = 0; i < kPoints; ++i) stream.SetFilterPointNow(i, 2.0f);
    std::vector<int16_t> samples = test::Sine(44100, 2, 0.02, 441.0, 0.9).Samples;
    Filter(stream, samples);
    const auto [lo, hi] = std::minmax_element(samples.begin() + 256, samples.end());
    EXPECT_EQ(*hi, 32767);
    EXPECT_EQ(*lo, -32767);
}

// ---- Frequency response ----

TEST(FilterResponse, LowPassRemovesAHighToneAndKeepsALowOneInPlace) {
    TOggData stream(kBufferBytes);
    ApplyPreset(stream, Preset("LowPass"), 0.0f);
    const size_t settle = 512;  // the first step looks back into empty history

    const std::vector<int16_t> low = test::Sine(44100, 2, 0.5, 200.0, 0.5).Samples;
    std::vector<int16_t> lowOut = low;
    FilterInChunks(stream, lowOut, 512);
    EXPECT_NEAR(Rms(lowOut, settle) / Rms(low, settle), 1.0, 0.05);
    const std::vector<int16_t> high = test::Sine(44100, 2, 0.5, 12000.0, 0.5).Samples;
    std::vector<int16_t> highOut = high;
    FilterInChunks(stream, highOut, 512);
    EXPECT_LT(Rms(highOut, settle) / Rms(high, settle), 0.1) << "at least 20 dB down";
}

TEST(FilterResponse, ATonePassesInPlaceWithNoDelay) {
    // Unity up to point 40 (3.4 kHz), nothing above: a 200 Hz tone passes whole, and every
    // emitted frame must replace the input frame at its own position.
    TOggData stream(kBufferBytes);
    for (int i = 0; i < kPoints; ++i) stream.SetFilterPointNow(i, i <= 40 ? 1.0f : 0.0f);
    const std::vector<int16_t> in = test::Sine(44100, 2, 0.5, 200.0, 0.5).Samples;
    std::vector<int16_t> out = in;
    FilterInChunks(stream, out, 512);
    double sum = 0.0;
    for (size_t i = 2 * 512; i < in.size(); ++i) sum += std::pow(out[i] - in[i], 2.0);
    const double rmsError = std::sqrt(sum / static_cast<double>(in.size() - 2 * 512));
    // A frame of delay either way would leave an error of about 330 at this amplitude.
    EXPECT_LT(rmsError, 100.0);
}

TEST(FilterResponse, HighPassDoesTheOpposite) {
    TOggData stream(kBufferBytes);
    ApplyPreset(stream, Preset("HighPass"), 0.0f);
    std::vector<int16_t> low = test::Sine(44100, 2, 0.5, 200.0, 0.5).Samples;
    const double lowIn = Rms(low, 512);
    FilterInChunks(stream, low, 512);
    EXPECT_LT(Rms(low, 512) / lowIn, 0.1);
    std::vector<int16_t> high = test::Sine(44100, 2, 0.5, 14650.0, 0.5).Samples;
    const double highIn = Rms(high, 512);
    FilterInChunks(stream, high, 512);
    EXPECT_GT(Rms(high, 512) / highIn, 0.8);
}

// ---- Memory and threads ----

TEST(FilterMemory, FilteringAChunkAllocatesNothing) {
    TOggData stream(kBufferBytes);
    ApplyPreset(stream, Preset("Wave"), 5.0f);
    std::vector<int16_t> samples = test::Noise(44100, 2, 0.1, 3).Samples;
    stream.Lock();
    const test::AllocationScope scope;
    for (int32_t frames : {1, 191, 192, 193, 512, 1024})
        stream.ApplyFilter(samples.data(), frames * 4);
    const int64_t allocations = scope.Count();
    stream.Unlock();
    EXPECT_EQ(allocations, 0);
}

TEST(FilterThreads, SettingCurvesWhileAnotherThreadFiltersIsClean) {
    TOggData stream(kBufferBytes);
    std::atomic<bool> settingDone{false};
    std::atomic<int> chunksFiltered{0};
    std::thread audio([&] {
        std::vector<int16_t> chunk = test::Sine(44100, 2, 512.0 / 44100.0, 1000.0, 0.5).Samples;
        while (!settingDone.load() || chunksFiltered.load() < 20) {
            std::vector<int16_t> out = chunk;
            Filter(stream, out);
            chunksFiltered.fetch_add(1);
        }
    });
    float gainSum = 0.0f;
    for (int round = 0; round < 200; ++round) {
        ApplyPreset(stream, kFilterPresets[static_cast<size_t>(round) % kFilterPresets.size()],
                    0.05f);
        for (int i = 0; i < kPoints; ++i) gainSum += stream.GetFilterGain(i);  // the display
    }
    settingDone.store(true);
    audio.join();
    EXPECT_GE(chunksFiltered.load(), 20);
    EXPECT_TRUE(std::isfinite(gainSum));
    // The last curve set stands whole.
    TOggData reference(kBufferBytes);
    ApplyPreset(reference, kFilterPresets[199 % kFilterPresets.size()], 0.0f);
    for (int i = 0; i < kPoints; ++i)
        EXPECT_EQ(stream.GetFilterTarget(i), reference.GetFilterTarget(i)) << i;
}

TEST(FilterThreads, UISettingsAndReadOutsWhileTheRefillThreadRenders) {
    test::TestStream s = test::MakeNoiseStream(44100, 2, 1.0);
    TOggData& stream = *s.Data;
    stream.Play(true, true);
    std::atomic<bool> uiDone{false};
    std::atomic<int> attempts{0};
    std::atomic<int> blocks{0};
    std::thread refill([&] {
        while (!uiDone.load() || attempts.load() < 10) {
            attempts.fetch_add(1);
            if (stream.RenderNext(0) > 0) blocks.fetch_add(1);
        }
    });
    std::vector<float> values(kSpectrumValueCount);
    for (int round = 0; round < 100; ++round) {
        ApplyPreset(stream, kFilterPresets[static_cast<size_t>(round) % kFilterPresets.size()],
                    0.2f);
        stream.SetAGC(static_cast<float>(round % 11) / 10.0f);
        stream.SetFilterPoint(round % kPoints, 1.5f, 0.01f);
        stream.Fade(round % 2 == 0 ? 0.5f : 1.0f, 0.1f);
        stream.GetSpectrum(values.data());
        (void)stream.GetFilterGain(round % kPoints);
        (void)stream.GetPlayTime();
    }
    uiDone.store(true);
    refill.join();
    EXPECT_EQ(blocks.load(), attempts.load()) << "a looping stream renders every block";
    EXPECT_EQ(stream.GetState(true), 3);
}

}  // namespace
}  // namespace oggmix
