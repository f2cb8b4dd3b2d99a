#pragma once
// PlayRecorder.h: collects a stream's PlayRecord render by render. Jumps taken straight into
// the output are recorded at once; jumps fed into a rate converter wait, with the output
// frame of the converter at which they come out, until the converter's output reaches them.
// Threads: the owner's; not thread-safe. Locks: none (the owning stream's FLock guards it).
// Memory:  Reserve allocates; everything else: no alloc, no throw.
// Units:   output frames of the render; converter output frames count from its restart.

#include <cstdint>
#include <vector>

#include "stream/PlayRecord.h"

namespace oggmix {

class PlayRecorder {
public:
    // Jumps a render can hold at most: one per source frame of a block (a loop one frame
    // long) plus each cue and the wrap twice, for blocks of blockFrames output frames of a
    // source at rateHz. Without a converter a source frame is at least one output frame.
    [[nodiscard]] static int32_t JumpCapacity(int32_t blockFrames, int32_t rateHz) noexcept;
    // Jumps that can be inside a converter at once: one per source frame it holds.
    [[nodiscard]] static int32_t PendingCapacity(int32_t rateHz) noexcept;

    // Room for that many jumps per render and inside a converter; 0 and 0 switch records
    // off and free the room. Allocates.
    void Reserve(int32_t jumpCapacity, int32_t pendingCapacity);
    // Reserve, unless the room is already as large (the records stay where they are).
    void Grow(int32_t jumpCapacity, int32_t pendingCapacity);
    [[nodiscard]] bool On() const noexcept { return !FJumps.empty(); }

    // A render starts; its first output frame plays startFrame.
    void Begin(int64_t startFrame) noexcept;
    // A jump heard at once at outputFrame of the render.
    void Jump(int32_t outputFrame, int64_t fromFrame, int64_t toFrame, PlayJumpCause cause,
              int32_t cueIndex) noexcept;
    // A jump fed into the converter, heard at its output frame heardIndex.
    void Fed(int64_t heardIndex, int64_t fromFrame, int64_t toFrame, PlayJumpCause cause,
             int32_t cueIndex) noexcept;
    // The converter put out its frames firstIndex .. firstIndex + frames - 1 as output frames
    // from outputFrame on: the jumps waiting for them are heard.
    void Heard(int64_t firstIndex, int32_t frames, int32_t outputFrame) noexcept;
    // The converter has put out all the music: whatever still waits is heard at outputFrame.
    void HeardAll(int32_t outputFrame) noexcept;
    // The converter restarted: the jumps inside it will never be heard.
    void ClearPending() noexcept { FPendingCount = 0; }
    // The render ends: musicFrames of music, then silence; silentFrame as in PlayRecord.
    void Finish(int32_t musicFrames, int32_t silentFrame) noexcept;
    // The render rendered nothing.
    void Discard() noexcept { FValid = false; }
    // Jumps recorded in the render begun last: even one that rendered nothing can have met
    // the end of the music.
    [[nodiscard]] bool HasJumps() const noexcept { return FJumpCount > 0; }
    // The record of the last render, or null (off, or that render rendered nothing).
    [[nodiscard]] const PlayRecord* Last() const noexcept { return FValid ? &FRecord : nullptr; }

private:
    struct Pending {
        int64_t HeardIndex = 0;
        PlayJump Jump;
    };
    void Add(const PlayJump& jump) noexcept;

    std::vector<PlayJump> FJumps;  // fixed size: the capacity
    int32_t FJumpCount = 0;
    std::vector<Pending> FPending;  // a ring of FPendingCount from FPendingFirst
    int32_t FPendingFirst = 0;
    int32_t FPendingCount = 0;
    PlayRecord FRecord;
    bool FValid = false;
};

}  // namespace oggmix
