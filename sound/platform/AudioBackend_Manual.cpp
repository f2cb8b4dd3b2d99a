// AudioBackend_Manual.cpp: the test back end; the device moves only when a test advances it.
#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>

#include "sound/platform/AudioBackend.h"
#include "sound/platform/DeviceClock.h"
#include "sound/platform/ManualAudio.h"

namespace oggmix {
namespace {

class ManualBackend;

// The open manual back end of the process. Advance holds the mutex for its whole pull, so
// closing waits for a pull in progress.
std::mutex gManualMutex;
ManualBackend* gOpenManual = nullptr;  // guarded by gManualMutex
std::atomic<int32_t> gDelayFrames{0};
std::atomic<bool> gAvailable{true};

class ManualBackend final : public AudioBackend {
public:
    explicit ManualBackend(int32_t periodFrames) : FPeriodFrames(periodFrames) {}
    ~ManualBackend() override { Close(); }

    HRESULT Open(PullFn pull) override {
        std::lock_guard guard(gManualMutex);
        if (!gAvailable.load(std::memory_order_relaxed))
            return Fail("the manual audio device is unavailable");
        if (gOpenManual != nullptr) return Fail("the manual audio device is already open");
        FPull = std::move(pull);
        FPulledFrames = 0;
        FClock.Reset();
        gOpenManual = this;
        Opened();
        return DS_OK;
    }
    void Start() override {
        std::lock_guard guard(gManualMutex);
        FRunning = true;
    }
    void Stop() override {
        std::lock_guard guard(gManualMutex);
        FRunning = false;
    }
    void Close() override {
        std::lock_guard guard(gManualMutex);
        FRunning = false;
        if (gOpenManual == this) gOpenManual = nullptr;
    }
    int32_t PeriodFrames() const noexcept override { return FPeriodFrames; }
    int32_t DelayFrames() const noexcept override {
        return gDelayFrames.load(std::memory_order_relaxed);
    }
    bool Lost() const noexcept override { return !gAvailable.load(std::memory_order_relaxed); }
    // Time stands still on the manual device: heard is what its play cursor says, exactly.
    int64_t HeardFrames() const noexcept override { return FClock.HeardFrames(kStillNs); }
    std::string Name() const override { return "manual"; }

    // gManualMutex held.
    void Pull(std::span<int16_t> out) {
        if (!FRunning || !gAvailable.load(std::memory_order_relaxed)) {
            std::fill(out.begin(), out.end(), int16_t{0});
            return;
        }
        FPull(out);
        FPulledFrames += static_cast<int64_t>(out.size()) / kDeviceChannels;
        FClock.Record(FPulledFrames, gDelayFrames.load(std::memory_order_relaxed), kStillNs);
    }

private:
    static constexpr int64_t kStillNs = 0;

    const int32_t FPeriodFrames;
    PullFn FPull;
    bool FRunning = false;      // guarded by gManualMutex
    int64_t FPulledFrames = 0;  // guarded by gManualMutex
    DeviceClock FClock;
};

}  // namespace

std::unique_ptr<AudioBackend> MakeManualBackend(int32_t periodFrames) {
    return std::make_unique<ManualBackend>(periodFrames);
}

namespace ManualAudio {

bool Advance(int32_t Frames, std::vector<int16_t>* Out) {
    std::lock_guard guard(gManualMutex);
    if (gOpenManual == nullptr) return false;
    std::array<int16_t, 2 * 512> chunk{};
    for (int32_t done = 0; done < Frames;) {
        const int32_t frames = std::min<int32_t>(Frames - done, 512);
        const std::span<int16_t> part(chunk.data(), static_cast<size_t>(frames) * 2);
        gOpenManual->Pull(part);
        if (Out != nullptr) Out->insert(Out->end(), part.begin(), part.end());
        done += frames;
    }
    return true;
}

bool IsOpen() {
    std::lock_guard guard(gManualMutex);
    return gOpenManual != nullptr;
}

void SetDelayFrames(int32_t Frames) { gDelayFrames.store(Frames, std::memory_order_relaxed); }

void SetAvailable(bool Available) { gAvailable.store(Available, std::memory_order_relaxed); }

}  // namespace ManualAudio
}  // namespace oggmix
