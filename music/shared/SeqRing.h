#pragma once
// SeqRing.h: the last Capacity values a writer appended, each readable by its index (0 for the
// first ever appended) for as long as it has not been overwritten. A reader never waits and
// never makes the writer wait: each place carries the index of the value it holds, made odd
// while the value is being replaced, and a read is kept only when that index was the one asked
// for before and after the words were loaded.
//
// Memory orders: as in SeqLock, per place. Count is stored with release after the value's place
//          is whole, so a reader that loads it with acquire finds every value below it written
//          (unless overwritten since, which the place's tag tells).
// Threads: Append on one writer thread (or writers serialised by the owner); Count and At on
//          any thread, lock-free.
// Memory:  construction allocates; nothing else does.

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "music/shared/AtomicWords.h"

namespace oggmix::music::shared {

template <class T>
class SeqRing {
public:
    explicit SeqRing(int32_t Capacity) : FPlaces(static_cast<size_t>(Capacity)) {}

    [[nodiscard]] int64_t Capacity() const noexcept { return static_cast<int64_t>(FPlaces.size()); }
    // Values appended so far.
    [[nodiscard]] int64_t Count() const noexcept { return FCount.load(std::memory_order_acquire); }

    void Append(const T& Value) noexcept {
        const int64_t index = FCount.load(std::memory_order_relaxed);
        Place& place = FPlaces[static_cast<size_t>(index % Capacity())];
        place.Tag.store(2 * index + 1, std::memory_order_relaxed);
        place.Value.Store(Value);
        place.Tag.store(2 * index + 2, std::memory_order_release);
        FCount.store(index + 1, std::memory_order_release);
    }
    // The value appended as Index, or none once it has been overwritten (or is not yet whole).
    [[nodiscard]] std::optional<T> At(int64_t Index) const noexcept {
        if (Index < 0) return std::nullopt;
        const Place& place = FPlaces[static_cast<size_t>(Index % Capacity())];
        const int64_t tag = 2 * Index + 2;
        if (place.Tag.load(std::memory_order_acquire) != tag) return std::nullopt;
        const T value = place.Value.Load();
        if (place.Tag.load(std::memory_order_relaxed) != tag) return std::nullopt;
        return value;
    }

private:
    struct Place {
        std::atomic<int64_t> Tag{0};  // 2 * index + 2 once whole; odd while being written
        AtomicWords<T> Value;
    };
    std::vector<Place> FPlaces;
    std::atomic<int64_t> FCount{0};
};

}  // namespace oggmix::music::shared
