// oggmix-cli render --set: a music set's states changed by its rule table, and its parameters
// driving layer volumes, checked on the frames the events tell and bit for bit (or within one
// LSB) against plain decodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/ExampleSet.h"
#include "tests/support/OggFixture.h"
#include "tests/support/Signals.h"
#include "tests/tools/ScriptSupport.h"

namespace oggmix::test {
namespace {

constexpr uint32_t kSeed = 20261209;
constexpr int64_t kBar = 2 * kRateHz;  // at 120 beats a minute, 4 to the bar
constexpr int64_t kBeat = kBar / 4;

class RenderSet : public ScriptTest {
protected:
    // Writes the set and the plan and renders them, with the events.
    std::vector<int16_t> RenderWithSet(const std::string& json, const std::string& plan,
                                       const std::vector<std::string>& more = {}) {
        return RenderSetFile(dir.Write("set.json", std::vector<uint8_t>(json.begin(), json.end())),
                             plan, more);
    }

    std::vector<int16_t> RenderSetFile(const std::string& set, const std::string& plan,
                                       const std::vector<std::string>& more = {}) {
        const std::string planPath =
            dir.Write("plan.txt", std::vector<uint8_t>(plan.begin(), plan.end()));
        std::vector<std::string> args = {"render",
                                         "--set",
                                         set,
                                         "--script",
                                         planPath,
                                         "-o",
                                         dir.Path() + "/out.wav",
                                         "--events",
                                         dir.Path() + "/events.txt"};
        args.insert(args.end(), more.begin(), more.end());
        const ProgramResult result = RunProgram(ExecutableDir() + "/oggmix-cli", args);
        EXPECT_EQ(result.ExitCode, 0) << result.Err;
        if (result.ExitCode != 0) return {};
        return ReadPcm(dir.Path() + "/out.wav", 44);
    }

    // The events file's lines of one kind, as written.
    std::vector<std::string> Events(const std::string& kind) {
        std::ifstream in(dir.Path() + "/events.txt");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            if (line.find(" " + kind + " ") != std::string::npos) lines.push_back(line);
        return lines;
    }
};

// The rules are written with the least specific last, so that the last match in the file
// would be the wrong one at every level.
TEST_F(RenderSet, EachChangeFollowsItsMostSpecificRuleAndTheLatestRequestWins) {
    std::vector<std::vector<int16_t>> decoded;
    for (uint32_t i = 0; i < 4; ++i) {
        const std::string name = std::string(1, static_cast<char>('a' + i));
        decoded.push_back(Track(name + ".ogg", Noise(44100, 2, 8.0, kSeed + i, 0.2)));
    }
    const std::string json = R"({
      "tracks": { "a": {"file": "a.ogg", "tempo": {"bpm": 120}},
                  "b": {"file": "b.ogg", "tempo": {"bpm": 120}},
                  "c": {"file": "c.ogg", "tempo": {"bpm": 120}},
                  "d": {"file": "d.ogg", "tempo": {"bpm": 120}} },
      "states": { "a": {"track": "a"}, "b": {"track": "b"}, "c": {"track": "c"},
                  "d": {"track": "d"} },
      "transitions": [
        { "from": "a", "to": "b", "when": "bars:4" },
        { "from": "a", "to": "*", "when": "bars:2" },
        { "from": "*", "to": "b", "when": "beat" },
        { "from": "*", "to": "*", "when": "bar" } ] })";
    // Each state starts from its start, so its grid begins where it lands.
    const int64_t toC = 2 * kBar;         // a -> * : a's second bar line
    const int64_t toB = toC + kBeat;      // * -> b : c's next beat after 0.1 s in
    const int64_t toA = toB + kBar;       // * -> * : b's next bar
    const int64_t toB2 = toA + 4 * kBar;  // a -> b, asked after a -> d (bars:2)
    const std::vector<int16_t> out = RenderWithSet(
        json, "0 state a\n0.1 state c\n" + PlanTime(toC + 4410) + " state b\n" +
                  PlanTime(toB + 4410) + " state a\n" + PlanTime(toA + 4410) + " state d\n" +
                  PlanTime(toA + 8820) + " state b\n" + PlanTime(toB2 + kBar) + " end\n");
    ExpectSegments(out, {{&decoded[0], 0, 0},
                         {&decoded[2], 0, toC},
                         {&decoded[1], 0, toB},
                         {&decoded[0], 0, toA},
                         {&decoded[1], 0, toB2}});
    const std::vector<std::string> expected = {
        "0 state - a", std::to_string(toC) + " state a c", std::to_string(toB) + " state c b",
        std::to_string(toA) + " state b a", std::to_string(toB2) + " state a b"};
    EXPECT_EQ(Events("state"), expected);
}

