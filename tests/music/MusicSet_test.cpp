// MusicSet: a composer's set file read and checked whole: the example loads as written, the
// rule a change follows, and each kind of problem told at its value's line, column and path.
#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "oggmix/MusicSet.h"
#include "tests/support/ExampleSet.h"
#include "tests/support/OggFixture.h"
#include "tests/support/TestPaths.h"

namespace oggmix {
namespace {

using testing::Contains;
using testing::HasSubstr;
using testing::StartsWith;

class MusicSetFile : public testing::Test {
protected:
    static void SetUpTestSuite() {
        FFolder = std::make_unique<test::TempDir>();
        (void)test::WriteExampleSet(*FFolder);
        // 5 s at 120 bpm in 4/4: two and a half bars.
        (void)FFolder->Write("drums_odd.ogg", test::EncodeOgg(test::Sine(44100, 1, 5.0, 330.0),
                                                              {0.0f, {}, 1, false}));
    }
    static void TearDownTestSuite() { FFolder.reset(); }

    static MusicSet Load(const std::string& json) {
        return LoadSet(std::as_bytes(std::span(json.data(), json.size())), "set.json",
                       FFolder->Path());
    }
    // The problems of a set that must not load.
    static std::vector<std::string> Problems(const std::string& json) {
        try {
            (void)Load(json);
        } catch (const MusicSetError& e) {
            return e.Problems();
        }
        ADD_FAILURE() << "the set loaded";
        return {};
    }

    static std::unique_ptr<test::TempDir> FFolder;
};

std::unique_ptr<test::TempDir> MusicSetFile::FFolder;

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST_F(MusicSetFile, TheExampleLoadsWithItsPartsInTheOrderOfTheFile) {
    const MusicSet set = Load(test::ExampleSetJson());
    std::vector<std::string> states;
    for (const SetState& state : set.States) states.push_back(state.Name);
    EXPECT_THAT(states, testing::ElementsAre("explore", "combat", "calm"));
    EXPECT_EQ(set.InitialState, "explore");

    const SetTrack& drums = *set.FindTrack("drums");
    EXPECT_EQ(drums.Path, FFolder->Path() + "/drums_2bars.ogg");
    EXPECT_EQ(drums.LengthFrames, test::DecodeReference(test::ReadFileBytes(drums.Path)).PcmTotal);
    const SetLayer& layer = set.FindState("combat")->Layers.at(1);
    EXPECT_EQ(layer.LoopBars, 2);
    ASSERT_TRUE(layer.Volume.Curve);
    EXPECT_DOUBLE_EQ(layer.Volume.Curve->At(0.75), 0.8);  // halfway between 0.6 and 1
    ASSERT_EQ(set.FindTrack("explore")->Markers.size(), 2u);
    EXPECT_EQ(set.FindTrack("explore")->Markers[1].Name, "exit_b");
    EXPECT_EQ(set.FindStinger("hit")->DuckDb, -6.0);
}

TEST_F(MusicSetFile, AChangeFollowsTheMostSpecificRuleAndAmongEqualsTheLast) {
    const std::string json = R"({
  "tracks": { "t": { "file": "bridge.ogg" } },
  "states": { "a": { "track": "t" }, "b": { "track": "t" }, "c": { "track": "t" } },
  "transitions": [
    { "from": "a", "to": "b", "when": "now" },
    { "from": "*", "to": "*", "when": "now" },
    { "from": "a", "to": "*", "when": "now" },
    { "from": "*", "to": "b", "when": "now" },
    { "from": "*", "to": "*", "when": "now" },
    { "from": "a", "to": "*", "when": "now" }
  ]
})";
    const MusicSet set = Load(json);
    const auto rule = [&](const char* from, const char* to) {
        return set.RuleFor(from, to) - set.Transitions.data();
    };
    EXPECT_EQ(rule("a", "b"), 0);
    EXPECT_EQ(rule("a", "c"), 5);
    EXPECT_EQ(rule("c", "b"), 3);
    EXPECT_EQ(rule("c", "a"), 4);
}

TEST_F(MusicSetFile, EveryProblemIsToldInTheOrderOfTheFile) {
    std::string json = Replaced(test::ExampleSetJson(), "\"duck_db\": -6", "\"duck_db\": 3");
    json = Replaced(json, "\"combat\":  { \"file\"", "\"combat\":  { \"flie\"");
    const std::vector<std::string> problems = Problems(json);
    ASSERT_EQ(problems.size(), 3u);  // the unknown key, no "file", the range
    EXPECT_THAT(problems[0], HasSubstr("tracks.combat: no \"file\""));
    EXPECT_THAT(problems[1], HasSubstr("tracks.combat.flie: unknown key"));
    EXPECT_THAT(problems[2], HasSubstr("stingers.hit.duck_db: "));
}

