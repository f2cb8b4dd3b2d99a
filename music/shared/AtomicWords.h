#pragma once
// AtomicWords.h: a trivially copyable value kept in 64-bit atomic words, so that one thread can
// write it while another reads it without a data race in the language's sense (and without one
// that ThreadSanitizer reports). The words alone give no consistency: a reader may see half of
// one value and half of the next. SeqLock and SeqRing add the sequence numbers that tell a
// reader whether what it read is whole.
//
// Memory orders: each word is stored with release and loaded with acquire. A reader that
// loads any word of a value being written therefore also sees every store the writer made
// before that word (its odd sequence number above all), which is what lets the sequence
// check that follows catch a torn read without fences (ThreadSanitizer does not model
// fences).
// Threads: one writer at a time (the owner serialises writers); readers on any thread.
// Memory:  no alloc; Store and Load are a few plain moves on x86-64.

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace oggmix::music::shared {

template <class T>
class AtomicWords {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    void Store(const T& Value) noexcept {
        std::array<uint64_t, kWords> words{};
        std::memcpy(words.data(), &Value, sizeof(T));
        for (size_t i = 0; i < kWords; ++i) FWords[i].store(words[i], std::memory_order_release);
    }
    [[nodiscard]] T Load() const noexcept {
        std::array<uint64_t, kWords> words{};
        for (size_t i = 0; i < kWords; ++i) words[i] = FWords[i].load(std::memory_order_acquire);
        T value;
        std::memcpy(static_cast<void*>(&value), words.data(), sizeof(T));  // trivially copyable
        return value;
    }

private:
    static constexpr size_t kWords = (sizeof(T) + sizeof(uint64_t) - 1) / sizeof(uint64_t);
    std::array<std::atomic<uint64_t>, kWords> FWords{};
};

}  // namespace oggmix::music::shared
