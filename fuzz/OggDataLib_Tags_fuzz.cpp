// OggDataLib_Tags_fuzz.cpp: any comment text through the loop-tag grammar. The input becomes
// the user comments of a short valid Vorbis file (FuzzInput.h); the file is loaded, which
// reads the comments and parses the loop tags, and played a few blocks through whatever cues
// came out (for half the inputs with the LOOPSTART tags read too). Checks that comments keep
// their bytes, that GetComments splits exactly at CR LF, that SplitFields loses no character,
// and that every cue time is finite.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/AsciiText.h"
#include "base/MemoryStream.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "stream/OggDataLib.h"
#include "tests/support/OggFixture.h"
#include "tests/support/Signals.h"
#include "tests/support/TestPaths.h"

namespace oggmix::fuzz {
namespace {

constexpr int32_t kBufferSize = 4096;
constexpr int kBlocks = 6;

// The packets of a short stereo file; the comment header is replaced for every input.
std::vector<test::OggPacket>& Template() {
    static std::vector<test::OggPacket> packets =
        test::PacketsOf(test::EncodeOgg(test::Sine(44100, 2, 0.3, 440.0)));
    return packets;
}

std::vector<std::string> SplitAtSeparator(std::string_view text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; (end = text.find(kCommentSeparator, start)) != std::string_view::npos;
         start = end + 1)
        parts.emplace_back(text.substr(start, end - start));
    parts.emplace_back(text.substr(start));
    return parts;
}

// The value of the first comment whose name is "comment" in any case.
std::string_view CommentValue(const std::vector<std::string>& comments) {
    for (const std::string& entry : comments) {
        const size_t equals = entry.find('=');
        if (equals != 7) continue;
        bool match = true;
        for (size_t i = 0; i < 7; ++i) match = match && LowerAscii(entry[i]) == "comment"[i];
        if (match) return std::string_view(entry).substr(8);
    }
    return {};
}

std::string Join(const std::vector<std::string>& parts, std::string_view separator) {
    std::string joined;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) joined.append(separator);
        joined.append(parts[i]);
    }
    return joined;
}

void CheckLines(const std::vector<std::string>& lines, std::string_view value) {
    const std::string joined = Join(lines, "\r\n");
    Check(joined == value || joined + "\r\n" == value,
          "the lines are not the value split at CR LF");
    for (const std::string& line : lines)
        Check(line.find("\r\n") == std::string::npos, "a line holds CR LF");
}

void CheckFields(const std::string& line) {
    // Without blanks dropped or remarks cut, the fields are the line cut at its separators.
    const auto plain = TOggData::SplitFields(line, ",", 0, false, false);
    Check(Join(plain, ",") == line, "SplitFields loses or adds a character");
    const auto tag = TOggData::SplitFields(line, ",", 5, true, true);
    Check(tag.size() >= 5, "SplitFields returns fewer fields than asked for");
    Check(tag.size() <= std::max<size_t>(plain.size(), 5), "dropping blanks made more fields");
}

}  // namespace
}  // namespace oggmix::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    oggmix::test::BindDecoder();
    (void)oggmix::fuzz::Template();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace oggmix;
    using namespace oggmix::fuzz;
    const std::vector<std::string> comments =
        SplitAtSeparator(std::string_view(reinterpret_cast<const char*>(data), size));
    std::vector<test::OggPacket> packets = Template();
    packets[1].Bytes = test::VorbisCommentPacket("fuzz", comments);

    TOggData stream(kBufferSize);
    // Half the inputs also go through the LOOPSTART, LOOPLENGTH and LOOPEND values.
    stream.SetLoopStartTags(size % 2 == 1);
    Check(stream.LoadFromStream(std::make_unique<MemoryStream>(test::OggOfPagedPackets(packets))),
          "a valid file is not loaded");
    Check(stream.Comments() == comments, "the comments lost or changed bytes");

    const std::vector<std::string> lines = stream.GetComments("COMMENT");
    CheckLines(lines, CommentValue(comments));
    for (const std::string& line : lines) CheckFields(line);
    for (const TLoopCue& cue : stream.Cues())
        Check(std::isfinite(cue.LoopStart) && std::isfinite(cue.LoopEnd),
              "a cue time is not finite");

    stream.Play(true, true);
    for (int block = 0; block < kBlocks; ++block) {
        const int32_t rendered = stream.RenderNext(0);
        Check(rendered == 0 || rendered == kBufferSize, "a block is neither whole nor absent");
    }
    return 0;
}
