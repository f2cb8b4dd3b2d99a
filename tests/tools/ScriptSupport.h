#pragma once
// ScriptSupport.h: for the tests of oggmix-cli render --script: running a plan, the exact beat
// frames of a whole-number tempo, plan times that land on a chosen frame, click tracks, and a
// fixture that writes tracks, renders plans and compares stretches of the output.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/OggFixture.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestPaths.h"
#include "tests/tools/PlaySupport.h"

namespace oggmix::test {

constexpr int64_t kRateHz = 44100;

// Writes plan as dir/plan.txt and renders it to dir/out.wav (with --events, dir/events.txt).
inline ProgramResult RenderScript(const TempDir& dir, const std::string& plan,
                                  bool events = false) {
    const std::vector<uint8_t> bytes(plan.begin(), plan.end());
    std::vector<std::string> args = {"render", "--script", dir.Write("plan.txt", bytes), "-o",
                                     dir.Path() + "/out.wav"};
    if (events) args.insert(args.end(), {"--events", dir.Path() + "/events.txt"});
    return RunProgram(ExecutableDir() + "/oggmix-cli", args);
}

// The source frame of beat k at bpm beats a minute: the frame nearest to first + k x 60 x rate
// / bpm, a tie rounding up, in integers (floor division, k may be negative).
inline int64_t BeatFrame(int64_t k, int64_t bpm, int64_t first) {
    const int64_t numerator = 2 * k * 60 * kRateHz + bpm;
    const int64_t denominator = 2 * bpm;
    int64_t quotient = numerator / denominator;
    if (numerator % denominator != 0 && numerator < 0) --quotient;
    return first + quotient;
}

// The first bar line at or after frame.
inline int64_t BarAtOrAfter(int64_t frame, int64_t bpm, int64_t beatsPerBar, int64_t first) {
    int64_t bar = (frame - first) * bpm / (60 * kRateHz * beatsPerBar) - 2;
    while (BeatFrame(bar * beatsPerBar, bpm, first) < frame) ++bar;
    return BeatFrame(bar * beatsPerBar, bpm, first);
}

// A plan time whose llround(S x 44100) is frame.
inline std::string PlanTime(int64_t frame) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", static_cast<double>(frame) / kRateHz);
    return text;
}

// Stereo silence with a burst of 200 frames (a rising ramp, then falling) on every beat.
inline Pcm ClickTrack(int64_t frames, int64_t bpm, int64_t first) {
    constexpr int64_t kClickFrames = 200;
    Pcm pcm{static_cast<int32_t>(kRateHz), 2, std::vector<int16_t>(2 * frames)};
    for (int64_t k = 0; BeatFrame(k, bpm, first) < frames; ++k) {
        const int64_t at = BeatFrame(k, bpm, first);
        for (int64_t i = 0; i < kClickFrames && at + i < frames; ++i) {
            const auto value =
                static_cast<int16_t>(i < kClickFrames / 2 ? i * 150 : (kClickFrames - i) * -150);
            pcm.Samples[2 * (at + i)] = value;
            pcm.Samples[2 * (at + i) + 1] = value;
        }
    }
    return pcm;
}

// The reference decode as 16-bit output holds it: -32768 is never written.
inline std::vector<int16_t> Heard(std::vector<int16_t> samples) {
    for (int16_t& sample : samples) sample = sample == -32768 ? int16_t{-32767} : sample;
    return samples;
}

// A stretch of the output that must equal a stretch of a reference.
struct Segment {
    const std::vector<int16_t>* Reference;
    int64_t SourceFrame;  // where in the reference it starts
    int64_t OutputFrame;  // where in the output it starts
};

// Compares out with the segments, each up to the next (the last up to the end of out); says
// where the first difference is.
inline void ExpectSegments(const std::vector<int16_t>& out, const std::vector<Segment>& segments) {
    for (size_t i = 0; i < segments.size(); ++i) {
        const Segment& s = segments[i];
        const size_t begin = static_cast<size_t>(2 * s.OutputFrame);
        const size_t end = i + 1 < segments.size() ? 2 * segments[i + 1].OutputFrame : out.size();
        ASSERT_LE(end, out.size()) << "the output is too short";
        const auto source = s.Reference->begin() + 2 * s.SourceFrame;
        ASSERT_LE(2 * s.SourceFrame + static_cast<int64_t>(end - begin),
                  static_cast<int64_t>(s.Reference->size()));
        const auto [at, _] = std::mismatch(out.begin() + begin, out.begin() + end, source);
        ASSERT_EQ(at, out.begin() + end) << "segment " << i << " (output frame " << s.OutputFrame
                                         << ") differs at output frame " << (at - out.begin()) / 2;
    }
}

// Writes tracks into a folder of its own and renders plans there.
class ScriptTest : public ::testing::Test {
protected:
    // Writes the track, returns its decode as the output holds it.
    std::vector<int16_t> Track(const std::string& name, const Pcm& pcm,
                               const std::vector<std::string>& comments = {}) {
        const std::vector<uint8_t> ogg = EncodeOgg(pcm, {.Comments = comments});
        dir.Write(name, ogg);
        return Heard(DecodeReference(ogg).Samples);
    }

    std::vector<int16_t> Render(const std::string& plan, bool events = false) {
        const ProgramResult result = RenderScript(dir, plan, events);
        EXPECT_EQ(result.ExitCode, 0) << result.Err;
        if (result.ExitCode != 0) return {};
        return ReadPcm(dir.Path() + "/out.wav", 44);
    }

    TempDir dir;
};

}  // namespace oggmix::test
