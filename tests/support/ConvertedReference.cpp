// ConvertedReference.cpp: one run through a converter of its own.
#include "tests/support/ConvertedReference.h"

#include <span>

#include "stream/RateConverter.h"

namespace oggmix::test {

std::vector<int16_t> ConvertedAlone(const std::vector<int16_t>& stereo, int32_t rateHz) {
    RateConverter converter(rateHz, 2);
    std::vector<int16_t> out;
    std::vector<int16_t> buffer(2048);
    std::span<const int16_t> input(stereo);
    while (!input.empty()) {
        const ConverterStep step = converter.Process(input, buffer);
        input = input.subspan(2 * static_cast<size_t>(step.ConsumedFrames));
        out.insert(out.end(), buffer.begin(), buffer.begin() + 2 * step.ProducedFrames);
    }
    while (const int32_t n = converter.Finish(buffer))
        out.insert(out.end(), buffer.begin(), buffer.begin() + 2 * n);
    return out;
}

}  // namespace oggmix::test
