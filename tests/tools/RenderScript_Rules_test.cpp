// oggmix-cli render --script, how calls meet on the player's one timeline: a later call for a
// track withdraws what is still waiting for it, the latest request wins, a destination or a
// stinger already sounding goes on sounding, and at a transition only the destination's bar
// is told. Each output is checked bit for bit against plain decodes where it is defined.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/OggFixture.h"
#include "tests/tools/ScriptSupport.h"

namespace oggmix::test {
namespace {

constexpr uint32_t kSeed = 20261208;
constexpr int64_t kBar = 2 * kRateHz;  // at 120 beats a minute, 4 to the bar
constexpr int64_t kDipFrames = 220;    // a sounding track's dip on either side of a jump
const std::vector<std::string> kTempo{"BPM=120"};

class PlanRules : public ScriptTest {
protected:
    std::vector<int16_t> NoiseTrack(const std::string& name, double seconds, uint32_t seed,
                                    const std::vector<std::string>& comments = {}) {
        return Track(name, Noise(44100, 2, seconds, seed, 0.2), comments);
    }
};

TEST_F(PlanRules, AStopWithdrawsAStartStillWaitingForItsFrame) {
    NoiseTrack("a.ogg", 3.0, kSeed);
    const std::vector<int16_t> out =
        Render("0 load a a.ogg\n0 play a at=88200\n0.5 stop a\n3 end\n");
    ASSERT_EQ(out.size(), 2u * 3 * kRateHz);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](int16_t s) { return s == 0; }));
}

TEST_F(PlanRules, StoppingTheDestinationWithdrawsTheWholeTransition) {
    const std::vector<int16_t> a = NoiseTrack("a.ogg", 4.0, kSeed, kTempo);
    NoiseTrack("b.ogg", 4.0, kSeed + 1);
    const std::vector<int16_t> out = Render(
        "0 load a a.ogg\n0 load b b.ogg\n0 play a\n0.5 transition a b when=bar\n1 stop b\n3 end\n");
    ExpectSegments(out, {{&a, 0, 0}});
}

TEST_F(PlanRules, FromADestinationStillWaitingTheFirstSourceGoesOnItsFrame) {
    const std::vector<int16_t> a = NoiseTrack("a.ogg", 4.0, kSeed, kTempo);
    NoiseTrack("b.ogg", 4.0, kSeed + 1);
    const std::vector<int16_t> c = NoiseTrack("c.ogg", 4.0, kSeed + 2);
    const std::vector<int16_t> out = Render(
        "0 load a a.ogg\n0 load b b.ogg\n0 load c c.ogg\n0 play a\n"
        "0.1 transition a b when=bar\n0.2 transition b c when=bar\n3 end\n");
    ExpectSegments(out, {{&a, 0, 0}, {&c, 0, kBar}});
}

TEST_F(PlanRules, ADestinationAlreadyPlayingJumpsToItsEntryWithoutFallingSilent) {
    NoiseTrack("a.ogg", 4.0, kSeed, kTempo);
    const std::vector<int16_t> b = NoiseTrack("b.ogg", 4.0, kSeed + 1);
    const std::vector<int16_t> out = Render(
        "0 load a a.ogg\n0 load b b.ogg\n0 play a\n0 play b\n"
        "0.5 transition a b when=bar to=start\n3 end\n");
    // Around the jump b dips but never falls silent: every 32 frames hold sound.
    for (int64_t from = kBar - kDipFrames; from < kBar + kDipFrames; from += 32) {
        const auto first = out.begin() + 2 * from;
        EXPECT_TRUE(std::any_of(first, first + 64, [](int16_t s) { return s != 0; }))
            << "silent at output frame " << from;
    }
    // Once back up, b from its start (plus the frames of the ramp) and nothing of a.
    ExpectSegments(out, {{&b, 2 * kDipFrames, kBar + 2 * kDipFrames}});
}

TEST_F(PlanRules, AStingerTriggeredAgainWhileItSoundsStartsAnewOnItsBeat) {
    constexpr int64_t kBeat = kRateHz / 2;
    const std::vector<int16_t> silence =
        Track("grid.ogg", Pcm{44100, 2, std::vector<int16_t>(2 * 4 * kRateHz)}, kTempo);
    ASSERT_TRUE(std::all_of(silence.begin(), silence.end(), [](int16_t v) { return v == 0; }));
    const std::vector<int16_t> s = NoiseTrack("s.ogg", 1.5, kSeed + 3);
    const std::vector<int16_t> out = Render(
        "0 load grid grid.ogg\n0 load s s.ogg\n0 play grid\n0.1 stinger s grid=grid when=beat\n"
        "0.6 stinger s grid=grid when=beat\n2.4 end\n");
    // The first from its beat until the second's dip; the second from its beat on.
    const std::vector<int16_t> first(out.begin(), out.begin() + 2 * (2 * kBeat - kDipFrames));
    ExpectSegments(first, {{&silence, 0, 0}, {&s, 0, kBeat}});
    ExpectSegments(out, {{&s, 2 * kDipFrames, 2 * kBeat + 2 * kDipFrames}});
}

TEST_F(PlanRules, AtATransitionOnlyTheDestinationsBarIsTold) {
    NoiseTrack("a.ogg", 4.0, kSeed, kTempo);
    NoiseTrack("b.ogg", 4.0, kSeed + 1, kTempo);
    Render(
        "0 load a a.ogg\n0 load b b.ogg\n0 play a\n0.5 transition a b when=bar fade=0.5\n3 end\n",
        true);
    std::ifstream events(dir.Path() + "/events.txt");
    std::vector<std::string> bars;
    for (std::string line; std::getline(events, line);)
        if (line.rfind(std::to_string(kBar) + " bar ", 0) == 0) bars.push_back(line);
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_NE(bars[0].find(" b "), std::string::npos) << bars[0];
}

}  // namespace
}  // namespace oggmix::test
