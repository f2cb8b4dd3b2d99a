// OggDataLib_Transport.cpp: play, pause, stop and seek, the play state, and the two clocks a
// host reads: where the decoder is and what is being heard.
#include <algorithm>

#include "base/Clock.h"
#include "stream/OggDataLib.h"

namespace oggmix {

void TOggData::Play(bool Loop, bool Lock) {
    ScopedLockIf guard(FLock, Lock);
    // Music that ended inside the converter restarts it at the rewound position.
    if (FConverter && (FConvStale || FConvEnding)) PrepareConverter();
    if (Loaded()) SetState(Loop ? TStreamState::Looping : TStreamState::Playing);
}

void TOggData::Pause(bool Lock) {
    ScopedLockIf guard(FLock, Lock);
    if (Playing()) SetState(TStreamState::Loaded);
}

void TOggData::Stop(bool Lock) {
    ScopedLockIf guard(FLock, Lock);
    Pause(false);
    FRenderStartTime = 0.0f;
    FLastTime = 0.0f;
    Seek(0.0f, false);
    FHasHeldFrame = false;
    FRepeatCount.fill(0);
    std::fill(FRing.begin(), FRing.end(), 0);
}

void TOggData::Seek(float Seconds, bool Lock) {
    ScopedLockIf guard(FLock, Lock);
    if (!Loaded()) return;
    // A NaN lands on the start, like any other position before it.
    if (!(Seconds >= 0.0f)) Seconds = 0.0f;
    if (Seconds > FTotalTime) Seconds = FTotalTime;
    // Through the converter the decoder runs ahead of the output, so it always moves.
    if ((FConverter || GetTime(false) != Seconds) && Seekable() && !SeekDecoder(Seconds) &&
        Seconds >= FTotalTime && FPcmTotal > 0) {
        // The decoder refuses its own end time; the last frame is as close as it goes.
        SeekDecoderToFrame(FPcmTotal - 1);
    }
    if (FConverter) PrepareConverter();
    FLastTime = 0.0f;
}

int32_t TOggData::GetState(bool Lock) {
    ScopedLockIf guard(FLock, Lock);
    return static_cast<int32_t>(State());
}

float TOggData::GetTime(bool Lock) {
    ScopedLockIf guard(FLock, Lock);
    if (!Loaded()) return 0.0f;
    if (FConverter) return static_cast<float>(std::max(0.0, ConvertedTimeSec()));
    return static_cast<float>(DecoderTime());
}

bool TOggData::Seekable() { return Loaded() && Binding().Seekable(FDecoder->Get()) != 0; }

float TOggData::GetPlayTime() {
    ScopedLock guard(FLock);
    if (FRenderStartTime == 0.0f) return 0.0f;

    const auto ringTime = static_cast<float>(static_cast<double>(FRingSize) / kWideBytesPerSecond);
    auto elapsed = static_cast<float>(static_cast<double>(timeGetTime() - FTimestamp) * 0.001);
    if (elapsed > ringTime) elapsed = ringTime;
    // The block being heard started half a ring before the block rendered last.
    const float behind = ringTime * 0.5f - elapsed;
    float t = FRenderStartTime - behind;
    if (t > FTotalTime) t = FTotalTime;
    const float now = GetTime(false);
    if (t > now) t = now;
    if (now - ringTime > t) t = now - ringTime;
    // Small backward steps of the estimate are hidden; a real jump back resets FLastTime.
    if (t < FLastTime && FLastTime - t < ringTime) t = FLastTime;
    FLastTime = t;
    return t;
}

}  // namespace oggmix
