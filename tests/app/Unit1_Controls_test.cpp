// Unit1_Controls_test.cpp: what the window's controls do to the mixer and the streams:
// transport, fades, seek, volumes, tone-filter presets, gain control and the limiter bars;
// and that nothing happens before a file is loaded.
#include <QScrollBar>

#include <cmath>

#include "tests/app/AppTestSupport.h"

namespace oggmix::test {
namespace {

using TForm1Controls = WindowTest;

struct ChannelNames {
    const char* Play;
    const char* Pause;
    const char* Stop;
    const char* FadeIn;
    const char* FadeOut;
    const char* Seek;
    const char* Volume;
    const char* AGC;
};
constexpr ChannelNames kChannel[2] = {
    {"Button2", "Button29", "Button5", "Button3", "Button4", "ScrollBar1", "ScrollBar3",
     "ScrollBar6"},
    {"Button7", "Button30", "Button8", "Button9", "Button10", "ScrollBar2", "ScrollBar4",
     "ScrollBar7"},
};

void RenderBlocks(TOggPlayer& player, int blocks) {
    for (int i = 0; i < blocks; ++i) player.RenderNext();
}

TEST_F(TForm1Controls, NothingHappensAndNothingIsRaisedBeforeAFileIsLoaded) {
    const char* controls[] = {
        "Button2",  "Button29", "Button5",  "Button3",  "Button4",  "Button7",  "Button30",
        "Button8",  "Button9",  "Button10", "Button13", "Button14", "Button15", "Button16",
        "Button17", "Button18", "Button19", "Button20", "Button21", "Button22", "Button23",
        "Button24", "Button25", "Button26", "Button27", "Button28", "Button11", "Button12"};
    for (const char* name : controls) Click(*Window, name);
    for (const ChannelNames& channel : kChannel) {
        MoveBar(*Window, channel.Seek, 7);
        MoveBar(*Window, channel.Volume, 30);
        MoveBar(*Window, channel.AGC, 10);
    }
    MoveBar(*Window, "ScrollBar5", 150);
    Window->AppIdle();

    EXPECT_TRUE(ExceptionMessages(*Window).isEmpty());
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(Window->Player()->Slots(c), nullptr);
        EXPECT_EQ(Window->OggData(c)->GetState(true), 0);
        // No preset reached the idle stream either.
        EXPECT_EQ(Window->OggData(c)->GetFilterTarget(0), 1.0f);
    }
    EXPECT_EQ(RenderPeak(*Window->Player()), 0);
}

TEST_F(TForm1Controls, PauseKeepsThePlaceStopRewindsAndPlayResumes) {
    ASSERT_TRUE(DropFiles(*Window, {ToneFile}));
    TOggData& stream = *Window->OggData(0);
    RenderBlocks(*Window->Player(), 3);

    Click(*Window, "Button29");  // PAUSE
    EXPECT_EQ(stream.GetState(true), 1);
    const float pausedAt = stream.GetTime(true);
    EXPECT_GT(pausedAt, 0.0f);
    RenderBlocks(*Window->Player(), 2);
    EXPECT_EQ(stream.GetTime(true), pausedAt);

    Click(*Window, "Button2");  // PLAY
    EXPECT_EQ(stream.GetState(true), 3);
    EXPECT_EQ(stream.GetTime(true), pausedAt);
    EXPECT_EQ(stream.GetFadeVolume(true), 1.0f);

    Click(*Window, "Button5");  // STOP
    EXPECT_EQ(stream.GetState(true), 1);
    EXPECT_EQ(stream.GetTime(true), 0.0f);
    Click(*Window, "Button2");
    EXPECT_EQ(stream.GetState(true), 3);
    EXPECT_EQ(stream.GetTime(true), 0.0f);
}

TEST_F(TForm1Controls, FadesAimAtFullAndSilenceAndFadeOutSetsAPausedChannelPlaying) {
    ASSERT_TRUE(DropFiles(*Window, {ToneFile}));
    TOggData& stream = *Window->OggData(0);

    Click(*Window, "Button29");  // PAUSE
    Click(*Window, "Button4");   // FadeOut
    EXPECT_EQ(stream.GetState(true), 3);
    EXPECT_EQ(stream.GetFadeTarget(true), 0.0f);
    EXPECT_EQ(stream.GetFadeVolume(true), 1.0f);  // falls only as sound is rendered
    RenderBlocks(*Window->Player(), 4);
    const float faded = stream.GetFadeVolume(true);
    EXPECT_LT(faded, 1.0f);
    EXPECT_GT(faded, 0.0f);  // 5 seconds are far from over

    Click(*Window, "Button3");  // FadeIn
    EXPECT_EQ(stream.GetFadeTarget(true), 1.0f);
    RenderBlocks(*Window->Player(), 2);
    EXPECT_GT(stream.GetFadeVolume(true), faded);

    Click(*Window, "Button2");  // PLAY: full volume at once
    EXPECT_EQ(stream.GetFadeVolume(true), 1.0f);
}

TEST_F(TForm1Controls, EachChannelsButtonsActOnItsOwnChannelOnly) {
    ASSERT_TRUE(DropFiles(*Window, {ToneFile, LongFile}));
    TOggData& first = *Window->OggData(0);
    TOggData& second = *Window->OggData(1);

    Click(*Window, kChannel[1].Pause);
    EXPECT_EQ(first.GetState(true), 3);
    EXPECT_EQ(second.GetState(true), 1);
    Click(*Window, kChannel[1].FadeOut);
    EXPECT_EQ(second.GetFadeTarget(true), 0.0f);
    EXPECT_EQ(first.GetFadeTarget(true), 1.0f);
    Click(*Window, kChannel[0].Stop);
    EXPECT_EQ(first.GetState(true), 1);
    EXPECT_EQ(second.GetState(true), 3);
}

TEST_F(TForm1Controls, MixPlayStartsBothChannelsAtFullVolumeAndMixStopStopsBoth) {
    ASSERT_TRUE(DropFiles(*Window, {ToneFile, LongFile}));
    Click(*Window, "Button10");  // FadeOut on channel 1
    Click(*Window, "Button12");  // STOP (ALL)
    EXPECT_EQ(Window->OggData(0)->GetState(true), 1);
    EXPECT_EQ(Window->OggData(1)->GetState(true), 1);

    Click(*Window, "Button11");  // PLAY (ALL)
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(Window->OggData(c)->GetState(true), 3) << c;
        EXPECT_EQ(Window->OggData(c)->GetFadeVolume(true), 1.0f) << c;
        EXPECT_EQ(Window->OggData(c)->GetFadeTarget(true), 1.0f) << c;
    }
}

