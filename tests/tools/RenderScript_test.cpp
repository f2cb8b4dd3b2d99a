// oggmix-cli render --script, reading and refusing plans: every kind of bad line, and every
// value the player would refuse, is refused before anything renders, in one line naming the
// plan's line and a hint, with exit status 2; a call that fails while rendering names its line,
// exits 1 and leaves no file; quoted file names and comments.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iterator>
#include <string>

#include "tests/support/OggFixture.h"
#include "tests/tools/ScriptSupport.h"

namespace oggmix::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

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
    {"a quote not closed", "0 load a a.ogg\n0 load b \"b.ogg\n", 2},
    // Values the player refuses.
    {"volume out of range", "0 load a a.ogg\n0 volume a 2.5\n", 2},
    {"beats per bar out of range", "0 load a a.ogg\n0 tempo a 120 65 0\n", 2},
    {"bars out of range", "0 load a a.ogg\n0 load b a.ogg\n0 transition a b when=bars:1025\n", 3},
    {"a transition to itself", "0 load a a.ogg\n0 transition a a when=now\n", 2},
    {"a layer of two groups", "0 load a a.ogg\n0 layer g a\n0 layer h a\n", 3},
    {"a stinger on its own grid", "0 load a a.ogg\n0 stinger a grid=a when=beat\n", 2},
};

class RenderScriptRefusal : public ::testing::TestWithParam<BadPlan> {};

TEST_P(RenderScriptRefusal, NamesTheLineAndAHintExitsWithStatus2AndWritesNothing) {
    TempDir dir;
    dir.Write("a.ogg", EncodeOgg(Sine(44100, 2, 0.2, 440.0)));
    const ProgramResult result = RenderScript(dir, GetParam().Plan, true);
    EXPECT_EQ(result.ExitCode, 2) << result.Err;
    EXPECT_THAT(result.Err, StartsWith("oggmix-cli: " + dir.Path() +
                                       "/plan.txt:" + std::to_string(GetParam().Line) + ": "));
    EXPECT_EQ(std::count(result.Err.begin(), result.Err.end(), '\n'), 2) << result.Err;
    EXPECT_THAT(result.Err, HasSubstr("render --help"));
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

TEST(RenderScriptRefusalText, ALongTokenIsCutAndUnprintableBytesAreEscaped) {
    TempDir dir;
    dir.Write("a.ogg", EncodeOgg(Sine(44100, 2, 0.2, 440.0)));
    const std::string name = std::string(1000, 'x') + "\x1b[2J";
    const ProgramResult result = RenderScript(dir, "0 load a a.ogg\n0 play " + name + "\n");
    EXPECT_EQ(result.ExitCode, 2) << result.Err;
    const std::string line = result.Err.substr(0, result.Err.find('\n'));
    EXPECT_THAT(line, HasSubstr("xxx...xxx"));
    EXPECT_THAT(line, HasSubstr("\\x1B[2J"));
    EXPECT_EQ(line.find('\x1b'), std::string::npos);
    EXPECT_LT(line.size(), 400u) << line;
}

TEST(RenderScriptNames, AQuotedFileNameHoldsBlanksAndHashesAndCommentsStillWork) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path() + "/take one");
    dir.Write("take one/a#2.ogg", EncodeOgg(Sine(44100, 2, 0.2, 440.0)));
    dir.Write("b#3.ogg", EncodeOgg(Sine(44100, 2, 0.2, 440.0)));
    const ProgramResult result = RenderScript(dir,
                                              "# a plan\n"
                                              "0 load a \"take one/a#2.ogg\"  # the first\n"
                                              "0 load b b#3.ogg\n"
                                              "0 play a\n"
                                              "0.1 play b #the second\n"
                                              "0.5 end\n");
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_TRUE(std::filesystem::exists(dir.Path() + "/out.wav"));
}

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

TEST(RenderScriptFailure, ADirectoryToLoadIsSaidToBeOne) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path() + "/music.ogg");
    const ProgramResult result = RenderScript(dir, "0 load a music.ogg\n1 end\n");
    EXPECT_EQ(result.ExitCode, 1) << result.Err;
    EXPECT_THAT(result.Err, HasSubstr("plan.txt:1: "));
    EXPECT_THAT(result.Err, HasSubstr("music.ogg: is a directory"));
}

}  // namespace
}  // namespace oggmix::test
