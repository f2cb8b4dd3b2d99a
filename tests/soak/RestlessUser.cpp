// RestlessUser.cpp: the soak's user and display, and listening after settling.
#include "tests/soak/RestlessUser.h"

#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include "base/Exceptions.h"
#include "stream/FilterPresets.h"

namespace oggmix::test {
namespace {

constexpr auto kHungWait = std::chrono::seconds(20);
constexpr int kSpectrumTries = 12;

bool Finite(float value) { return std::isfinite(value); }

// A stream the engine renders as sound: loaded, and of a rate and channel count it converts.
bool Plays(TOggData& stream) {
    return stream.GetState(true) != 0 && (stream.Rate() == 44100 || stream.Rate() == 22050) &&
           (stream.Channels() == 1 || stream.Channels() == 2);
}

}  // namespace

RestlessUser::RestlessUser(AudioFeed& Feed, MixWatch& Watch, std::vector<std::string> Files,
                           size_t Playable, uint32_t Seed)
    : FFeed(Feed), FWatch(Watch), FFiles(std::move(Files)), FPlayable(Playable), FRandom(Seed) {}

void RestlessUser::Step(const char* name) {
    FLastStep.store(name);
    FSteps.fetch_add(1);
}

void RestlessUser::Require(bool holds, const std::string& what) {
    if (holds) return;
    if (FProblems++ == 0) FProblem = what;
}

int32_t RestlessUser::AnySlot() {
    return static_cast<int32_t>(FRandom() % static_cast<uint32_t>(FFeed.StreamCount()));
}

float RestlessUser::Uniform(float low, float high) {
    return std::uniform_real_distribution<float>(low, high)(FRandom);
}

// As the application loads a file into a channel: the stream stays in its slot and plays on.
void RestlessUser::LoadOgg(int32_t slot, const std::string& file) {
    if (!std::filesystem::is_regular_file(file)) return;
    TOggData& stream = FFeed.Stream(slot);
    try {
        (void)stream.LoadFromFile(file);
    } catch (const ERangeError&) {
        ++FRefusedLoads;  // the application shows the message; the rest of the load is skipped
        return;
    }
    FFeed.Player().SetSlot(slot, &stream, true);
    FFeed.Player().Play(slot, true);
}

void RestlessUser::LoadEverySlot() {
    for (int32_t slot = 0; slot < FFeed.StreamCount(); ++slot) {
        Step("load");
        LoadOgg(slot, FFiles[static_cast<size_t>(slot) % FPlayable]);
    }
}

void RestlessUser::Act() {
    TOggPlayer& player = FFeed.Player();
    const int32_t c = AnySlot();
    TOggData* stream = player.Slots(c);
    switch (FRandom() % 17) {
        case 0:
            Step("load");
            LoadOgg(c, FFiles[FRandom() % FFiles.size()]);
            break;
        case 1:
            Step("play");
            player.Fade(c, 1.0f, 0.0f);
            player.Play(c, true);
            break;
        case 2:
            Step("pause");
            player.Pause(c);
            break;
        case 3:
            Step("stop");
            player.Stop(c);
            break;
        case 4:
            Step("fade in");
            player.Fade(c, 1.0f, 5.0f);
            player.Play(c, true);
            break;
        case 5:
            Step("fade out");
            player.Fade(c, 0.0f, Uniform(0.0f, 5.0f));
            player.Play(c, true);
            break;
        case 6: {
            // The seek bar runs over whole seconds up to the length, and a little past it.
            Step("seek");
            const float length = stream != nullptr ? stream->TotalTime() : 0.0f;
            player.Seek(c, std::round(Uniform(0.0f, length + 1.0f)));
            break;
        }
        case 7:
            Step("channel volume");
            player.SetVolume(c, (FRandom() % 201) / 100.0f);
            break;
        case 8:
            Step("gain control");
            if (stream != nullptr) stream->SetAGC((FRandom() % 11) / 10.0f);
            break;
        case 9: {
            Step("preset");
            const FilterPreset& preset = kFilterPresets[FRandom() % kFilterPresets.size()];
            const auto& v = preset.Values;
            const float seconds = FRandom() % 2 != 0 ? kFilterPresetSeconds : Uniform(0.0f, 0.5f);
            if (preset.ValueCount == 4)
                player.SetFilterCurve4(c, v[0], v[1], v[2], v[3], seconds);
            else
                player.SetFilterCurve8(c, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], seconds);
            break;
        }
        case 10:
            Step("play all");
            player.Fade(0, 1.0f, 0.0f);
            player.Fade(1, 1.0f, 0.0f);
            player.PlayAll(true);
            break;
        case 11:
            Step("stop all");
            player.StopAll();
            break;
        case 12:
            Step("master volume");
            player.SetMasterVolume((FRandom() % 201) / 100.0f);
            break;
        case 13: {
            Step("limiter bars");
            const int32_t min = static_cast<int32_t>(FRandom() % 201);
            const int32_t max = static_cast<int32_t>(FRandom() % 201);
            player.SetLimiter(min * 32767 / 100, max * 32767 / 100,
                              static_cast<int32_t>(FRandom() % 2001), 44100, -1);
            break;
        }
        case 14:
            Step("pan");
            if (stream != nullptr) stream->SetPan(Uniform(-1.0f, 1.0f), Uniform(0.0f, 2.0f));
            break;
        default: Display(); break;
    }
}

