// PlayRecorder.cpp: jumps of a render, at once or through a converter, into its PlayRecord.
#include "stream/PlayRecorder.h"

#include <algorithm>

#include "base/PcmFormat.h"
#include "stream/OggDataLib.h"

namespace oggmix {
namespace {

// Source frames a converter holds at most: its input buffer and libsoxr's step, and its
// filter's delay (well under a tenth of a second of the source).
constexpr int32_t kConverterHeldFrames = 1024 + 256;
constexpr int32_t kConverterDelayDivisor = 10;

}  // namespace

int32_t PlayRecorder::JumpCapacity(int32_t blockFrames, int32_t rateHz) noexcept {
    const int64_t sourceFrames =
        (int64_t{blockFrames} * std::max(rateHz, kFramesPerSecond) + kFramesPerSecond - 1) /
        kFramesPerSecond;
    return static_cast<int32_t>(sourceFrames) + 2 * kCueCount + 2;
}

int32_t PlayRecorder::PendingCapacity(int32_t rateHz) noexcept {
    return kConverterHeldFrames + rateHz / kConverterDelayDivisor + 2 * kCueCount + 2;
}

void PlayRecorder::Reserve(int32_t jumpCapacity, int32_t pendingCapacity) {
    FJumps.assign(static_cast<size_t>(jumpCapacity), PlayJump{});
    FPending.assign(static_cast<size_t>(pendingCapacity), Pending{});
    FJumpCount = 0;
    FPendingFirst = 0;
    FPendingCount = 0;
    FValid = false;
}

void PlayRecorder::Grow(int32_t jumpCapacity, int32_t pendingCapacity) {
    if (jumpCapacity <= static_cast<int32_t>(FJumps.size()) &&
        pendingCapacity <= static_cast<int32_t>(FPending.size()))
        return;
    Reserve(std::max(jumpCapacity, static_cast<int32_t>(FJumps.size())),
            std::max(pendingCapacity, static_cast<int32_t>(FPending.size())));
}

void PlayRecorder::Begin(int64_t startFrame) noexcept {
    FRecord = PlayRecord{};
    FRecord.StartFrame = startFrame;
    FJumpCount = 0;
    FValid = false;
}

void PlayRecorder::Add(const PlayJump& jump) noexcept {
    if (FJumpCount == static_cast<int32_t>(FJumps.size())) {
        ++FRecord.LostJumps;
        return;
    }
    FJumps[static_cast<size_t>(FJumpCount++)] = jump;
}

void PlayRecorder::Jump(int32_t outputFrame, int64_t fromFrame, int64_t toFrame,
                        PlayJumpCause cause, int32_t cueIndex) noexcept {
    if (On()) Add({outputFrame, fromFrame, toFrame, cause, cueIndex});
}

void PlayRecorder::Fed(int64_t heardIndex, int64_t fromFrame, int64_t toFrame, PlayJumpCause cause,
                       int32_t cueIndex) noexcept {
    if (!On()) return;
    const auto capacity = static_cast<int32_t>(FPending.size());
    if (FPendingCount == capacity) {
        // Never with the capacity above; counted where the host sees it.
        ++FRecord.LostJumps;
        return;
    }
    FPending[static_cast<size_t>((FPendingFirst + FPendingCount++) % capacity)] = {
        heardIndex, {0, fromFrame, toFrame, cause, cueIndex}};
}

void PlayRecorder::Heard(int64_t firstIndex, int32_t frames, int32_t outputFrame) noexcept {
    const auto capacity = static_cast<int32_t>(FPending.size());
    while (FPendingCount > 0) {
        Pending& next = FPending[static_cast<size_t>(FPendingFirst)];
        if (next.HeardIndex >= firstIndex + frames) return;
        next.Jump.OutputFrame =
            outputFrame + static_cast<int32_t>(std::max<int64_t>(0, next.HeardIndex - firstIndex));
        Add(next.Jump);
        FPendingFirst = (FPendingFirst + 1) % capacity;
        --FPendingCount;
    }
}

void PlayRecorder::HeardAll(int32_t outputFrame) noexcept {
    const auto capacity = static_cast<int32_t>(FPending.size());
    for (; FPendingCount > 0; --FPendingCount) {
        PlayJump jump = FPending[static_cast<size_t>(FPendingFirst)].Jump;
        jump.OutputFrame = outputFrame;
        Add(jump);
        FPendingFirst = (FPendingFirst + 1) % capacity;
    }
}

void PlayRecorder::Finish(int32_t musicFrames, int32_t silentFrame) noexcept {
    if (!On()) return;
    FRecord.MusicFrames = musicFrames;
    FRecord.SilentFrame = silentFrame;
    FRecord.Jumps = std::span<const PlayJump>(FJumps).first(static_cast<size_t>(FJumpCount));
    FValid = true;
}

}  // namespace oggmix
