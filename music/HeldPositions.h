#pragma once
// HeldPositions.h: prepared positions that scheduled jumps carry until their frame. The game
// thread prepares them (that allocates) and frees them; the device thread only swaps one in
// and leaves what it swapped out in the same place, for the game thread to free.
//
// Threads: Hold, Release and Collect on the game thread; Take and Spend on the device thread.
// Locks:   every call with the mixer's lock held.
// Memory:  construction allocates; Take and Spend do not, nor free.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "stream/OggDataLib.h"

namespace oggmix::music {

class HeldPositions {
public:
    static constexpr int32_t kCapacity = 64;
    using Freed = std::vector<std::unique_ptr<PreparedPosition>>;

    HeldPositions() : FItems(kCapacity) {}

    [[nodiscard]] int32_t Room() const noexcept;
    // The place it is held in; -1 when every place is taken (check Room first).
    int32_t Hold(std::unique_ptr<PreparedPosition> Position);
    // The position held at Index, to swap in; Spend then keeps what the swap gave back.
    [[nodiscard]] std::unique_ptr<PreparedPosition> Take(int32_t Index) noexcept;
    void Spend(int32_t Index, std::unique_ptr<PreparedPosition> Old) noexcept;
    // A change withdrawn before its frame: its position goes to Out, to be freed later.
    void Release(int32_t Index, Freed& Out);
    // Every position swapped out since the last look, to Out.
    void Collect(Freed& Out);
    // Whether Collect would find any: without the lock, so that the game's thread takes it
    // only when there is something to free.
    [[nodiscard]] bool AnySpent() const noexcept {
        return FSpentCount.load(std::memory_order_relaxed) != 0;
    }

private:
    enum class Use : uint8_t { Free, Held, Spent };
    struct Item {
        std::unique_ptr<PreparedPosition> Position;
        Use State = Use::Free;
    };
    std::vector<Item> FItems;
    // Spent since the last Collect: changed with the lock held, read without it (relaxed: a
    // look that misses the latest is caught by the next, and Collect itself runs locked).
    std::atomic<int32_t> FSpentCount{0};
};

}  // namespace oggmix::music
