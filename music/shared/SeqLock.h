#pragma once
// SeqLock.h: one value published by a writer and read whole by readers that never wait for the
// writer and never make it wait: the writer bumps a sequence number to odd, stores the words,
// bumps it to even; a reader tries again when the number was odd or moved while it read.
//
// Memory orders: the odd number is stored relaxed, then the words with release (AtomicWords),
// then the even number with release. A reader loads the number with acquire (so the words of
// that version are visible), the words with acquire (so that seeing any newer word also shows
// the odd number stored before it), then the number again; relaxed is enough for that last
// load, since the acquire loads of the words keep it after them.
// Threads: Publish by one writer at a time (the owner serialises writers: here, the mixer's
//          lock); Read on any thread, lock-free; it spins only while a Publish is under way.
// Memory:  no alloc.

#include <atomic>
#include <cstdint>

#include "music/shared/AtomicWords.h"

namespace oggmix::music::shared {

template <class T>
class SeqLock {
public:
    explicit SeqLock(const T& Initial = T{}) noexcept { FValue.Store(Initial); }

    void Publish(const T& Value) noexcept {
        const uint64_t sequence = FSequence.load(std::memory_order_relaxed);
        FSequence.store(sequence + 1, std::memory_order_relaxed);
        FValue.Store(Value);
        FSequence.store(sequence + 2, std::memory_order_release);
    }
    [[nodiscard]] T Read() const noexcept {
        for (;;) {
            const uint64_t before = FSequence.load(std::memory_order_acquire);
            if (before % 2 != 0) continue;
            const T value = FValue.Load();
            if (FSequence.load(std::memory_order_relaxed) == before) return value;
        }
    }

private:
    std::atomic<uint64_t> FSequence{0};
    AtomicWords<T> FValue;
};

}  // namespace oggmix::music::shared
