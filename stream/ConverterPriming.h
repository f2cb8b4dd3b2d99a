#pragma once
// ConverterPriming.h: a converter restarted with the music just before a position in its
// filter, so that the first frames it puts out from there are already right.
// Threads: the caller's. Locks: none. Memory: Restart allocates; the feeding does not.

#include <algorithm>
#include <cstdint>
#include <span>

#include "stream/RateConverter.h"
#include "stream/StereoFrames.h"

namespace oggmix {

// Restarts converter with historyFrames source frames of history, which read delivers into
// the frames it is given (>0 frames; <=0 the music could not be read), through input, its
// output dropped through scratch. False when the history could not be read.
template <class Read>
[[nodiscard]] bool RestartWithHistory(RateConverter& converter, int64_t historyFrames,
                                      StereoFrames16 input, std::span<int16_t> scratch, Read read) {
    converter.Restart(historyFrames);
    for (int64_t fed = 0; fed < historyFrames;) {
        const auto wantFrames =
            static_cast<int32_t>(std::min<int64_t>(historyFrames - fed, input.Frames()));
        const int32_t got = read(input.First(wantFrames));
        if (got <= 0) return false;
        auto samples = std::span<const int16_t>(input.First(got).Samples());
        while (!samples.empty()) {
            const ConverterStep step = converter.Process(samples, scratch);
            if (step.ConsumedFrames == 0) break;
            samples = samples.subspan(2 * static_cast<size_t>(step.ConsumedFrames));
        }
        fed += got;
    }
    return true;
}

}  // namespace oggmix
