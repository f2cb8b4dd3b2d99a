// ConverterJumps.cpp: the ring of jumps inside a converter and the music time of its output.
#include "stream/ConverterJumps.h"

#include <algorithm>

namespace oggmix {

void ConverterJumps::Clear() noexcept {
    FFirst = 0;
    FCount = 0;
    FLandedFrame.reset();
}

void ConverterJumps::Add(int64_t atFedFrame, int64_t fromFrame, int64_t toFrame) noexcept {
    // The music before this position came from before the first of the jumps there.
    if (FCount > 0 && At(FCount - 1).AtFedFrame == atFedFrame) {
        At(FCount - 1).ToFrame = toFrame;
        return;
    }
    if (FCount == kCapacity) ForgetOldest();
    ++FCount;
    At(FCount - 1) = {atFedFrame, fromFrame, toFrame};
}

void ConverterJumps::Passed(double outFedFrames) noexcept {
    while (FCount > 0 && static_cast<double>(At(0).AtFedFrame) <= outFedFrames) ForgetOldest();
}

std::optional<double> ConverterJumps::MusicFrameAt(double outFedFrames) const noexcept {
    std::optional<int64_t> landed = FLandedFrame;
    for (int32_t i = 0; i < FCount; ++i) {
        const Jump& jump = At(i);
        const auto atFedFrame = static_cast<double>(jump.AtFedFrame);
        if (atFedFrame <= outFedFrames) {
            landed = jump.ToFrame;  // passed, not yet forgotten
            continue;
        }
        // Back from the jump, along the music that led up to it.
        const double frame = static_cast<double>(jump.FromFrame) - (atFedFrame - outFedFrames);
        return landed ? std::max(frame, static_cast<double>(*landed)) : frame;
    }
    return std::nullopt;
}

void ConverterJumps::ForgetOldest() noexcept {
    FLandedFrame = At(0).ToFrame;
    FFirst = (FFirst + 1) % kCapacity;
    --FCount;
}

}  // namespace oggmix
