#pragma once
// ManualAudio.h: the test controls of the `manual` back end (OGGMIX_AUDIO=manual). Nothing
// moves until a test advances the open manual device; the thread that advances is the device
// thread for that span, so cursors and fill requests follow the test step by step.
// Threads: any; one manual device may be open at a time. Memory: Advance with Out grows Out.

#include <cstdint>
#include <vector>

namespace oggmix::ManualAudio {

inline constexpr int32_t kDefaultPeriodFrames = 256;

// Mixes Frames frames on the open manual device (nothing while it is stopped) and appends
// them, interleaved left and right, to Out when given. False when no manual device is open.
bool Advance(int32_t Frames, std::vector<int16_t>* Out = nullptr);
// True while a manual device is open.
[[nodiscard]] bool IsOpen();
// What the open manual device reports as pulled but not yet heard (0 until set). Kept until
// changed, also for manual devices opened later.
void SetDelayFrames(int32_t Frames);
// False: the open manual device is lost and no manual device can be opened; true: it can be
// opened again. Starts true.
void SetAvailable(bool Available);

}  // namespace oggmix::ManualAudio