TEST_F(TForm1Controls, MovingASeekBarSeeksItsChannel) {
    ASSERT_TRUE(DropFiles(*Window, {ToneFile, LongFile}));
    MoveBar(*Window, "ScrollBar1", 2);
    EXPECT_NEAR(Window->OggData(0)->GetTime(true), 2.0f, 0.01f);
    EXPECT_NEAR(Window->OggData(1)->GetTime(true), 0.0f, 0.01f);
    MoveBar(*Window, "ScrollBar2", 4);
    EXPECT_NEAR(Window->OggData(1)->GetTime(true), 4.0f, 0.01f);
    EXPECT_FALSE(Window->Seeking());
    EXPECT_EQ(Window->OggData(0)->GetState(true), 3);  // play state kept
}

TEST_F(TForm1Controls, SeekBarMovedByTheDisplayDoesNotSeek) {
    ASSERT_TRUE(DropFiles(*Window, {LongFile}));
    MoveBar(*Window, "ScrollBar1", 2);
    // Play on until the decoder stands past 3.0 but rounds to 3.
    TOggData& stream = *Window->OggData(0);
    while (stream.GetTime(true) < 3.05f) Window->Player()->RenderNext();
    const float playedTo = stream.GetTime(true);
    ASSERT_LT(playedTo, 3.5f);

    Window->AppIdle();
    EXPECT_EQ(Find<QScrollBar>(*Window, "ScrollBar1").value(), 3);
    EXPECT_EQ(stream.GetTime(true), playedTo);  // a seek would have put it at 3.0
    EXPECT_FALSE(Window->Drawing());
}

TEST_F(TForm1Controls, ChannelVolumeBarScalesItsChannel) {
    ASSERT_TRUE(DropFiles(*Window, {ToneFile}));
    TOggPlayer& player = *Window->Player();
    const int32_t atFull = RenderPeak(player);
    ASSERT_GT(atFull, 1000);

    MoveBar(*Window, "ScrollBar3", 0);
    EXPECT_EQ(RenderPeak(player), 0);
    MoveBar(*Window, "ScrollBar3", 200);
    const int32_t atDouble = RenderPeak(player);
    EXPECT_GT(atDouble, atFull * 19 / 10);
    EXPECT_LT(atDouble, atFull * 21 / 10);
    MoveBar(*Window, "ScrollBar4", 0);  // channel 1 is empty: nothing changes
    EXPECT_GT(RenderPeak(player), atFull * 19 / 10);
}

TEST_F(TForm1Controls, MasterVolumeBarScalesEveryLoadedChannel) {
    ASSERT_TRUE(DropFiles(*Window, {ToneFile, LongFile}));
    TOggPlayer& player = *Window->Player();
    ASSERT_GT(RenderPeak(player), 1000);
    MoveBar(*Window, "ScrollBar5", 0);
    EXPECT_EQ(RenderPeak(player), 0);
    MoveBar(*Window, "ScrollBar5", 100);
    EXPECT_GT(RenderPeak(player), 1000);
}

