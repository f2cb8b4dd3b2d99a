// The structures between the game's thread and the device's: a reader beside a writer that
// never stops sees only whole values, never one overwritten, and a full queue drops rather than
// waits. Run under ThreadSanitizer too: any access outside the atomics shows there.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <thread>

#include "music/shared/SeqLock.h"
#include "music/shared/SeqRing.h"
#include "music/shared/SpscRing.h"

namespace oggmix::music::shared {
namespace {

constexpr int64_t kWrites = 200000;

// Four words, all equal when whole: a torn read shows as two that differ.
struct Quad {
    std::array<int64_t, 4> Words{};
};

TEST(SeqLock, AReaderBesideAWriterSeesOnlyWholeValuesInOrder) {
    SeqLock<Quad> published;
    std::thread writer([&] {
        for (int64_t i = 1; i <= kWrites; ++i) published.Publish({{i, i, i, i}});
    });
    int64_t last = 0;
    while (last < kWrites) {
        const Quad seen = published.Read();
        ASSERT_EQ(seen.Words[0], seen.Words[3]) << "a torn read after " << last;
        ASSERT_EQ(seen.Words[1], seen.Words[2]) << "a torn read after " << last;
        ASSERT_GE(seen.Words[0], last) << "a value older than one seen before";
        last = seen.Words[0];
    }
    writer.join();
}

TEST(SeqRing, AnIndexIsReadAsWrittenOrNotAtAllOnceOverwritten) {
    constexpr int32_t kCapacity = 64;
    SeqRing<Quad> ring(kCapacity);
    std::thread writer([&] {
        for (int64_t i = 0; i < kWrites; ++i) ring.Append({{i, i, i, i}});
    });
    while (ring.Count() < kWrites) {
        const int64_t newest = ring.Count() - 1;
        for (const int64_t index : {newest, newest - kCapacity / 2, newest - kCapacity}) {
            const std::optional<Quad> seen = ring.At(index);
            if (!seen) continue;
            ASSERT_EQ(seen->Words[0], index);
            ASSERT_EQ(seen->Words[3], index);
        }
    }
    writer.join();
    EXPECT_FALSE(ring.At(kWrites - kCapacity - 1)) << "an overwritten value was returned";
    EXPECT_TRUE(ring.At(kWrites - kCapacity));
}

TEST(SpscRing, AFullRingDropsAndCountsWhileTheConsumerGetsTheRestInOrder) {
    constexpr int32_t kCapacity = 128;
    SpscRing<int64_t> ring(kCapacity);
    std::thread producer([&] {
        for (int64_t i = 0; i < kWrites; ++i) (void)ring.Push(i);
    });
    int64_t taken = 0;
    int64_t last = -1;
    int64_t value = 0;
    const auto take = [&] {
        while (ring.Pop(value)) {
            ASSERT_GT(value, last);
            last = value;
            ++taken;
        }
    };
    while (taken + static_cast<int64_t>(ring.Dropped()) < kWrites) take();
    producer.join();
    take();
    EXPECT_EQ(taken + static_cast<int64_t>(ring.Dropped()), kWrites)
        << "a value was lost uncounted";

    SpscRing<int64_t> full(2);
    EXPECT_TRUE(full.Push(1));
    EXPECT_TRUE(full.Push(2));
    EXPECT_FALSE(full.Push(3));
    EXPECT_EQ(full.Dropped(), 1u);
}

}  // namespace
}  // namespace oggmix::music::shared
