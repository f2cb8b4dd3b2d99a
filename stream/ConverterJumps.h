#pragma once
// ConverterJumps.h: the jumps of the music (loop cues, the wrap, the end) that a rate
// converter has taken in but not yet put out. The converter outputs music some tens of
// milliseconds after it is decoded; while a jump lies in that stretch, the output is still
// the music before the jump, whose time cannot be told from the decoder's, which is already
// past it. These records map the output back to music time across the jumps.
// Threads: the owner's; not thread-safe. Locks: none (the owning stream's FLock guards it).
// Memory:  no alloc.
// Units:   feed positions count source frames fed since the converter's restart (fractional
//          for the output, which lies between them); music positions are source frames.

#include <array>
#include <cstdint>
#include <optional>

namespace oggmix {

class ConverterJumps {
public:
    // Jumps kept at once. More can be pending only when a loop so short turns that this
    // many turns fit inside the converter's delay. Then the oldest is forgotten, and the
    // output before the oldest jump kept is placed back from that jump but never before
    // where the last forgotten one landed: for such a loop, somewhere in the loop, off by
    // less than one turn.
    static constexpr int32_t kCapacity = 16;

    void Clear() noexcept;
    // The music jumped from fromFrame (the frame it would have gone on with) to toFrame right
    // before feed position atFedFrame. Jumps come in the order of their feed positions; more
    // of them at one position (a jump onto another's end) count as one.
    void Add(int64_t atFedFrame, int64_t fromFrame, int64_t toFrame) noexcept;
    // Forgets the jumps that the output, at feed position outFedFrames, has passed.
    void Passed(double outFedFrames) noexcept;
    // The music frame at feed position outFedFrames when a jump kept lies after it; none when
    // the music runs on unbroken from there to what was fed last.
    [[nodiscard]] std::optional<double> MusicFrameAt(double outFedFrames) const noexcept;

private:
    struct Jump {
        int64_t AtFedFrame = 0;
        int64_t FromFrame = 0;
        int64_t ToFrame = 0;
    };
    // The i-th jump kept, oldest first.
    [[nodiscard]] Jump& At(int32_t i) noexcept {
        return FJumps[static_cast<size_t>((FFirst + i) % kCapacity)];
    }
    [[nodiscard]] const Jump& At(int32_t i) const noexcept {
        return FJumps[static_cast<size_t>((FFirst + i) % kCapacity)];
    }
    void ForgetOldest() noexcept;

    std::array<Jump, kCapacity> FJumps{};  // a ring of FCount jumps from FFirst, oldest first
    int32_t FFirst = 0;
    int32_t FCount = 0;
    // Where the music went on after the last jump forgotten or passed, if any: the output
    // placed back from the next jump kept is never put before it.
    std::optional<int64_t> FLandedFrame;
};

}  // namespace oggmix
