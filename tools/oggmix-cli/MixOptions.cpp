// MixOptions.cpp: parsing the shared mix options and applying them to a mixer or a stream.
#include "tools/oggmix-cli/MixOptions.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>
#include <type_traits>

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

std::optional<SlotValue> ParseSlotValue(std::string_view text) {
    const std::vector<std::string_view> fields = Split(text, ':');
    if (fields.size() != 2) return std::nullopt;
    const std::optional<int32_t> slot = ParseSlot(fields[0]);
    const std::optional<float> value = ParseNumber<float>(fields[1]);
    if (!slot || !value) return std::nullopt;
    return SlotValue{*slot, *value};
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

// SLOT:PRESET or SLOT:PRESET:SECONDS; the caption in any letter case.
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

std::optional<SlotValue> ParseSlotLevel(std::string_view text) {
    std::optional<SlotValue> level = ParseSlotValue(text);
    if (level && level->Value < 0.0f) return std::nullopt;
    return level;
}

// Calls curve4 or curve8, whichever takes as many control values as the preset has, with
// those values and the transition time.
template <class Curve4, class Curve8>
void SetPreset(const SlotPreset& eq, Curve4 curve4, Curve8 curve8) {
    const auto& v = eq.Preset->Values;
    if (eq.Preset->ValueCount == 8) {
        curve8(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], eq.Seconds);
    } else {
        curve4(v[0], v[1], v[2], v[3], eq.Seconds);
    }
}

std::string PresetExpectation() {
    std::string text = "SLOT:PRESET[:SECONDS] (slot 0-7; PRESET one of";
    for (const FilterPreset& preset : kFilterPresets) {
        text += ' ';
        text += preset.Caption;
    }
    return text + "; SECONDS 0 or more)";
}

std::optional<double> ParseSeconds(std::string_view text) {
    const std::optional<double> seconds = ParseNumber<double>(text);
    if (!seconds || *seconds < 0.0) return std::nullopt;
    return seconds;
}

// Stores a parsed value, or says what was expected.
template <class Value, class Store>
OptionParse Take(std::optional<Value> value, Store store, const std::string& name,
                 const char* expected, std::string& error) {
    if (!value) {
        error = name + " expects " + expected;
        return OptionParse::Invalid;
    }
    store(*value);
    return OptionParse::Parsed;
}

}  // namespace

int32_t MixOptions::HighestSlot() const noexcept {
    int32_t highest = -1;
    for (const auto* list : {&Volumes, &Pans, &Seeks}) {
        for (const SlotValue& setting : *list) highest = std::max(highest, setting.Slot);
    }
    for (const SlotFade& fade : Fades) highest = std::max(highest, fade.Slot);
    for (const SlotPreset& eq : Filters) highest = std::max(highest, eq.Slot);
    for (const SlotValue& agc : GainControls) highest = std::max(highest, agc.Slot);
    return highest;
}

OptionParse ParseMixOption(std::span<const std::string> args, size_t& index, MixOptions& options,
                           std::string& error) {
    const std::string& arg = args[index];
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);

    // The options without a value.
    bool MixOptions::*const flag = name == "--no-loop"     ? &MixOptions::NoLoop
                                   : name == "--loop-tags" ? &MixOptions::LoopTags
                                   : name == "--resample"  ? &MixOptions::Resample
                                                           : nullptr;
    if (flag != nullptr) {
        if (equals != std::string::npos) {
            error = name + " takes no value";
            return OptionParse::Invalid;
        }
        options.*flag = true;
        return OptionParse::Parsed;
    }
    static constexpr std::string_view kValued[] = {"--volume", "--master", "--pan",
                                                   "--fade",   "--seek",   "--limiter",
                                                   "--eq",     "--agc",    "--seconds"};
    if (std::find(std::begin(kValued), std::end(kValued), name) == std::end(kValued))
        return OptionParse::NotAMixOption;

    std::string value;
    if (equals != std::string::npos) {
        value = arg.substr(equals + 1);
    } else if (index + 1 < args.size()) {
        value = args[++index];
    } else {
        error = name + " needs a value";
        return OptionParse::Invalid;
    }

    if (name == "--volume")
        return Take(
            ParseSlotValue(value), [&](SlotValue v) { options.Volumes.push_back(v); }, name,
            "SLOT:VOLUME (slot 0-7)", error);
    if (name == "--master")
        return Take(
            ParseNumber<float>(value), [&](float v) { options.MasterVolume = v; }, name, "a number",
            error);
    if (name == "--pan")
        return Take(
            ParseSlotValue(value), [&](SlotValue v) { options.Pans.push_back(v); }, name,
            "SLOT:PAN (slot 0-7, pan -1 to 1)", error);
    if (name == "--fade")
        return Take(
            ParseSlotFade(value), [&](SlotFade v) { options.Fades.push_back(v); }, name,
            "SLOT:VOLUME:SECONDS (slot 0-7)", error);
    if (name == "--seek")
        return Take(
            ParseSlotValue(value), [&](SlotValue v) { options.Seeks.push_back(v); }, name,
            "SLOT:SECONDS (slot 0-7)", error);
    if (name == "--limiter")
        return Take(
            ParseLimiter(value), [&](LimiterSettings v) { options.Limiter = v; }, name,
            "MIN,MAX,DOWN,DELAY (four integers)", error);
    if (name == "--eq")
        return Take(
            ParseSlotPreset(value), [&](SlotPreset v) { options.Filters.push_back(v); }, name,
            PresetExpectation().c_str(), error);
    if (name == "--agc")
        return Take(
            ParseSlotLevel(value), [&](SlotValue v) { options.GainControls.push_back(v); }, name,
            "SLOT:LEVEL (slot 0-7, level 0 or more)", error);
    return Take(
        ParseSeconds(value), [&](double v) { options.Seconds = v; }, name,
        "a number of seconds, 0 or more", error);
}

