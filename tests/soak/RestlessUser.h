#pragma once
// RestlessUser.h: the user and the display of the test application, played as fast as one
// thread can: every control of the panel on any of the feed's streams (loads into streams
// that sit in a slot and play, transport, fades, seeks, pan, volumes, presets, gain control,
// limiter bars) and every read-out of the idle display, chosen at random; each read-out is
// checked to be a number in its range. Settle() sets every control to a sane state and
// listens that the mix and every stream are audible again.
// Threads: the UI thread (the test's own). Memory: allocates (as the application does).

#include <atomic>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "feed/AudioFeed.h"
#include "tests/soak/SoakWatch.h"

namespace oggmix::test {

class RestlessUser {
public:
    // Files: music the engine plays, then (after Playable of them) files it refuses or
    // renders as silence.
    RestlessUser(AudioFeed& Feed, MixWatch& Watch, std::vector<std::string> Files, size_t Playable,
                 uint32_t Seed);

    void LoadEverySlot();  // a playable file into every stream, each in its slot, looping
    void Act();            // one control or one display pass, at random
    // Every control to a sane state, every slot playing a file it can play; then listens for
    // a few blocks. False, with Problem() saying why, when the mix or a stream stays silent.
    [[nodiscard]] bool Settle();

    // Progress, for the watchdog.
    [[nodiscard]] const std::atomic<uint64_t>& Steps() const noexcept { return FSteps; }
    [[nodiscard]] const std::atomic<const char*>& LastStep() const noexcept { return FLastStep; }
    // Read-outs out of range so far, and the first of them.
    [[nodiscard]] uint64_t Problems() const noexcept { return FProblems; }
    [[nodiscard]] const std::string& Problem() const noexcept { return FProblem; }
    [[nodiscard]] uint64_t RefusedLoads() const noexcept { return FRefusedLoads; }

private:
    void Step(const char* name);
    void Require(bool holds, const std::string& what);
    void LoadOgg(int32_t slot, const std::string& file);
    void Display();
    // Waits (keeping the watchdog fed) until the mix watch has seen count more blocks.
    [[nodiscard]] bool WaitForBlocks(uint64_t count);
    [[nodiscard]] int32_t AnySlot();
    [[nodiscard]] float Uniform(float low, float high);

    AudioFeed& FFeed;
    MixWatch& FWatch;
    std::vector<std::string> FFiles;
    size_t FPlayable;
    std::mt19937 FRandom;
    std::atomic<uint64_t> FSteps{0};
    std::atomic<const char*> FLastStep{"start"};
    uint64_t FProblems = 0;
    std::string FProblem;
    uint64_t FRefusedLoads = 0;
};

}  // namespace oggmix::test