TEST_F(TForm1Controls, GainControlBarRaisesAQuietChannelTowardsItsTarget) {
    ASSERT_TRUE(DropFiles(*Window, {ToneFile}));
    TOggPlayer& player = *Window->Player();
    const int32_t before = RenderPeak(player);
    MoveBar(*Window, "ScrollBar6", 10);
    int32_t after = 0;
    for (int i = 0; i < 8; ++i) after = RenderPeak(player);
    EXPECT_GT(after, before * 6 / 5);

    MoveBar(*Window, "ScrollBar6", 0);  // off: the gain no longer changes
    const int32_t held = RenderPeak(player);
    EXPECT_NEAR(RenderPeak(player), held, held / 50);
}

// The preset buttons and the control values each must send, lowest frequency first.
struct PresetCase {
    const char* Button;
    int Channel;
    std::vector<float> Values;
};

void PrintTo(const PresetCase& preset, std::ostream* out) { *out << preset.Button; }

class TForm1Presets : public WindowTest, public ::testing::WithParamInterface<PresetCase> {};

TEST_P(TForm1Presets, PresetButtonSetsItsCurveOnItsChannelOverFiveSeconds) {
    const PresetCase& preset = GetParam();
    ASSERT_TRUE(DropFiles(*Window, {ToneFile, LongFile}));
    Click(*Window, preset.Button);

    TOggData reference(kStreamBufferBytes);
    const auto& v = preset.Values;
    if (v.size() == 4)
        reference.SetFilterCurve4(v[0], v[1], v[2], v[3], 5.0f);
    else
        reference.SetFilterCurve8(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], 5.0f);
    TOggData& chosen = *Window->OggData(preset.Channel);
    TOggData& other = *Window->OggData(1 - preset.Channel);
    for (int i = 0; i < kFilterPointCount; ++i) {
        EXPECT_EQ(chosen.GetFilterTarget(i), reference.GetFilterTarget(i)) << "point " << i;
        EXPECT_EQ(other.GetFilterTarget(i), 1.0f) << "point " << i;
    }
    // A ramp, not a jump: one block in, the curve has only begun to move.
    Window->Player()->RenderNext();
    const float target = reference.GetFilterTarget(0);
    if (target != 1.0f) {
        const float gain = chosen.GetFilterGain(0);
        EXPECT_NE(gain, 1.0f);
        EXPECT_LT(std::abs(gain - 1.0f), std::abs(target - 1.0f) / 2.0f);
    }
}

std::vector<PresetCase> PresetCases() {
    const std::vector<std::vector<float>> values = {
        {1, 0, 0, 0}, {0, 0, 1, 0}, {1, 0, 1, 0}, {2, 1, 1, 1},
        {1, 2, 1, 1}, {1, 1, 2, 1}, {1, 1, 1, 1}, {1.5f, 0.5f, 1.5f, 0.5f, 1.5f, 0.5f, 1.5f, 0.5f}};
    // LowPass, HighPass, LoHiPass, LowReso, MiddleReso, HighReso, OFF, Wave.
    const char* channel0[] = {"Button13", "Button14", "Button18", "Button15",
                              "Button19", "Button16", "Button17", "Button20"};
    const char* channel1[] = {"Button21", "Button22", "Button26", "Button23",
                              "Button27", "Button24", "Button25", "Button28"};
    std::vector<PresetCase> cases;
    for (size_t p = 0; p < values.size(); ++p) {
        cases.push_back({channel0[p], 0, values[p]});
        cases.push_back({channel1[p], 1, values[p]});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllButtons, TForm1Presets, ::testing::ValuesIn(PresetCases()),
                         [](const auto& info) { return std::string(info.param.Button); });

TEST_F(TForm1Controls, LimiterBarsSetTheLimiterInSampleMagnitudes) {
    TOggPlayer& player = *Window->Player();
    MoveBar(*Window, "MinVolumeBar", 0);
    EXPECT_EQ(player.MinLevel(), 0);
    MoveBar(*Window, "MaxVolumeBar", 100);
    EXPECT_EQ(player.MaxLevel(), 32767);
    MoveBar(*Window, "MinVolumeBar", 33);
    EXPECT_EQ(player.MinLevel(), 33 * 32767 / 100);  // 10813: the quotient is truncated
    MoveBar(*Window, "FadeVolumeBar", 2000);
    EXPECT_EQ(player.Down(), 2000);
    EXPECT_EQ(player.Delay(), 44100);
    EXPECT_EQ(player.MinLevel(), 10813);  // every bar sends all three settings
    EXPECT_EQ(player.MaxLevel(), 32767);
}

TEST_F(TForm1Controls, LimiterBarsAtZeroDoNotBreakTheMix) {
    ASSERT_TRUE(DropFiles(*Window, {ToneFile}));
    MoveBar(*Window, "MinVolumeBar", 0);
    MoveBar(*Window, "MaxVolumeBar", 0);
    for (int i = 0; i < 4; ++i) EXPECT_LE(RenderPeak(*Window->Player()), 32767);
    EXPECT_TRUE(ExceptionMessages(*Window).isEmpty());
}

}  // namespace
}  // namespace oggmix::test