// The README's set starts in explore; to combat the rule waits for explore's next marker, 8 s
// in, and goes through the bridge.
TEST_F(RenderSet, TheReadmeSetChangesOnTheSourcesNextMarker) {
    ASSERT_FALSE(RenderSetFile(WriteExampleSet(dir), "1 state combat\n12 end\n").empty());
    const std::vector<std::string> expected = {"0 state - explore", "352800 state explore combat"};
    EXPECT_EQ(Events("state"), expected);
}

// Without keys, play --set plays the set's initial state through the device until --seconds.
TEST_F(RenderSet, PlayingASetStartsItsInitialStateThroughTheDevice) {
    const std::string set = WriteExampleSet(dir);
    setenv("OGGMIX_AUDIO", ("wav:" + dir.Path() + "/heard.wav").c_str(), 1);
    const ProgramResult result =
        RunProgram(ExecutableDir() + "/oggmix-cli", {"play", "--set", set, "--seconds", "1"});
    unsetenv("OGGMIX_AUDIO");
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_TRUE(result.Out.ends_with(" state - explore\n")) << result.Out;
    const std::vector<int16_t> heard = ReadPcm(dir.Path() + "/heard.wav", 44);
    EXPECT_TRUE(std::any_of(heard.begin(), heard.end(), [](int16_t s) { return s != 0; }));
}

// At 0.6875 the curve is on its second segment: 0.6 + 0.8 x 0.1875 = 0.75, a gain the
// mixer's volume steps of 1/256 hold exactly.
TEST_F(RenderSet, AParameterCurveSetsTheLayerGainWithinOneLsb) {
    const std::vector<int16_t> decoded = Track("x.ogg", Noise(44100, 2, 2.0, kSeed, 0.5));
    const std::string json = R"({
      "tracks": { "x": {"file": "x.ogg"} },
      "parameters": { "intensity": {"min": 0, "max": 1, "default": 0} },
      "states": { "s": { "layers": [ { "track": "x", "volume": { "parameter": "intensity",
                         "curve": [[0, 0], [0.5, 0.6], [1, 1]] } } ] } } })";
    const std::vector<int16_t> out =
        RenderWithSet(json, "0 param intensity 0.6875\n0 state s\n1.5 end\n");
    ASSERT_EQ(out.size(), 2u * 66150);
    double worst = 0.0;
    for (size_t i = 0; i < out.size(); ++i)
        worst = std::max(worst, std::abs(out[i] - decoded[i] * 0.75));
    EXPECT_LE(worst, 1.0);
}

// At 123 beats a minute a bar is 86048.78 frames: a 2-bar layer that simply looped would
// drift from the grid by half a frame a round, 22 frames over 100 bars.
TEST_F(RenderSet, ATwoBarLayerRestartsOnEverySecondBarLineOfItsGroupToTheFrame) {
    const auto barFrame = [](int64_t bar) {
        return static_cast<int64_t>(std::floor(bar * 4 * 60.0 * 44100 / 123 + 0.5));
    };
    const int64_t groupFrames = barFrame(4), layerFrames = barFrame(2) - 1;
    Track("pad.ogg", Silence(44100, 2, static_cast<double>(groupFrames) / kRateHz));
    const std::vector<int16_t> drums =
        Track("drums.ogg", Noise(44100, 2, static_cast<double>(layerFrames) / kRateHz, kSeed, 0.3));
    ASSERT_EQ(drums.size(), 2u * layerFrames);
    const std::string json = R"({
      "tracks": { "pad": {"file": "pad.ogg", "tempo": {"bpm": 123}},
                  "drums": {"file": "drums.ogg"} },
      "states": { "play": { "layers": [ { "track": "pad" },
                                        { "track": "drums", "loop_bars": 2 } ] } } })";
    constexpr int64_t kPasses = 25;  // 100 bars
    const std::vector<int16_t> out =
        RenderWithSet(json, "0 state play\n" + PlanTime(kPasses * groupFrames) + " end\n");
    std::vector<int16_t> expected(2 * kPasses * groupFrames);
    for (int64_t pass = 0; pass < kPasses; ++pass) {
        for (const int64_t bar : {0, 2}) {
            const int64_t at = pass * groupFrames + barFrame(bar);
            std::copy(drums.begin(), drums.end(), expected.begin() + 2 * at);
        }
    }
    ASSERT_EQ(out.size(), expected.size());
    const auto [at, _] = std::mismatch(out.begin(), out.end(), expected.begin());
    EXPECT_EQ(at, out.end()) << "differs at output frame " << (at - out.begin()) / 2;
}

