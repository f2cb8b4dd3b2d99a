// oggmix-cli info, run as a user runs it: the printed lines, the messages and the exit codes.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/OggFixture.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestPaths.h"

namespace oggmix {
namespace {

using testing::HasSubstr;
using testing::StartsWith;

std::string Cli() { return test::ExecutableDir() + "/oggmix-cli"; }

test::ProgramResult Info(const std::vector<std::string>& files) {
    std::vector<std::string> args = {"info"};
    args.insert(args.end(), files.begin(), files.end());
    return test::RunProgram(Cli(), args);
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The lines that do not depend on the comments and cues, from a libvorbisfile decode.
std::string FormatLines(const test::Decoded& reference) {
    return "Channels: " + std::to_string(reference.Channels) + "\n" +
           "Rate: " + std::to_string(reference.RateHz) + "\n" +
           "PcmTotal: " + std::to_string(reference.PcmTotal) + "\n" +
           "TotalTime: " + Format("%.15g", static_cast<float>(reference.TimeTotal)) + "\n" +
           "TotalSize: " + std::to_string(reference.PcmTotal * 4) + "\n" + "Seekable: yes\n" +
           "Playable: yes\n";
}

class InfoCommand : public testing::Test {
protected:
    std::string Write(const std::string& name, const test::Pcm& pcm,
                      const std::vector<std::string>& comments) {
        test::EncodeOptions options;
        options.Comments = comments;
        const auto bytes = test::EncodeOgg(pcm, options);
        FReferences.push_back(test::DecodeReference(bytes));
        return FDir.Write(name, bytes);
    }

    test::TempDir FDir;
    std::vector<test::Decoded> FReferences;
};

TEST_F(InfoCommand, PrintsEachFileExactlyWithABlankLineBetween) {
    const std::string first =
        Write("first.ogg", test::Sine(22050, 1, 1.3, 300.0),
              {"TITLE=ループ", "COMMENT=*looptime,3,1.5,9,2\r\n*loopsample,1,2205,22050\r\nx\ry\n",
               "comment=*looptime,5,1,2,3"});
    const std::string second = Write("second.ogg", test::Sine(44100, 2, 0.4, 500.0), {});

    const test::ProgramResult result = Info({first, second});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Err, "");
    const std::string expected =
        "File: " + first + "\n" + "Vendor: " + FReferences[0].Vendor + "\n" +
        "Comment: TITLE=ループ\n"
        "Comment: COMMENT=*looptime,3,1.5,9,2\\r\\n*loopsample,1,2205,22050\\r\\nx\\ry\\n\n"
        "Comment: comment=*looptime,5,1,2,3\n" +
        FormatLines(FReferences[0]) +
        "Cue 1: 0.100000001 1 -1\n"
        "Cue 3: 1.5 9 2\n"
        "\n"
        "File: " +
        second + "\n" + "Vendor: " + FReferences[1].Vendor + "\n" + FormatLines(FReferences[1]);
    EXPECT_EQ(result.Out, expected);
}

TEST_F(InfoCommand, LoopTagsShowTheCueFromLoopStartAndLoopEnd) {
    const std::string file =
        Write("tags.ogg", test::Sine(22050, 1, 1.0, 300.0), {"LOOPSTART=2205", "LoopEnd=0:00.5"});
    EXPECT_THAT(Info({file}).Out, testing::Not(HasSubstr("Cue ")));
    const test::ProgramResult result = Info({"--loop-tags", file});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_THAT(result.Out, testing::EndsWith("Playable: yes\nCue 0: 0.100000001 0.5 -1\n"));
}

TEST_F(InfoCommand, FailedFilesAreReportedAndTheOthersStillPrinted) {
    const std::string good = Write("good.ogg", test::Sine(44100, 2, 0.3, 440.0), {});
    const std::string missing = FDir.Path() + "/missing.ogg";
    const std::string text = "plain text\n";
    const std::string notOgg =
        FDir.Write("text.ogg", std::vector<uint8_t>(text.begin(), text.end()));

    const test::ProgramResult result = Info({missing, good, notOgg, good});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(result.Err, "oggmix-cli: " + missing + ": no such file\n" + "oggmix-cli: " + notOgg +
                              ": ファイルの読み込みに失敗\n");
    const std::string block =
        "File: " + good + "\nVendor: " + FReferences[0].Vendor + "\n" + FormatLines(FReferences[0]);
    EXPECT_EQ(result.Out, block + "\n" + block);
}

TEST_F(InfoCommand, FilesThatWouldPlaySilenceSayWhyAndHowToConvertThem) {
    const std::string rate = Write("48k.ogg", test::Sine(48000, 2, 0.3, 440.0), {});
    const std::string channels = Write("six.ogg", test::Silence(44100, 6, 0.3), {});
    const test::ProgramResult result = Info({rate, channels});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_THAT(result.Out, HasSubstr("Playable: no (48000 Hz; --resample converts it)\n"));
    EXPECT_THAT(result.Out, HasSubstr("Playable: no (6 channels; --resample converts it)\n"));
}

TEST_F(InfoCommand, WrongUsageExitsWithTwoAndTheUsage) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"info"}, {"info", "--bogus", "x.ogg"}, {"no-such-command"}}) {
        SCOPED_TRACE(args.empty() ? "(none)" : args.back());
        const test::ProgramResult result = test::RunProgram(Cli(), args);
        EXPECT_EQ(result.ExitCode, 2);
        EXPECT_THAT(result.Err, HasSubstr("oggmix-cli info FILE..."));
        EXPECT_EQ(result.Out, "");
    }
}

