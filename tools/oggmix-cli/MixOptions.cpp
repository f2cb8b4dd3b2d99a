// MixOptions.cpp: applying the mix options to a mixer or a stream.
#include "tools/oggmix-cli/MixOptions.h"

#include <algorithm>

namespace oggmix::cli {
namespace {

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