// A silent stinger, so that what is heard under it is the ducked music alone.
TEST_F(RenderSet, AStingerDucksTheRestOfTheSetAndReleasesItBackToFullVolume) {
    const std::vector<int16_t> music = Track("music.ogg", Noise(44100, 2, 6.0, kSeed, 0.3));
    Track("hit.ogg", Silence(44100, 2, 1.0));
    const std::string json = R"({
      "tracks": { "music": {"file": "music.ogg", "tempo": {"bpm": 120}},
                  "hit": {"file": "hit.ogg"} },
      "states": { "m": {"track": "music"} },
      "stingers": { "hit": { "track": "hit", "when": "beat", "duck_db": -6,
                             "duck_attack_seconds": 0.02, "duck_release_seconds": 0.3 } } })";
    // The stinger sounds from the beat at 1.5 s for a second.
    const std::vector<int16_t> out = RenderWithSet(json, "0 state m\n1.1 stinger hit\n4 end\n");
    ASSERT_EQ(out.size(), 2u * 4 * kRateHz);
    const auto levelDb = [&](double from, double to) {
        double heard = 0.0, played = 0.0;
        for (auto i = static_cast<size_t>(2 * from * kRateHz); i < 2 * to * kRateHz; ++i) {
            heard += static_cast<double>(out[i]) * out[i];
            played += static_cast<double>(music[i]) * music[i];
        }
        return 10.0 * std::log10(heard / played);
    };
    EXPECT_NEAR(levelDb(1.8, 2.2), -6.0, 0.1);
    EXPECT_NEAR(levelDb(3.2, 4.0), 0.0, 0.001);
}

TEST_F(RenderSet, PlaylistItemsJoinGaplesslyAndAShuffleNeverRepeatsAcrossRounds) {
    constexpr int64_t kItemFrames = 4410, kRounds = 1000, kItems = 3;
    std::vector<std::vector<int16_t>> items;
    for (uint32_t i = 0; i < kItems; ++i)
        items.push_back(
            Track("p" + std::to_string(i) + ".ogg", Noise(44100, 2, 0.1, kSeed + i, 0.3)));
    const std::string json = R"({
      "tracks": { "p0": {"file": "p0.ogg"}, "p1": {"file": "p1.ogg"}, "p2": {"file": "p2.ogg"} },
      "states": { "calm": { "playlist": ["p0", "p1", "p2"], "order": "shuffle" } } })";
    const int64_t frames = kRounds * kItems * kItemFrames;
    const std::vector<int16_t> out =
        RenderWithSet(json, "0 state calm\n" + PlanTime(frames) + " end\n", {"--seed", "7"});
    std::vector<int16_t> expected;
    std::vector<int> order;
    int64_t frame = 0;
    for (const std::string& line : Events("playlist")) {
        ASSERT_EQ(line.substr(0, line.find(' ')), std::to_string(frame)) << "a gap before " << line;
        order.push_back(line.back() - '0');
        expected.insert(expected.end(), items[order.back()].begin(), items[order.back()].end());
        frame += kItemFrames;
    }
    ASSERT_EQ(order.size(), static_cast<size_t>(kRounds * kItems));
    for (size_t i = 0; i < order.size(); ++i) {
        if (i > 0) {
            ASSERT_NE(order[i], order[i - 1]) << "item " << i;
        }
        if (i % kItems == 0) {
            ASSERT_TRUE(std::is_permutation(order.begin() + i, order.begin() + i + kItems,
                                            std::vector<int>{0, 1, 2}.begin()))
                << "round " << i / kItems;
        }
    }
    EXPECT_TRUE(out == expected);
}

}  // namespace
}  // namespace oggmix::test
