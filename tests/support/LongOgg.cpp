// LongOgg.cpp: long files from a short encode with its silent packets repeated.
#include "tests/support/LongOgg.h"

#include <cmath>
#include <stdexcept>

#include "tests/support/OggFixture.h"
#include "tests/support/Signals.h"

namespace oggmix::test {
namespace {

constexpr double kSilenceSec = 1.0;
constexpr double kBurstSec = 0.5;
constexpr uint32_t kBurstSeed = 7;
// Repeated packets share pages; every so many of them one carries its granule position and
// ends a page, so that a seek finds its way through the silence.
constexpr int64_t kPacketsPerPage = 64;

// A packet in the middle of the silence between fromFrame and toFrame that is identical to the
// packets on either side: a long block between long blocks, which can be repeated without
// changing what the packets around it decode to.
size_t RepeatablePacket(const std::vector<OggPacket>& packets, int64_t fromFrame, int64_t toFrame) {
    for (size_t k = 4; k + 1 < packets.size(); ++k) {
        const int64_t granule = packets[k].GranulePos;
        if (granule > fromFrame && granule < toFrame && packets[k + 1].GranulePos > granule &&
            packets[k - 1].Bytes == packets[k].Bytes && packets[k + 1].Bytes == packets[k].Bytes)
            return k;
    }
    throw std::runtime_error("no repeatable silent packet in the template");
}

}  // namespace

LongOgg MakeLongOgg(int32_t rateHz, int32_t channels, std::array<int64_t, 2> burstNearFrames,
                    const std::vector<std::string>& comments) {
    const Pcm silence = Silence(rateHz, channels, kSilenceSec);
    const Pcm first = Concat(silence, Noise(rateHz, channels, kBurstSec, kBurstSeed));
    const Pcm second = Concat(silence, Noise(rateHz, channels, kBurstSec, kBurstSeed + 1));
    const Pcm pcm = Concat(Concat(first, second), silence);
    EncodeOptions options;
    options.Comments = comments;
    options.PagePerPacket = true;
    const std::vector<OggPacket> packets = PacketsOf(EncodeOgg(pcm, options));

    LongOgg file;
    const int64_t silenceFrames = silence.Frames();
    file.BurstFrameCount = std::llround(kBurstSec * rateHz);
    const std::array<int64_t, 2> templateBursts = {silenceFrames,
                                                   2 * silenceFrames + file.BurstFrameCount};
    std::array<size_t, 2> repeatAt{};
    for (size_t b = 0; b < 2; ++b) {
        const int64_t middle = templateBursts[b] - silenceFrames / 2;
        repeatAt[b] =
            RepeatablePacket(packets, middle - silenceFrames / 4, middle + silenceFrames / 4);
    }

    std::vector<OggPacket> out;
    int64_t shiftFrames = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        OggPacket packet = packets[i];
        if (packet.GranulePos > 0) packet.GranulePos += shiftFrames;
        out.push_back(packet);
        for (size_t b = 0; b < 2; ++b) {
            if (i != repeatAt[b]) continue;
            const int64_t stepFrames = packets[i + 1].GranulePos - packets[i].GranulePos;
            const int64_t missing = burstNearFrames[b] - (templateBursts[b] + shiftFrames);
            if (missing < 0) throw std::runtime_error("bursts asked for too close together");
            const int64_t copies = missing / stepFrames;
            for (int64_t j = 1; j <= copies; ++j) {
                const bool endsPage = j % kPacketsPerPage == 0 || j == copies;
                out.push_back({packet.Bytes, endsPage ? packet.GranulePos + j * stepFrames : -1});
            }
            shiftFrames += copies * stepFrames;
            file.BurstFrames[b] = templateBursts[b] + shiftFrames;
        }
    }
    file.Ogg = OggOfPagedPackets(out);
    return file;
}

}  // namespace oggmix::test