// The idle display's read-outs, for two channels at random.
void RestlessUser::Display() {
    Step("display");
    TOggPlayer& player = FFeed.Player();
    std::array<float, kSpectrumValueCount> values{};
    const auto requireSpectrum = [&](const char* what) {
        for (const float v : values)
            Require(Finite(v) && v >= 0.0f, std::string(what) + " not a magnitude");
    };
    for (const int32_t c : {AnySlot(), AnySlot()}) {
        const float playTime = player.GetPlayTime(c);
        Require(Finite(playTime) && playTime >= 0.0f, "play time " + std::to_string(playTime));
        const float time = player.GetTime(c);
        Require(Finite(time) && time >= 0.0f, "decoder time " + std::to_string(time));
        player.GetSpectrum(c, values.data());
        requireSpectrum("stream spectrum");
        for (int32_t point = 0; point < kFilterPointCount; point += 4)
            Require(Finite(player.GetFilterGain(c, point)), "filter gain not finite");
    }
    for (const int32_t channel : {0, 1}) {
        const float level = player.GetLevel(channel);
        Require(level >= 0.0f && level <= 1.0f, "level " + std::to_string(level));
    }
    player.GetMixSpectrum(values.data());
    requireSpectrum("mix spectrum");
    const int32_t position = player.MixPosition();
    Require(position >= -1 && position < AudioFeed::kMixerBytes,
            "mix position " + std::to_string(position));
    Require(player.MinLevel() <= player.MaxLevel(), "limiter bounds crossed");
    (void)player.GetLimiterLevel();
    (void)player.Peak();
}

bool RestlessUser::WaitForBlocks(uint64_t count) {
    const uint64_t target = FWatch.Blocks() + count;
    const auto deadline = std::chrono::steady_clock::now() + kHungWait;
    while (FWatch.Blocks() < target) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        FSteps.fetch_add(1);  // waiting, not stuck
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool RestlessUser::Settle() {
    Step("settle");
    const uint64_t problemsBefore = FProblems;
    TOggPlayer& player = FFeed.Player();
    player.SetMasterVolume(1.0f);
    player.SetLimiter(26213, 65534, 500, 44100, -1);  // the limiter bars' start positions
    for (int32_t c = 0; c < FFeed.StreamCount(); ++c) {
        TOggData& stream = FFeed.Stream(c);
        if (!Plays(stream)) LoadOgg(c, FFiles[static_cast<size_t>(c) % FPlayable]);
        player.Fade(c, 1.0f, 0.0f);
        player.SetVolume(c, 1.0f);
        player.SetFilterCurve4(c, 1.0f, 1.0f, 1.0f, 1.0f, 0.0f);
        stream.SetAGC(0.0f);
        stream.SetPan(0.0f, 0.0f);
        player.Play(c, true);
    }
    // Two blocks take the settings in; the next three must be heard.
    Require(WaitForBlocks(2), "no block after settling");
    const uint64_t audible = FWatch.AudibleBlocks();
    Require(WaitForBlocks(3), "no block after settling");
    Require(FWatch.AudibleBlocks() >= audible + 3, "the mix stays silent after settling");
    // Every stream is heard: right after a block, its spectrum shows sound.
    std::array<float, kSpectrumValueCount> values{};
    for (int32_t c = 0; c < FFeed.StreamCount(); ++c) {
        bool heard = false;
        for (int attempt = 0; attempt < kSpectrumTries && !heard; ++attempt) {
            if (!WaitForBlocks(1)) break;
            player.GetSpectrum(c, values.data());
            for (const float v : values) heard = heard || v > 0.0f;
        }
        Require(heard, "stream " + std::to_string(c) + " stays silent after settling");
    }
    return FProblems == problemsBefore;
}

}  // namespace oggmix::test
