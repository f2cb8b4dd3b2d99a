#pragma once
// FilterPresets.h: the eight tone-filter presets that the test application offers per channel
// and oggmix-cli takes by name: caption, the control values (lowest frequency first) and
// whether they go to SetFilterCurve4 or SetFilterCurve8. Applied with kFilterPresetSeconds
// unless the caller says otherwise.
// Threads: any. Memory: no alloc.

#include <array>
#include <cstdint>
#include <string_view>

namespace oggmix {

struct FilterPreset {
    std::string_view Caption;     // as on the button
    int32_t ValueCount;           // 4: SetFilterCurve4, 8: SetFilterCurve8
    std::array<float, 8> Values;  // the first ValueCount are used
};

inline constexpr float kFilterPresetSeconds = 5.0f;

inline constexpr std::array<FilterPreset, 8> kFilterPresets{{
    {"LowPass", 4, {1.0f, 0.0f, 0.0f, 0.0f}},
    {"HighPass", 4, {0.0f, 0.0f, 1.0f, 0.0f}},
    {"LowReso", 4, {2.0f, 1.0f, 1.0f, 1.0f}},
    {"HighReso", 4, {1.0f, 1.0f, 2.0f, 1.0f}},
    {"OFF", 4, {1.0f, 1.0f, 1.0f, 1.0f}},
    {"LoHiPass", 4, {1.0f, 0.0f, 1.0f, 0.0f}},
    {"MiddleReso", 4, {1.0f, 2.0f, 1.0f, 1.0f}},
    {"Wave", 8, {1.5f, 0.5f, 1.5f, 0.5f, 1.5f, 0.5f, 1.5f, 0.5f}},
}};

// The preset whose caption matches, ignoring ASCII letter case; null when none does.
[[nodiscard]] const FilterPreset* FindFilterPreset(std::string_view Caption) noexcept;

}  // namespace oggmix
