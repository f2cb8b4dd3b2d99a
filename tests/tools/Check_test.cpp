// oggmix-cli check, run as a user runs it: a set's summary, or its problems and exit code 2.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/ExampleSet.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestPaths.h"

namespace oggmix {
namespace {

using testing::HasSubstr;

test::ProgramResult Check(const std::string& set) {
    return test::RunProgram(test::ExecutableDir() + "/oggmix-cli", {"check", set});
}

TEST(CheckCommand, PrintsTheStatesInTheOrderOfTheFileAndTheRuleOfEachChange) {
    const test::TempDir folder;
    const test::ProgramResult result = Check(test::WriteExampleSet(folder));
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    const std::string& out = result.Out;
    EXPECT_LT(out.find("  1 explore: track explore (initial)"), out.find("  2 combat: layers"));
    EXPECT_LT(out.find("  2 combat: layers"), out.find("  3 calm: playlist calm_1, calm_2"));
    EXPECT_THAT(out, HasSubstr("explore -> combat: rule 2\n"));
    EXPECT_THAT(out, HasSubstr("combat -> explore: rule 1\n"));
}

TEST(CheckCommand, ABrokenSetExitsWithEveryProblemAtItsPlace) {
    const test::TempDir folder;
    const std::string set = test::WriteExampleSet(folder);
    std::string json = test::ExampleSetJson();
    const size_t drum = json.find("\"drums\", \"loop_bars\"");
    json.replace(drum, 7, "\"drum\"");
    const size_t order = json.find("\"shuffle\"");
    json.replace(order, 9, "\"shuffled\"");
    (void)folder.Write("set.json", std::vector<uint8_t>(json.begin(), json.end()));

    const test::ProgramResult result = Check(set);
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_EQ(result.Out, "");
    EXPECT_THAT(result.Err, HasSubstr(set + ":" + test::LineAndColumn(json, drum) +
                                      ": states.combat.layers[1].track: no track \"drum\"\n"));
    EXPECT_THAT(result.Err, HasSubstr(set + ":" + test::LineAndColumn(json, order) +
                                      ": states.calm.order: expects one of"));
}

}  // namespace
}  // namespace oggmix
