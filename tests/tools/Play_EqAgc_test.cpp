// oggmix-cli play with a tone-filter preset and the gain control: the wav back end hears what
// render writes with the same options.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/OggFixture.h"
#include "tests/support/RunProgram.h"
#include "tests/tools/PlaySupport.h"

namespace oggmix::test {
namespace {

TEST(PlayEqAgc, TheWavBackEndHearsWhatRenderWritesWithTheSameOptions) {
    TempDir dir;
    const std::string music = dir.Write("music.ogg", EncodeOgg(Music(44100, 2, 1.5, 5)));
    const std::string heardPath = dir.Path() + "/heard.wav";
    const std::string renderedPath = dir.Path() + "/rendered.wav";
    const std::string cli = ExecutableDir() + "/oggmix-cli";
    const std::vector<std::string> options{"--eq", "0:LowPass:1", "--agc", "0:0.3"};

    setenv("OGGMIX_AUDIO", ("wav:" + heardPath).c_str(), 1);
    std::vector<std::string> play{"play", "--seconds", "2", music};
    play.insert(play.end(), options.begin(), options.end());
    const ProgramResult played = RunProgram(cli, play);
    ASSERT_EQ(played.ExitCode, 0) << played.Err;

    std::vector<std::string> render{"render", "--seconds", "3", music, "-o", renderedPath};
    render.insert(render.end(), options.begin(), options.end());
    ASSERT_EQ(RunProgram(cli, render).ExitCode, 0);
    std::vector<std::string> plainRender{"render", "--seconds", "3",
                                         music,    "-o",        dir.Path() + "/plain.wav"};
    ASSERT_EQ(RunProgram(cli, plainRender).ExitCode, 0);

    const std::vector<int16_t> rendered = ReadPcm(renderedPath, 44);
    ASSERT_NE(rendered, ReadPcm(dir.Path() + "/plain.wav", 44)) << "the options change the sound";
    const Alignment at = Align(ReadPcm(heardPath, 44), rendered);
    ASSERT_TRUE(at.Found) << "the filtered, levelled sound was not heard";
    EXPECT_GE(at.Match, 2u * 44100) << "heard diverges after " << at.Match / 2 << " frames";
}

}  // namespace
}  // namespace oggmix::test