TEST_F(InfoCommand, HelpPrintsTheUsageOfEverySubcommand) {
    const test::ProgramResult result = test::RunProgram(Cli(), {"--help"});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_THAT(result.Out, StartsWith("usage:\n"));
    EXPECT_THAT(result.Out, HasSubstr("oggmix-cli info FILE..."));
    const test::ProgramResult infoHelp = test::RunProgram(Cli(), {"info", "--help"});
    EXPECT_EQ(infoHelp.ExitCode, 0);
    EXPECT_THAT(infoHelp.Out, HasSubstr("oggmix-cli info FILE..."));
}

TEST_F(InfoCommand, AFileNamedLikeAnOptionIsReadAfterTheDoubleDash) {
    (void)Write("-dash.ogg", test::Silence(44100, 2, 0.1), {});
    test::ScopedCurrentDir inDir(FDir.Path());
    const test::ProgramResult result = test::RunProgram(Cli(), {"info", "--", "-dash.ogg"});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_THAT(result.Out, StartsWith("File: -dash.ogg\n"));
}

TEST(DemoFile, LiesBesideTheProgramWithItsLoopCue) {
    const std::string demo = test::ExecutableDir() + "/demo.ogg";
    const test::ProgramResult result = Info({demo});
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_THAT(result.Out, HasSubstr("\nChannels: 2\nRate: 44100\nPcmTotal: 617400\n"));
    EXPECT_THAT(result.Out, HasSubstr("\nCue 0: 4 12 -1\n"));
}

TEST(DemoFile, IsAudibleThroughoutAndNeverClips) {
    const test::Decoded demo =
        test::DecodeReference(test::ReadFileBytes(test::ExecutableDir() + "/demo.ogg"));
    ASSERT_EQ(demo.Channels, 2);
    // Every half second (intro, loop and ending) carries sound; nothing reaches full scale.
    constexpr size_t kPieceSamples = 44100;  // half a second of stereo
    for (size_t first = 0; first + kPieceSamples <= demo.Samples.size(); first += kPieceSamples) {
        double energy = 0.0;
        int peak = 0;
        for (size_t i = first; i < first + kPieceSamples; ++i) {
            energy += static_cast<double>(demo.Samples[i]) * demo.Samples[i];
            peak = std::max(peak, std::abs(static_cast<int>(demo.Samples[i])));
        }
        SCOPED_TRACE("at " + std::to_string(first / 2 / 44100.0) + " s");
        EXPECT_GT(std::sqrt(energy / kPieceSamples), 300.0);
        EXPECT_LT(peak, 32767);
    }
}

// A copy of the program in a folder of its own, with or without a decoding library beside it.
class InfoCommandElsewhere : public testing::Test {
protected:
    void SetUp() override {
        FCli = FDir.Path() + "/oggmix-cli";
        std::filesystem::copy_file(Cli(), FCli);
    }
    test::TempDir FDir;
    std::string FCli;
};

TEST_F(InfoCommandElsewhere, MissingLibraryIsReportedWithItsFullPath) {
    const test::ProgramResult result =
        test::RunProgram(FCli, {"info", test::ExecutableDir() + "/demo.ogg"});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(result.Err,
              "oggmix-cli: wuvorbis.dllが存在しません。\r\n(" + FDir.Path() + "/libwuvorbis.so)\n");
    EXPECT_EQ(result.Out, "");
}

TEST_F(InfoCommandElsewhere, LibraryLackingAnEntryPointIsReported) {
    std::filesystem::copy_file(test::ExecutableDir() + "/libwuvorbis_nocrosslap.so",
                               FDir.Path() + "/libwuvorbis.so");
    const test::ProgramResult result =
        test::RunProgram(FCli, {"info", test::ExecutableDir() + "/demo.ogg"});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(result.Err,
              "oggmix-cli: " + FDir.Path() + "/libwuvorbis.so: an entry point is missing\n");
}

}  // namespace
}  // namespace oggmix
