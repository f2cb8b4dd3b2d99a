#pragma once
// SoundTestSupport.h: a sound component on the manual back end, a recorder of fill requests,
// and waiting for the notification thread without timing assertions (the time-out only ends
// a hung run).

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "sound/platform/ManualAudio.h"
#include "sound/voxa.h"

namespace oggmix::test {

inline constexpr auto kHungRun = std::chrono::seconds(20);

// Waits until done() holds; false only when the run hung.
inline bool WaitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kHungRun;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Waits until the thread has polled at least twice more, so it has seen the present cursors.
inline bool WaitForPolls(const TVOXANotifyThread& thread) {
    const uint64_t start = thread.PollCount();
    return WaitUntil([&] { return thread.PollCount() >= start + 2; });
}

struct FillRequest {
    TVOXAGenWave* Sender;
    TVOXAChannel* Channel;
    uint32_t Offset;
    uint32_t Size;
    friend bool operator==(const FillRequest&, const FillRequest&) = default;
};

// Records every fill request; optionally writes a constant sample pattern for each request.
class FillRecorder {
public:
    TVOXAFillEvent Handler(std::function<void(const FillRequest&)> also = nullptr) {
        return [this, also](TVOXAGenWave* sender, TVOXAChannel* channel, uint32_t offset,
                            uint32_t size) {
            const FillRequest request{sender, channel, offset, size};
            if (also) also(request);
            std::lock_guard guard(FMutex);
            FRequests.push_back(request);
        };
    }
    [[nodiscard]] std::vector<FillRequest> Requests() const {
        std::lock_guard guard(FMutex);
        return FRequests;
    }
    [[nodiscard]] size_t Count() const {
        std::lock_guard guard(FMutex);
        return FRequests.size();
    }
    bool WaitForCount(size_t count) const {
        return WaitUntil([&] { return Count() >= count; });
    }

private:
    mutable std::mutex FMutex;
    std::vector<FillRequest> FRequests;
};

// A loaded TVOXA on the manual back end (OGGMIX_AUDIO=manual unless a test sets another).
class ManualSound : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("OGGMIX_AUDIO", Backend(), 1);
        FVoxa = std::make_unique<TVOXA>(nullptr);
        FVoxa->SetDebugOption(Options());
        FVoxa->Loaded();
    }
    void TearDown() override { FVoxa.reset(); }
    virtual const char* Backend() const { return "manual"; }
    virtual TVOXADebugOption Options() const { return {dsoExceptOnError}; }

    // Advances the device; frames are 4 bytes of a 44100 Hz stereo ring.
    static void Advance(int32_t frames, std::vector<int16_t>* out = nullptr) {
        ASSERT_TRUE(ManualAudio::Advance(frames, out));
    }
    static uint32_t PlayCursor(IDirectSoundBuffer8* buffer) {
        DWORD play = 0;
        DWORD write = 0;
        EXPECT_EQ(buffer->GetCurrentPosition(&play, &write), DS_OK);
        return play;
    }
    // The remaining references after this probe (AddRef, then Release).
    static ULONG RefCount(IUnknown* object) {
        object->AddRef();
        return object->Release();
    }

    std::unique_ptr<TVOXA> FVoxa;
};

}  // namespace oggmix::test
