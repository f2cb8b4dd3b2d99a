// oggmix-cli spectrum, run as a user runs it: the printed mix spectrum shows the tone playing
// at the moment asked for, takes the mix options, and refuses bad usage.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/OggFixture.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {
namespace {

using ::testing::HasSubstr;

// A tone in transform bin k shows in entries 2k - 1 and 2k: about 86.13 Hz per entry.
constexpr double kHzPerEntry = 44100.0 / 512.0;

class SpectrumCommand : public ::testing::Test {
protected:
    static ProgramResult Spectrum(const std::vector<std::string>& args) {
        std::vector<std::string> all{"spectrum"};
        all.insert(all.end(), args.begin(), args.end());
        return RunProgram(ExecutableDir() + "/oggmix-cli", all);
    }

    // Runs the command and parses its 256 lines, failing the test otherwise.
    static std::vector<double> Values(const std::vector<std::string>& args) {
        const ProgramResult result = Spectrum(args);
        EXPECT_EQ(result.ExitCode, 0) << result.Err;
        EXPECT_EQ(result.Err, "");
        std::vector<double> values;
        std::istringstream lines(result.Out);
        const std::regex number(R"(-?[0-9.]+(e[-+][0-9]+)?)");
        for (std::string line; std::getline(lines, line);) {
            EXPECT_TRUE(std::regex_match(line, number)) << line;
            values.push_back(std::strtod(line.c_str(), nullptr));
        }
        EXPECT_EQ(values.size(), 256u);
        values.resize(256, 0.0);
        return values;
    }

    static int Loudest(const std::vector<double>& values) {
        return static_cast<int>(std::max_element(values.begin(), values.end()) - values.begin());
    }

    TempDir dir;
    // One second of 1 kHz, then one second of 5 kHz.
    const std::string twoTones = dir.Write(
        "two.ogg", EncodeOgg(Concat(Sine(44100, 2, 1.0, 1000.0), Sine(44100, 2, 1.0, 5000.0))));
    // A quarter of the sample rate: transform bin 64, entries 127 and 128.
    const std::string quarterRate =
        dir.Write("quarter.ogg", EncodeOgg(Sine(44100, 2, 1.0, 11025.0)));
    const std::string high = dir.Write("high.ogg", EncodeOgg(Sine(44100, 2, 1.0, 12000.0)));
};

TEST_F(SpectrumCommand, AToneAtAQuarterOfTheRatePeaksAtEntries127And128) {
    const std::vector<double> values = Values({quarterRate, "--at", "0.5"});
    EXPECT_THAT(Loudest(values), ::testing::AnyOf(127, 128));
    EXPECT_GT(values[127] + values[128], 10.0 * (values[100] + values[160]));
}

TEST_F(SpectrumCommand, TheMomentPicksTheToneThatIsHeardThen) {
    const int first = Loudest(Values({twoTones, "--at", "0.5"}));
    EXPECT_NEAR(first, 1000.0 / kHzPerEntry, 1.5);
    const int second = Loudest(Values({"--at=1.5", twoTones}));
    EXPECT_NEAR(second, 5000.0 / kHzPerEntry, 1.5);
}

TEST_F(SpectrumCommand, PlaysOnLoopingUnlessToldNotTo) {
    const int looped = Loudest(Values({twoTones, "--at", "2.5"}));
    EXPECT_NEAR(looped, 1000.0 / kHzPerEntry, 1.5) << "2.5 s into a 2 s file is its first tone";
    const std::vector<double> ended = Values({"--no-loop", twoTones, "--at", "2.5"});
    EXPECT_TRUE(std::all_of(ended.begin(), ended.end(), [](double v) { return v == 0.0; }));
}

TEST_F(SpectrumCommand, TakesTheMixOptions) {
    const std::vector<double> plain = Values({high, "--at", "0.5"});
    const std::vector<double> filtered = Values({high, "--at", "0.5", "--eq", "0:LowPass:0"});
    const int peak = Loudest(plain);
    EXPECT_NEAR(peak, 12000.0 / kHzPerEntry, 1.5);
    EXPECT_LT(filtered[peak], 0.1 * plain[peak]);
    const std::vector<double> quieter = Values({high, "--at", "0.5", "--volume", "0:0.5"});
    EXPECT_NEAR(quieter[peak], 0.5 * plain[peak], 0.01 * plain[peak]);
}

TEST_F(SpectrumCommand, AFileOfAnotherRateIsRefusedWithoutResampleAndShownWithIt) {
    // Transform bin 20 at 44100 Hz: entries 39 and 40.
    const std::string path = dir.Write("48k.ogg", EncodeOgg(Sine(48000, 2, 1.0, 3445.3125)));
    const ProgramResult refused = Spectrum({path, "--at", "0.5"});
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_THAT(refused.Err, HasSubstr(path + ": would play silence: 48000 Hz"));
    EXPECT_EQ(refused.Out, "");
    // Played unconverted, the tone would sit at 3165 Hz, three entries lower.
    const int peak = Loudest(Values({path, "--at", "0.5", "--resample"}));
    EXPECT_THAT(peak, ::testing::AnyOf(39, 40));
}

TEST_F(SpectrumCommand, WrongUsageExitsWith2AndSaysWhy) {
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const std::vector<Case> cases{
        {{high}, "--at"},
        {{high, "--at"}, "--at"},
        {{high, "--at", "-1"}, "--at"},
        {{high, "--at", "soon"}, "--at"},
        {{"--at", "1"}, "no FILE"},
        {{high, high, "--at", "1"}, "one FILE"},
        {{high, "--at", "1", "--seconds", "2"}, "--seconds"},
        {{high, "--at", "1", "--volume", "1:0.5"}, "slot 0"},
        {{high, "--at", "1", "--eq", "0:Loud"}, "--eq"},
        {{high, "--at", "1", "--bogus"}, "--bogus"},
    };
    for (const Case& c : cases) {
        const ProgramResult result = Spectrum(c.args);
        EXPECT_EQ(result.ExitCode, 2) << c.says;
        EXPECT_THAT(result.Err, HasSubstr(c.says));
        EXPECT_THAT(result.Err, HasSubstr("oggmix-cli spectrum"));
        EXPECT_EQ(result.Out, "");
    }
}

TEST_F(SpectrumCommand, TheMomentIsAtMostTenTimesTheFileLength) {
    EXPECT_THAT(Loudest(Values({quarterRate, "--at", "10"})), ::testing::AnyOf(127, 128));
    const ProgramResult beyond = Spectrum({quarterRate, "--at", "10.001"});
    EXPECT_EQ(beyond.ExitCode, 2);
    EXPECT_THAT(beyond.Err, HasSubstr("--at is at most 10.000 s, 10 times the file's length"));
    EXPECT_THAT(beyond.Err, HasSubstr("usage:"));
    EXPECT_EQ(beyond.Out, "");
}

TEST_F(SpectrumCommand, AFileThatCannotBeLoadedExitsWith1) {
    const ProgramResult missing = Spectrum({dir.Path() + "/none.ogg", "--at", "1"});
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_THAT(missing.Err, HasSubstr("none.ogg"));
    const std::string text = dir.Write("text.ogg", std::vector<uint8_t>{'h', 'i', '\n'});
    EXPECT_EQ(Spectrum({text, "--at", "1"}).ExitCode, 1);
}

}  // namespace
}  // namespace oggmix::test