TEST_F(MusicSetFile, NestingDeeperThanAnySetIsRefusedAtItsBracket) {
    // Deeper than the parser's own limit, where it throws rather than reports.
    const std::string json =
        R"({"tracks": )" + std::string(100, '[') + std::string(100, ']') + R"(, "states": {}})";
    const std::vector<std::string> problems = Problems(json);
    ASSERT_EQ(problems.size(), 1u);
    // The 33rd level, the outer brace the first.
    EXPECT_THAT(problems[0],
                StartsWith("set.json:" + test::LineAndColumn(json, json.find('[') + 31) + ": "));
}

// A change to the example, and the problem it makes: told at Value, the first after Needle.
struct BrokenSet {
    const char* Name;
    std::vector<std::pair<std::string, std::string>> Changes;
    std::string Needle;
    std::string Value;
    std::string Path;
    std::string Says;
};

void PrintTo(const BrokenSet& broken, std::ostream* out) { *out << broken.Name; }

class MusicSetProblem : public MusicSetFile, public testing::WithParamInterface<BrokenSet> {};

TEST_P(MusicSetProblem, IsToldAtItsValueWithItsPath) {
    const BrokenSet& broken = GetParam();
    std::string json = test::ExampleSetJson();
    for (const auto& [from, to] : broken.Changes) json = Replaced(json, from, to);
    const size_t needle = json.find(broken.Needle);
    ASSERT_NE(needle, std::string::npos);
    const size_t at = json.find(broken.Value, needle);
    EXPECT_THAT(Problems(json), Contains(StartsWith("set.json:" + test::LineAndColumn(json, at) +
                                                    ": " + broken.Path + ": " + broken.Says)));
}

INSTANTIATE_TEST_SUITE_P(
    EachKind, MusicSetProblem,
    testing::Values(
        BrokenSet{"UnknownName",
                  {{"{ \"track\": \"drums\"", "{ \"track\": \"drum\""}},
                  "\"drum\"",
                  "\"drum\"",
                  "states.combat.layers[1].track",
                  "no track \"drum\""},
        BrokenSet{"WrongType",
                  {{"\"tempo\": { \"bpm\": 120 }", "\"tempo\": { \"bpm\": \"fast\" }"}},
                  "\"fast\"",
                  "\"fast\"",
                  "tracks.combat.tempo.bpm",
                  "expects a number, not a string"},
        BrokenSet{"OutOfRange",
                  {{"\"duck_db\": -6", "\"duck_db\": 3"}},
                  "\"duck_db\"",
                  "3",
                  "stingers.hit.duck_db",
                  "expects a number from -96 to 0"},
        BrokenSet{"UnknownKey",
                  {{"\"order\": \"shuffle\"", "\"ordre\": \"shuffle\""}},
                  "\"ordre\"",
                  "\"ordre\"",
                  "states.calm.ordre",
                  "unknown key \"ordre\""},
        BrokenSet{"LayerNotWholeBars",
                  {{"drums_2bars.ogg", "drums_odd.ogg"}},
                  "{ \"track\": \"drums\"",
                  "\"drums\"",
                  "states.combat.layers[1].track",
                  "track \"drums\" is 2.5 bars"},
        BrokenSet{"BridgeCycle",
                  {{"\"via\": \"bridge\"", "\"via\": \"state:calm\""},
                   {"\"equal_power\" }",
                    "\"equal_power\" },\n"
                    "    { \"from\": \"calm\", \"to\": \"combat\", \"via\": \"state:explore\" }"}},
                  "\"state:explore\"",
                  "\"state:explore\"",
                  "transitions[3].via",
                  "a cycle of bridges on the way to \"combat\": explore -> calm -> explore"},
        BrokenSet{"FileDoesNotLoad",
                  {{"\"bridge.ogg\"", "\"nowhere.ogg\""}},
                  "\"nowhere.ogg\"",
                  "\"nowhere.ogg\"",
                  "tracks.bridge.file",
                  "cannot load \"nowhere.ogg\": no such file"},
        BrokenSet{"MarkerTheSourceLacks",
                  {{"\"when\": \"marker\"", "\"when\": \"marker:exit_c\""}},
                  "\"marker:exit_c\"",
                  "\"marker:exit_c\"",
                  "transitions[1].when",
                  "state \"explore\" plays track \"explore\", which has no marker \"exit_c\""}),
    [](const testing::TestParamInfo<BrokenSet>& info) { return info.param.Name; });

}  // namespace
}  // namespace oggmix
