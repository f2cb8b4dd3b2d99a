// ConverterJumps.cpp: the ring of jumps inside a converter and the music time of its output.
#include "stream/ConverterJumps.h"

#include <algorithm>

namespace oggmix {

void ConverterJumps::Clear() noexcept {
    FFirst = 0;
    FCount = 0;
    FLandedFrame.reset();
}

void ConverterJumps::Add(int64_t AtFedFrame, int64_t FromFrame, int64_t ToFrame) noexcept {
    if (FCount > 0) {
        Jump& last = FJumps[static_cast<size_t>((FFirst + FCount - 1) % kCapacity)];
        // The music before this position came from before the first of the jumps there.
        if (last.AtFedFrame == AtFedFrame) {
            last.ToFrame = ToFrame;
            return;
        }
    }
    if (FCount == kCapacity) {
        FLandedFrame = At(0).ToFrame;
        FFirst = (FFirst + 1) % kCapacity;
        --FCount;
    }
    FJumps[static_cast<size_t>((FFirst + FCount) % kCapacity)] = {AtFedFrame, FromFrame, ToFrame};
    ++FCount;
}

void ConverterJumps::Passed(double OutFedFrames) noexcept {
    while (FCount > 0 && static_cast<double>(At(0).AtFedFrame) <= OutFedFrames) {
        FLandedFrame = At(0).ToFrame;
        FFirst = (FFirst + 1) % kCapacity;
        --FCount;
    }
}

std::optional<double> ConverterJumps::MusicFrameAt(double OutFedFrames) const noexcept {
    std::optional<int64_t> landed = FLandedFrame;
    for (int32_t i = 0; i < FCount; ++i) {
        const Jump& jump = At(i);
        const auto atFedFrame = static_cast<double>(jump.AtFedFrame);
        if (atFedFrame <= OutFedFrames) {
            landed = jump.ToFrame;  // passed, not yet forgotten
            continue;
        }
        // Back from the jump, along the music that led up to it.
        const double frame = static_cast<double>(jump.FromFrame) - (atFedFrame - OutFedFrames);
        return landed ? std::max(frame, static_cast<double>(*landed)) : frame;
    }
    return std::nullopt;
}

}  // namespace oggmix
