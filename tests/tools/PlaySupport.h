#pragma once
// PlaySupport.h: for the tests of oggmix-cli play: reading what a device wrote, finding the
// rendered sound in it (programs in the background: tests/support/ChildProcess.h).

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {

// 16-bit little-endian samples after headerBytes (44 for our WAV files, 0 for raw PCM).
inline std::vector<int16_t> ReadPcm(const std::string& path, size_t headerBytes) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    std::vector<int16_t> samples;
    for (size_t at = headerBytes; at + 1 < bytes.size(); at += 2)
        samples.push_back(static_cast<int16_t>(bytes[at] | bytes[at + 1] << 8));
    return samples;
}

// Where the reference starts in what was heard, and for how many samples both agree from there.
struct Alignment {
    bool Found = false;
    size_t Offset = 0;  // samples of heard before the reference starts
    size_t Match = 0;   // samples that equal the reference from its start
};

inline Alignment Align(const std::vector<int16_t>& heard, const std::vector<int16_t>& reference,
                       size_t keySamples = 8192) {
    Alignment alignment;
    if (reference.size() < keySamples || heard.size() < keySamples) return alignment;
    // Frames only: an offset inside a frame would swap left and right.
    for (size_t offset = 0; offset + keySamples <= heard.size(); offset += 2) {
        if (!std::equal(reference.begin(), reference.begin() + keySamples, heard.begin() + offset))
            continue;
        alignment.Found = true;
        alignment.Offset = offset;
        while (offset + alignment.Match < heard.size() && alignment.Match < reference.size() &&
               heard[offset + alignment.Match] == reference[alignment.Match])
            ++alignment.Match;
        return alignment;
    }
    return alignment;
}

// Heard against the reference from an alignment on, where a sound server may have inserted
// silence: when its client was late (an underrun) PulseAudio's sink plays zeros and then
// continues exactly where the stream stopped; PipeWire's plays zeros in place of the late
// sound and continues as far on as the zeros lasted. A block dropped or repeated by the player
// looks like neither: the sound after it is not where the reference stopped, nor a silence's
// length on.
struct ServerComparison {
    size_t Matched = 0;          // samples of the reference heard in order
    size_t InsertedSilence = 0;  // samples of silence the server inserted
    size_t ReplacedSamples = 0;  // samples of the reference the server played zeros for
    size_t Underruns = 0;
    size_t StoppedAt = 0;  // samples of heard compared
};

inline ServerComparison CompareThroughServer(const std::vector<int16_t>& heard,
                                             const std::vector<int16_t>& reference,
                                             const Alignment& at) {
    constexpr size_t kResumeSamples = 256;  // what must follow a run of silence, at its place
    ServerComparison result;
    size_t i = at.Offset;
    size_t j = 0;
    for (;;) {
        while (i < heard.size() && j < reference.size() && heard[i] == reference[j]) {
            ++i;
            ++j;
        }
        if (i >= heard.size() || j >= reference.size() || heard[i] != 0) break;
        size_t resume = i;
        while (resume < heard.size() && heard[resume] == 0) ++resume;
        resume -= (resume - i) % 2;  // whole frames of silence
        // The reference may itself go on with zeros that the run of silence swallowed.
        size_t refZeros = 0;
        while (j + refZeros < reference.size() && reference[j + refZeros] == 0) ++refZeros;
        const size_t length = std::min({kResumeSamples, heard.size() - resume});
        bool resumed = false;
        for (size_t skip = 0; skip <= refZeros && !resumed; skip += 2) {
            if (j + skip + length > reference.size() || length == 0) break;
            if (std::equal(heard.begin() + static_cast<long>(resume),
                           heard.begin() + static_cast<long>(resume + length),
                           reference.begin() + static_cast<long>(j + skip))) {
                result.InsertedSilence += resume - i - skip;
                ++result.Underruns;
                i = resume;
                j += skip;
                resumed = true;
            }
        }
        const size_t silence = resume - i;
        if (!resumed && j + silence + length <= reference.size() && length != 0 &&
            std::equal(heard.begin() + static_cast<long>(resume),
                       heard.begin() + static_cast<long>(resume + length),
                       reference.begin() + static_cast<long>(j + silence))) {
            result.ReplacedSamples += silence;
            ++result.Underruns;
            i = resume;
            j += silence;
            resumed = true;
        }
        if (!resumed) break;
    }
    result.Matched = j;
    result.StoppedAt = i;
    return result;
}

inline bool AllZero(std::vector<int16_t>::const_iterator begin,
                    std::vector<int16_t>::const_iterator end) {
    return std::all_of(begin, end, [](int16_t s) { return s == 0; });
}

}  // namespace oggmix::test
