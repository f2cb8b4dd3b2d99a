#pragma once
// RestGate.h: the hand-over between a device thread that goes to rest and the owner's thread
// that wakes it, with no lock on the owner's way when the device is not resting. A Wake that
// races a rest either sees the rest (and wakes it under the back end's lock) or is seen by it
// (and the rest is called off): sequentially consistent stores and loads on both sides.
// Threads: TryRest on the device thread, AskWake on the owner's; Woken with the back end's
//          lock held; Resting anywhere.

#include <atomic>

namespace oggmix {

class RestGate {
public:
    // Device thread: true when it may rest now (no Wake came since the last rest); it rests.
    [[nodiscard]] bool TryRest() noexcept {
        FResting.store(true);
        if (!FWakeAsked.exchange(false)) return true;
        FResting.store(false);
        return false;
    }
    // Owner's thread: true when the device rests and must be woken under the back end's lock.
    [[nodiscard]] bool AskWake() noexcept {
        FWakeAsked.store(true);
        return FResting.load();
    }
    // The back end's lock held: the device pulls again.
    void Woken() noexcept {
        FWakeAsked.store(false);
        FResting.store(false);
    }
    [[nodiscard]] bool Resting() const noexcept { return FResting.load(); }

private:
    std::atomic<bool> FResting{false};
    std::atomic<bool> FWakeAsked{false};
};

}  // namespace oggmix