std::string ParseArguments(std::span<const std::string> args, MixOptions& options,
                           const OtherArgument& other) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::string error;
        switch (ParseMixOption(args, i, options, error)) {
            case OptionParse::Parsed: continue;
            case OptionParse::Invalid: return error;
            case OptionParse::NotAMixOption: break;
        }
        if (error = other(args, i); !error.empty()) return error;
    }
    return {};
}

const char* MixOptionsUsage() noexcept {
    return "      --volume SLOT:V          volume of a slot's stream (1.0 = unchanged)\n"
           "      --master V               master volume of every stream\n"
           "      --pan SLOT:P             pan, -1 left .. 0 centre .. 1 right\n"
           "      --fade SLOT:VOLUME:SEC   fade to VOLUME over SEC seconds of audio\n"
           "      --seek SLOT:SECONDS      start the slot's stream there\n"
           "      --limiter MIN,MAX,DOWN,DELAY  limiter bounds, fall per group, hold in frames\n"
           "      --eq SLOT:PRESET[:SEC]   tone-filter preset (LowPass, HighPass, LowReso,\n"
           "                               HighReso, OFF, LoHiPass, MiddleReso, Wave), reached\n"
           "                               over SEC seconds (default 5)\n"
           "      --agc SLOT:LEVEL         gain control: 0 off, 1.0 aims at full level\n"
           "      --seconds S              length (default: the longest file)\n"
           "      --no-loop                play each file once\n"
           "      --loop-tags              also loop by LOOPSTART with LOOPLENGTH or LOOPEND\n"
           "      --resample               convert other rates and 3 to 8 channels to 44100 Hz\n"
           "                               stereo (without it such files are refused)";
}

void ApplyMixOptions(const MixOptions& options, TOggPlayer& mixer) {
    if (options.LoopTags) {
        for (int32_t slot = 0; slot < kMixSlots; ++slot)
            if (TOggData* stream = mixer.Slots(slot)) stream->SetLoopStartTags(true);
    }
    for (const SlotValue& volume : options.Volumes) mixer.SetVolume(volume.Slot, volume.Value);
    if (options.MasterVolume) mixer.SetMasterVolume(*options.MasterVolume);
    // The mixer has no pan of its own: it goes to the slot's stream directly.
    for (const SlotValue& pan : options.Pans) {
        if (TOggData* stream = mixer.Slots(pan.Slot)) stream->SetPan(pan.Value, 0.0f);
    }
    for (const SlotFade& fade : options.Fades) mixer.Fade(fade.Slot, fade.Volume, fade.Seconds);
    for (const SlotValue& seek : options.Seeks) mixer.Seek(seek.Slot, seek.Value);
    if (const auto& l = options.Limiter) mixer.SetLimiter(l->Min, l->Max, l->Down, l->Delay, -1);
    for (const SlotPreset& eq : options.Filters) {
        SetPreset(
            eq, [&](auto... curve) { mixer.SetFilterCurve4(eq.Slot, curve...); },
            [&](auto... curve) { mixer.SetFilterCurve8(eq.Slot, curve...); });
    }
    // The mixer forwards no gain control: the slot's stream is set directly.
    for (const SlotValue& agc : options.GainControls) {
        if (TOggData* stream = mixer.Slots(agc.Slot)) stream->SetAGC(agc.Value);
    }
}

void ApplyStreamOptions(const MixOptions& options, TOggData& stream) {
    if (options.LoopTags) stream.SetLoopStartTags(true);
    for (const SlotValue& volume : options.Volumes) {
        if (volume.Slot == 0) stream.SetVolume(volume.Value);
    }
    if (options.MasterVolume) stream.SetMasterVolume(*options.MasterVolume);
    for (const SlotValue& pan : options.Pans) {
        if (pan.Slot == 0) stream.SetPan(pan.Value, 0.0f);
    }
    for (const SlotFade& fade : options.Fades) {
        if (fade.Slot == 0) stream.Fade(fade.Volume, fade.Seconds);
    }
    for (const SlotValue& seek : options.Seeks) {
        if (seek.Slot == 0) stream.Seek(seek.Value, true);
    }
    for (const SlotPreset& eq : options.Filters) {
        if (eq.Slot != 0) continue;
        SetPreset(
            eq, [&](auto... curve) { stream.SetFilterCurve4(curve...); },
            [&](auto... curve) { stream.SetFilterCurve8(curve...); });
    }
    for (const SlotValue& agc : options.GainControls) {
        if (agc.Slot == 0) stream.SetAGC(agc.Value);
    }
}

}  // namespace oggmix::cli
