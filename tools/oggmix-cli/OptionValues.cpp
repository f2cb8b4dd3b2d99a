// OptionValues.cpp: reading option values from their text.
#include "tools/oggmix-cli/OptionValues.h"

#include <array>
#include <charconv>
#include <cmath>
#include <type_traits>
#include <vector>

namespace oggmix::cli {
namespace {

// Splits text at every separator.
std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (size_t at = text.find(separator); at != std::string_view::npos;
         at = text.find(separator, start)) {
        fields.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    fields.push_back(text.substr(start));
    return fields;
}

// The whole field as a number; from_chars reads "." as the decimal point whatever the locale.
template <class Number>
std::optional<Number> ParseNumber(std::string_view field) {
    Number value{};
    const char* end = field.data() + field.size();
    const auto [stop, error] = std::from_chars(field.data(), end, value);
    if (error != std::errc() || stop != end) return std::nullopt;
    if constexpr (std::is_floating_point_v<Number>) {
        if (!std::isfinite(value)) return std::nullopt;
    }
    return value;
}

std::optional<int32_t> ParseSlot(std::string_view field) {
    const std::optional<int32_t> slot = ParseNumber<int32_t>(field);
    if (!slot || *slot < 0 || *slot >= kMixSlots) return std::nullopt;
    return slot;
}

}  // namespace

std::optional<float> ParseFloat(std::string_view text) { return ParseNumber<float>(text); }
std::optional<double> ParseDouble(std::string_view text) { return ParseNumber<double>(text); }
std::optional<int64_t> ParseInteger(std::string_view text) { return ParseNumber<int64_t>(text); }

std::optional<double> ParseSeconds(std::string_view text) {
    const std::optional<double> seconds = ParseNumber<double>(text);
    if (!seconds || *seconds < 0.0) return std::nullopt;
    return seconds;
}

std::optional<SlotValue> ParseSlotValue(std::string_view text) {
    const std::vector<std::string_view> fields = Split(text, ':');
    if (fields.size() != 2) return std::nullopt;
    const std::optional<int32_t> slot = ParseSlot(fields[0]);
    const std::optional<float> value = ParseNumber<float>(fields[1]);
    if (!slot || !value) return std::nullopt;
    return SlotValue{*slot, *value};
}

std::optional<SlotValue> ParseSlotLevel(std::string_view text) {
    std::optional<SlotValue> level = ParseSlotValue(text);
    if (level && level->Value < 0.0f) return std::nullopt;
    return level;
}

std::optional<SlotFade> ParseSlotFade(std::string_view text) {
    const std::vector<std::string_view> fields = Split(text, ':');
    if (fields.size() != 3) return std::nullopt;
    const std::optional<int32_t> slot = ParseSlot(fields[0]);
    const std::optional<float> volume = ParseNumber<float>(fields[1]);
    const std::optional<float> seconds = ParseNumber<float>(fields[2]);
    if (!slot || !volume || !seconds) return std::nullopt;
    return SlotFade{*slot, *volume, *seconds};
}

std::optional<LimiterSettings> ParseLimiter(std::string_view text) {
    const std::vector<std::string_view> fields = Split(text, ',');
    if (fields.size() != 4) return std::nullopt;
    std::array<int32_t, 4> values{};
    for (size_t i = 0; i < fields.size(); ++i) {
        const std::optional<int32_t> value = ParseNumber<int32_t>(fields[i]);
        if (!value) return std::nullopt;
        values[i] = *value;
    }
    return LimiterSettings{values[0], values[1], values[2], values[3]};
}

std::optional<SlotPreset> ParseSlotPreset(std::string_view text) {
    const std::vector<std::string_view> fields = Split(text, ':');
    if (fields.size() != 2 && fields.size() != 3) return std::nullopt;
    const std::optional<int32_t> slot = ParseSlot(fields[0]);
    const FilterPreset* preset = FindFilterPreset(fields[1]);
    std::optional<float> seconds = kFilterPresetSeconds;
    if (fields.size() == 3) seconds = ParseNumber<float>(fields[2]);
    if (!slot || preset == nullptr || !seconds || *seconds < 0.0f) return std::nullopt;
    return SlotPreset{*slot, preset, *seconds};
}

std::string PresetExpectation() {
    std::string text = "SLOT:PRESET[:SECONDS] (slot 0-7; PRESET one of";
    for (const FilterPreset& preset : kFilterPresets) {
        text += ' ';
        text += preset.Caption;
    }
    text += "; SECONDS 0 or more)";
    return text;
}

}  // namespace oggmix::cli
