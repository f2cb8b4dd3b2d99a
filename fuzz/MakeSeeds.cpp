// MakeSeeds.cpp: writes the fuzz targets' seed corpora, made by the test-support encoder:
//   <out>/load: short files of every rate and channel count the engine meets, with loop tags,
//               a chained file, a file of headers only; each with a steering script appended;
//   <out>/tags: comment lists in the tag grammar and around it;
//   <out>/set:  the example music set, and the same with a problem of each kind.
// Usage: oggmix_fuzz_seeds <out folder>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "tests/support/ExampleSet.h"
#include "tests/support/OggFixture.h"
#include "tests/support/Signals.h"

namespace oggmix::fuzz {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<uint8_t> Encoded(const test::Pcm& pcm, std::vector<std::string> comments,
                             int32_t serial = 1) {
    test::EncodeOptions options;
    options.Quality = 0.0f;
    options.Comments = std::move(comments);
    options.Serial = serial;
    return test::EncodeOgg(pcm, options);
}

// A script that plays, seeks, loops and reads the display in a mix of steps (FuzzInput.h).
std::vector<uint8_t> Script(uint8_t salt) {
    std::vector<uint8_t> script;
    for (size_t i = 0; i < kLoadScriptBytes; ++i)
        script.push_back(static_cast<uint8_t>((i * 37 + salt * 11) % 256));
    return script;
}

void WriteLoadSeeds(const fs::path& folder) {
    const std::vector<std::string> tags = {
        "COMMENT=*looptime,0,0.1,0.3,-1\r\n*loopsample,1,2205,6615,2 // intro", "TITLE=seed"};
    std::vector<std::vector<uint8_t>> files = {
        Encoded(test::Music(44100, 2, 0.5), tags),
        Encoded(test::Music(44100, 1, 0.4), tags),
        Encoded(test::Sine(22050, 2, 0.4, 330.0), tags),
        Encoded(test::Noise(22050, 1, 0.4, 7), tags),
        Encoded(test::Sine(48000, 2, 0.3, 440.0), tags),
        Encoded(test::Silence(44100, 2, 0.0), tags),
    };
    std::vector<uint8_t> chained = Encoded(test::Sine(44100, 2, 0.3, 440.0), tags, 1);
    const std::vector<uint8_t> tail = Encoded(test::Sine(22050, 1, 0.3, 220.0), {}, 2);
    chained.insert(chained.end(), tail.begin(), tail.end());
    files.push_back(std::move(chained));

    for (size_t i = 0; i < files.size(); ++i) {
        std::vector<uint8_t> seed = files[i];
        const std::vector<uint8_t> script = Script(static_cast<uint8_t>(i));
        seed.insert(seed.end(), script.begin(), script.end());
        WriteFile(folder / ("seed-" + std::to_string(i) + ".ogg"), seed);
    }
}

void WriteTagSeeds(const fs::path& folder) {
    using namespace std::string_literals;  // the literals hold NULs: keep their whole length
    const std::vector<std::string> seeds = {
        "COMMENT=*looptime,0,0.05,0.2,-1"s,
        "comment=*LoopSample, 1, 2205, 8820, 3 // chorus\r\n*looptime,2,0.1,0.25,1\r\n"s,
        "TITLE=a\0COMMENT=*looptime,3,1.5e-1,+.25,2\r\n\r\n*looptime,16,0,1,1\r\n*looptime,-1,0,1,1"s,
        "COMMENT=*looptime\t,\t4 , .1 , 0.2\r\n*loopsample,5,-100,99999999999,x"s,
        "COMMENT=\x82\xa0,*looptime,\x83\x2c,0,1\r\n*looptime,6,0.25,0.05,2//\x81/"s,
        "COMMENT=*looptime,0,0.2,0.1,-1\r\n*looptime,1,0.1,0.2,-1\0COMMENT=*looptime,2,0,0,0"s,
        "NOEQUALS\0=\0COMMENT\0COMMENT=\r\r\n\n\r\n"s,
    };
    for (size_t i = 0; i < seeds.size(); ++i) {
        const std::string& text = seeds[i];
        WriteFile(folder / ("seed-" + std::to_string(i) + ".txt"),
                  std::vector<uint8_t>(text.begin(), text.end()));
    }
}

void WriteSetSeeds(const fs::path& folder) {
    const std::string example = test::ExampleSetJson();
    const std::vector<std::pair<std::string, std::string>> changes = {
        {"", ""},
        {"\"drums\", \"loop_bars\"", "\"drum\", \"loop_bars\""},
        {"\"via\": \"bridge\"", "\"via\": \"state:calm\""},
        {"\"order\": \"shuffle\"", "\"order\": \"random\", \"weights\": [1, 2]"},
        {"\"when\": \"marker\"", "\"when\": \"marker:exit_a\", \"entry\": \"same_beat\""},
        {"\"loop_bars\": 2,",
         "\"loop_bars\": 2, \"start_bar\": 1, \"tone_filter\": "
         "{\"preset\": \"low_pass\", \"parameter\": \"intensity\", "
         "\"curve\": [[0, 1], [1, 0]]},"},
    };
    for (size_t i = 0; i < changes.size(); ++i) {
        std::string text = example;
        if (const auto& [from, to] = changes[i]; !from.empty())
            text.replace(text.find(from), from.size(), to);
        WriteFile(folder / ("seed-" + std::to_string(i) + ".json"),
                  std::vector<uint8_t>(text.begin(), text.end()));
    }
}

}  // namespace
}  // namespace oggmix::fuzz

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: oggmix_fuzz_seeds <out folder>\n");
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path out(argv[1]);
    fs::create_directories(out / "load");
    fs::create_directories(out / "tags");
    fs::create_directories(out / "set");
    oggmix::fuzz::WriteLoadSeeds(out / "load");
    oggmix::fuzz::WriteTagSeeds(out / "tags");
    oggmix::fuzz::WriteSetSeeds(out / "set");
    return 0;
}
