#pragma once
// MixOptions.h: the mix options that the rendering and playing subcommands share: per-slot
// volume, pan, fade and seek, the master volume, the limiter, per-slot tone-filter presets and
// gain control, the length and looping. Read from the command line (CommandLine.h), then
// applied to a mixer (or to one stream) before the first block.
// Threads: the main thread. Memory: applying calls the setters only.

#include <cstdint>
#include <optional>
#include <vector>

#include "mixer/OggPlayerLib.h"
#include "stream/FilterPresets.h"
#include "stream/OggDataLib.h"

namespace oggmix::cli {

// The test application's sizes, which every subcommand that mixes uses.
inline constexpr int32_t kMixBufferBytes = 65536;
inline constexpr int32_t kMixSlots = 8;

struct SlotValue {
    int32_t Slot = 0;
    float Value = 0.0f;
};

struct SlotFade {
    int32_t Slot = 0;
    float Volume = 0.0f;
    float Seconds = 0.0f;
};

struct SlotPreset {
    int32_t Slot = 0;
    const FilterPreset* Preset = nullptr;  // one of kFilterPresets
    float Seconds = kFilterPresetSeconds;  // transition time
};

struct LimiterSettings {
    int32_t Min = 0;
    int32_t Max = 0;
    int32_t Down = 0;
    int32_t Delay = 0;  // frames
};

struct MixOptions {
    std::vector<SlotValue> Volumes;          // --volume SLOT:V
    std::optional<float> MasterVolume;       // --master V (the last one given)
    std::vector<SlotValue> Pans;             // --pan SLOT:P, -1 left .. +1 right
    std::vector<SlotFade> Fades;             // --fade SLOT:VOLUME:SECONDS
    std::vector<SlotValue> Seeks;            // --seek SLOT:SECONDS
    std::optional<LimiterSettings> Limiter;  // --limiter MIN,MAX,DOWN,DELAY (the last one)
    std::vector<SlotPreset> Filters;         // --eq SLOT:PRESET[:SECONDS]
    std::vector<SlotValue> GainControls;     // --agc SLOT:LEVEL, 0 off .. 1.0 aims at 30000
    std::optional<double> Seconds;           // --seconds S: the length to render or play
    bool NoLoop = false;                     // --no-loop
    bool LoopTags = false;                   // --loop-tags: cues from LOOPSTART and its kin too
    bool Resample = false;                   // --resample: conversion on for every file

    // The highest slot any option names, or -1.
    [[nodiscard]] int32_t HighestSlot() const noexcept;
};

// Applies the options to the streams in the mixer's slots, in this order: loop tags, volumes,
// master volume, pans, fades, seeks, limiter (with Level -1), filter presets (through the
// mixer's SetFilterCurve4/8), gain control; each kind in command-line order.
void ApplyMixOptions(const MixOptions& options, TOggPlayer& mixer);
// The same for one stream played without a mixer, as slot 0; there is no limiter to set.
void ApplyStreamOptions(const MixOptions& options, TOggData& stream);

}  // namespace oggmix::cli
