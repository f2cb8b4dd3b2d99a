#pragma once
// OptionValues.h: the values of oggmix-cli's options, read from their text. Numbers take "."
// as the decimal point whatever the locale and must be finite; a slot is 0 to kMixSlots - 1.
// Each reader returns nothing when the whole text is not of its form.
// Threads: any. Memory: allocates.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tools/oggmix-cli/MixOptions.h"

namespace oggmix::cli {

[[nodiscard]] std::optional<float> ParseFloat(std::string_view text);
[[nodiscard]] std::optional<double> ParseDouble(std::string_view text);
[[nodiscard]] std::optional<int64_t> ParseInteger(std::string_view text);
// A length or a moment in seconds, 0 or more.
[[nodiscard]] std::optional<double> ParseSeconds(std::string_view text);
// SLOT:VALUE.
[[nodiscard]] std::optional<SlotValue> ParseSlotValue(std::string_view text);
// SLOT:LEVEL, the level 0 or more.
[[nodiscard]] std::optional<SlotValue> ParseSlotLevel(std::string_view text);
// SLOT:VOLUME:SECONDS.
[[nodiscard]] std::optional<SlotFade> ParseSlotFade(std::string_view text);
// MIN,MAX,DOWN,DELAY: four integers.
[[nodiscard]] std::optional<LimiterSettings> ParseLimiter(std::string_view text);
// SLOT:PRESET or SLOT:PRESET:SECONDS; the preset's caption in any letter case.
[[nodiscard]] std::optional<SlotPreset> ParseSlotPreset(std::string_view text);

// What ParseSlotPreset takes, with every preset's caption.
[[nodiscard]] std::string PresetExpectation();

}  // namespace oggmix::cli
