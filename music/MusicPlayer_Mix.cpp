// MusicPlayer_Mix.cpp: volume, pan, tone filter and gain control per track; master volume and
// the limiter of the mix.
#include "base/PcmFormat.h"
#include "music/MusicArguments.h"
#include "music/MusicPlayer_Impl.h"
#include "stream/FilterPresets.h"

namespace oggmix {
namespace {

std::string_view PresetCaption(ToneFilter Filter) {
    switch (Filter) {
        case ToneFilter::Off: return "OFF";
        case ToneFilter::LowPass: return "LowPass";
        case ToneFilter::HighPass: return "HighPass";
        case ToneFilter::LowReso: return "LowReso";
        case ToneFilter::HighReso: return "HighReso";
        case ToneFilter::LoHiPass: return "LoHiPass";
        case ToneFilter::MiddleReso: return "MiddleReso";
        case ToneFilter::Wave: return "Wave";
    }
    throw MusicError(MusicErrorCode::InvalidArgument,
                     "unknown tone filter " + std::to_string(static_cast<int>(Filter)));
}

constexpr int32_t kMaxLimiterLevel = 8388607;

}  // namespace

void MusicPlayer::SetVolume(Track Which, double Volume, double Seconds) {
    const double volume = music::CheckRange(Volume, 0.0, 2.0, "the volume");
    const double seconds = music::CheckSeconds(Seconds, "the volume time");
    FImpl->ForEachMember(Which, [&](TOggData& stream) {
        stream.SetVolume(static_cast<float>(volume), static_cast<float>(seconds));
    });
}

void MusicPlayer::SetPan(Track Which, double Pan, double Seconds) {
    const double pan = music::CheckRange(Pan, -1.0, 1.0, "the pan");
    const double seconds = music::CheckSeconds(Seconds, "the pan time");
    FImpl->ForEachMember(Which, [&](TOggData& stream) {
        stream.SetPan(static_cast<float>(pan), static_cast<float>(seconds));
    });
}

void MusicPlayer::SetToneFilter(Track Which, ToneFilter Filter, double Seconds) {
    const double seconds = music::CheckSeconds(Seconds, "the tone filter time");
    const FilterPreset* preset = FindFilterPreset(PresetCaption(Filter));
    const auto& v = preset->Values;
    const auto time = static_cast<float>(seconds);
    FImpl->ForEachMember(Which, [&](TOggData& stream) {
        if (preset->ValueCount == 8)
            stream.SetFilterCurve8(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], time);
        else
            stream.SetFilterCurve4(v[0], v[1], v[2], v[3], time);
    });
}

void MusicPlayer::SetGainControl(Track Which, double Level) {
    const double level = music::CheckRange(Level, 0.0, 10.0, "the gain control level");
    FImpl->ForEachMember(Which,
                         [&](TOggData& stream) { stream.SetAGC(static_cast<float>(level)); });
}

void MusicPlayer::SetMasterVolume(double Volume) {
    FImpl->FMasterVolume = music::CheckRange(Volume, 0.0, 2.0, "the master volume");
    for (auto& [id, state] : FImpl->FTracks)
        state.Stream->SetMasterVolume(static_cast<float>(FImpl->FMasterVolume));
}

void MusicPlayer::SetLimiter(int32_t Min, int32_t Max, int32_t Down, int32_t HoldFrames) {
    music::CheckRange(Min, 1, kMaxLimiterLevel, "the limiter's Min");
    music::CheckRange(Max, Min, kMaxLimiterLevel, "the limiter's Max");
    music::CheckRange(Down, 0, kMaxLimiterLevel, "the limiter's Down");
    music::CheckRange(HoldFrames, 0, kFramesPerSecond * 60, "the limiter's hold (frames)");
    FImpl->FMixer->SetLimiter(Min, Max, Down, HoldFrames, -1);
}

void MusicPlayer::ResetLimiter() { FImpl->FMixer->ResetLimiter(); }

}  // namespace oggmix
