#pragma once
// DeviceClock.h: how many of the frames a back end has pulled the listener has heard by now.
// The device thread records, at each pull or write, the frames pulled since Open and how many
// of them the back end and the server still hold, with the time; a reader takes the record and
// adds the frames played since by the clock, so the count moves every frame between records.
// The count never decreases (a record that would go back keeps what was already reported)
// and never exceeds the frames pulled, except while the clock runs free: a resting device's
// time goes on past what was pulled, until the next record.
// Threads: Record and Reset on the device thread (or serialised by the back end's lock),
//          HeardFrames on any thread, lock-free: a sequence lock over atomics.
// Units:   frames at the device rate; times in nanoseconds of std::chrono::steady_clock.

#include <atomic>
#include <cstdint>

namespace oggmix {

class DeviceClock {
public:
    [[nodiscard]] static int64_t NowNs() noexcept;

    // Before the device runs: nothing pulled, nothing heard.
    void Reset() noexcept;
    // pulledFrames: pulled since Open; unheardFrames: of those, not yet heard at nowNs.
    void Record(int64_t pulledFrames, int64_t unheardFrames, int64_t nowNs) noexcept;
    void Record(int64_t pulledFrames, int64_t unheardFrames) noexcept {
        Record(pulledFrames, unheardFrames, NowNs());
    }
    // From now until the next record the count goes on with the clock past the frames pulled.
    void RunFree() noexcept;
    // Heard at nowNs: the last record moved on by the time since, up to what was pulled.
    [[nodiscard]] int64_t HeardFrames(int64_t nowNs) const noexcept;
    [[nodiscard]] int64_t HeardFrames() const noexcept { return HeardFrames(NowNs()); }

private:
    struct Snapshot {
        int64_t HeardFrames = 0;  // heard at StampNs
        int64_t PulledFrames = 0;
        int64_t StampNs = 0;
    };
    void Store(const Snapshot& at) noexcept;
    [[nodiscard]] Snapshot Read() const noexcept;
    [[nodiscard]] static int64_t Extrapolate(const Snapshot& at, int64_t nowNs) noexcept;

    std::atomic<uint32_t> FSequence{0};  // odd while a record is being written
    std::atomic<int64_t> FHeardFrames{0};
    std::atomic<int64_t> FPulledFrames{0};
    std::atomic<int64_t> FStampNs{0};
};

}  // namespace oggmix
