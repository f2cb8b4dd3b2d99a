// oggmix-cli render --script, refusing plans: every kind of bad line is refused before anything
// renders, naming the plan's line, with the usage and exit status 2; a call that fails while
// rendering names its line, exits 1 and leaves no file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <iterator>
#include <string>

#include "tests/support/OggFixture.h"
#include "tests/tools/ScriptSupport.h"

namespace oggmix::test {
namespace {

using ::testing::HasSubstr;

struct BadPlan {
    const char* Kind;
    const char* Plan;  // its bad line is the last
    int Line;
};

// Every plan loads a.ogg first, so that only its last line can be wrong.
constexpr BadPlan kBadPlans[] = {
    {"unknown command", "0 load a a.ogg\n0 frob a\n", 2},
    {"missing argument", "0 load a a.ogg\n# comment\n\n0 tempo a 137 4\n", 4},
    {"malformed argument", "0 load a a.ogg\n0 transition a a when=bar fade=2beatz\n", 2},
    {"malformed time", "0 load a a.ogg\n1,5 play a\n", 2},
    {"unknown name", "0 load a a.ogg\n0 play b\n", 2},
    {"name used twice", "0 load a a.ogg\n0 load a a.ogg\n", 2},
    {"time going back", "0 load a a.ogg\n2 play a\n1.99 stop a\n", 3},
    {"option that does not belong", "0 load a a.ogg\n0 play a when=bar\n", 2},
    {"required option missing", "0 load a a.ogg\n0 stinger a when=bar\n", 2},
    {"fade kind without a fade", "0 load a a.ogg\n0 transition a a when=now fadekind=in\n", 2},
    {"a line after the end", "0 load a a.ogg\n1 end\n2 play a\n", 3},
};

class RenderScriptRefusal : public ::testing::TestWithParam<BadPlan> {};

TEST_P(RenderScriptRefusal, NamesTheLineExitsWithStatus2AndWritesNothing) {
    TempDir dir;
    dir.Write("a.ogg", EncodeOgg(Sine(44100, 2, 0.2, 440.0)));
    const ProgramResult result = RenderScript(dir, GetParam().Plan, true);
    EXPECT_EQ(result.ExitCode, 2) << result.Err;
    EXPECT_THAT(result.Err, HasSubstr("plan.txt:" + std::to_string(GetParam().Line) + ": "));
    EXPECT_THAT(result.Err, HasSubstr("usage:"));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/out.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/events.txt"));
}

INSTANTIATE_TEST_SUITE_P(EachKind, RenderScriptRefusal, ::testing::ValuesIn(kBadPlans),
                         [](const auto& info) {
                             std::string name = info.param.Kind;
                             for (char& c : name)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

TEST(RenderScriptFailure, AFileThatCannotBeLoadedNamesItsLineExits1AndLeavesNoFile) {
    TempDir dir;
    dir.Write("a.ogg", EncodeOgg(Sine(44100, 2, 0.2, 440.0)));
    const ProgramResult result =
        RenderScript(dir, "0 load a a.ogg\n0 play a\n0.5 load b missing.ogg\n1 end\n", true);
    EXPECT_EQ(result.ExitCode, 1) << result.Err;
    EXPECT_THAT(result.Err, HasSubstr("plan.txt:3: "));
    EXPECT_THAT(result.Err, HasSubstr("missing.ogg"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2)
        << "only a.ogg and plan.txt";
}

}  // namespace
}  // namespace oggmix::test
