#pragma once
// SpscRing.h: a bounded queue from one producer thread to one consumer thread. The producer
// never waits: when the ring is full the value is dropped and counted. The consumer takes what
// is there and never waits either.
//
// Memory orders: the producer stores the value in its place, then moves the write index with
// release; the consumer loads the write index with acquire, so the values below it are
// visible, copies them out, then moves the read index with release; the producer loads the read
// index with acquire before reusing a place, so the consumer is done with it. Each index is
// written by one thread only and loaded relaxed by that thread.
// Threads: Push and Dropped on the producer (here, the device's thread); Pop on the consumer
//          (the game's thread); Dropped on any thread.
// Memory:  construction allocates; Push and Pop do not.

#include <atomic>
#include <cstdint>
#include <vector>

namespace oggmix::music::shared {

template <class T>
class SpscRing {
public:
    explicit SpscRing(int32_t Capacity) : FItems(static_cast<size_t>(Capacity)) {}

    // False when full: the value is dropped (and counted).
    bool Push(const T& Value) noexcept {
        const uint64_t write = FWrite.load(std::memory_order_relaxed);
        if (write - FRead.load(std::memory_order_acquire) == FItems.size()) {
            FDropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        FItems[write % FItems.size()] = Value;
        FWrite.store(write + 1, std::memory_order_release);
        return true;
    }
    // False when empty.
    bool Pop(T& Out) noexcept {
        const uint64_t read = FRead.load(std::memory_order_relaxed);
        if (read == FWrite.load(std::memory_order_acquire)) return false;
        Out = FItems[read % FItems.size()];
        FRead.store(read + 1, std::memory_order_release);
        return true;
    }
    // Values dropped because the ring was full.
    [[nodiscard]] uint64_t Dropped() const noexcept {
        return FDropped.load(std::memory_order_relaxed);
    }

private:
    std::vector<T> FItems;
    std::atomic<uint64_t> FWrite{0};  // values pushed; the producer's
    std::atomic<uint64_t> FRead{0};   // values popped; the consumer's
    std::atomic<uint64_t> FDropped{0};
};

}  // namespace oggmix::music::shared
