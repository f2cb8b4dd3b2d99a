// oggmix-cli's options, walked from the table they are made of: each subcommand's help shows
// every option it takes and the subcommand refuses the others; an unknown option is refused by
// every subcommand with exit status 2 and the usage.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/RunProgram.h"
#include "tests/support/TestPaths.h"
#include "tools/oggmix-cli/CommandLine.h"

namespace oggmix::test {
namespace {

using ::testing::HasSubstr;

struct Subcommand {
    const char* Name;
    cli::CommandSet Id;
};
constexpr Subcommand kSubcommands[] = {{"info", cli::kInfo},
                                       {"render", cli::kRender},
                                       {"play", cli::kPlay},
                                       {"spectrum", cli::kSpectrum}};

ProgramResult Cli(const std::vector<std::string>& args) {
    return RunProgram(ExecutableDir() + "/oggmix-cli", args);
}

TEST(CommandLine, EachHelpShowsEveryOptionOfItsSubcommandAndTheOthersAreRefused) {
    for (const Subcommand& command : kSubcommands) {
        const ProgramResult help = Cli({command.Name, "--help"});
        ASSERT_EQ(help.ExitCode, 0) << command.Name;
        for (const cli::Option& option : cli::Options()) {
            const std::string name(option.Name);
            SCOPED_TRACE(std::string(command.Name) + " " + name);
            if ((option.Commands & command.Id) != 0) {
                std::string shown = name;
                if (!option.Placeholder.empty()) shown += " " + std::string(option.Placeholder);
                EXPECT_THAT(help.Out, HasSubstr(" " + shown + " "));
                if (!option.Alias.empty()) {
                    EXPECT_THAT(help.Out, HasSubstr(" " + std::string(option.Alias) + ", " + name));
                }
                continue;
            }
            const ProgramResult refused = Cli({command.Name, name, "x.ogg"});
            EXPECT_EQ(refused.ExitCode, 2);
            EXPECT_THAT(refused.Err, HasSubstr(name + " does not apply"));
        }
    }
}

TEST(CommandLine, AnUnknownOptionIsRefusedWithStatus2AndTheUsage) {
    for (const Subcommand& command : kSubcommands) {
        SCOPED_TRACE(command.Name);
        const ProgramResult result = Cli({command.Name, "x.ogg", "--bogus"});
        EXPECT_EQ(result.ExitCode, 2);
        EXPECT_THAT(result.Err, HasSubstr("unknown option '--bogus'"));
        EXPECT_THAT(result.Err, HasSubstr("usage:\n  oggmix-cli info"));
        EXPECT_EQ(result.Out, "");
    }
}

TEST(CommandLine, HelpGivenAsAnOptionsValueIsThatValueNotARequestForHelp) {
    const ProgramResult result = Cli({"render", "--seek", "-h", "x.ogg", "-o", "x.wav"});
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_THAT(result.Err, HasSubstr("--seek expects SLOT:SECONDS"));
    EXPECT_EQ(result.Out, "");
}

}  // namespace
}  // namespace oggmix::test
