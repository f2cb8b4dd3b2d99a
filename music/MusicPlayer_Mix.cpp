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

int64_t MusicPlayer::SetVolume(Track Which, double Volume, double Seconds) {
    music::ScheduledChange setting;
    setting.What = music::ScheduledChange::Kind::VolumeTo;
    setting.Value = static_cast<float>(music::CheckRange(Volume, 0.0, 2.0, "the volume"));
    setting.Seconds = static_cast<float>(music::CheckSeconds(Seconds, "the volume time"));
    return FImpl->SetNow(Which, setting);
}

int64_t MusicPlayer::SetPan(Track Which, double Pan, double Seconds) {
    music::ScheduledChange setting;
    setting.What = music::ScheduledChange::Kind::PanTo;
    setting.Value = static_cast<float>(music::CheckRange(Pan, -1.0, 1.0, "the pan"));
    setting.Seconds = static_cast<float>(music::CheckSeconds(Seconds, "the pan time"));
    return FImpl->SetNow(Which, setting);
}

int64_t MusicPlayer::SetToneFilter(Track Which, ToneFilter Filter, double Seconds) {
    music::ScheduledChange setting;
    setting.What = music::ScheduledChange::Kind::FilterTo;
    setting.Seconds = static_cast<float>(music::CheckSeconds(Seconds, "the tone filter time"));
    setting.Preset = FindFilterPreset(PresetCaption(Filter));
    return FImpl->SetNow(Which, setting);
}

int64_t MusicPlayer::SetGainControl(Track Which, double Level) {
    music::ScheduledChange setting;
    setting.What = music::ScheduledChange::Kind::GainTo;
    setting.Value =
        static_cast<float>(music::CheckRange(Level, 0.0, 10.0, "the gain control level"));
    return FImpl->SetNow(Which, setting);
}

int64_t MusicPlayer::SetMasterVolume(double Volume) {
    music::ScheduledChange setting;
    setting.What = music::ScheduledChange::Kind::MasterTo;
    setting.Value = static_cast<float>(music::CheckRange(Volume, 0.0, 2.0, "the master volume"));
    std::vector<Impl::TrackState*> tracks;
    std::vector<uint32_t> ids;
    for (auto& [id, state] : FImpl->FTracks) {
        tracks.push_back(&state);
        ids.push_back(id);
    }
    MixerGuard guard(*FImpl->FMixer);
    setting.Frame = FImpl->NextOutFrame();
    FImpl->FMasterVolume = setting.Value;  // for tracks loaded from now on
    return FImpl->ScheduleSetting(tracks, ids, setting);
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
