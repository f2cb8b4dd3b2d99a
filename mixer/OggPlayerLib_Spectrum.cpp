// OggPlayerLib_Spectrum.cpp: the spectrum of the mix being heard.

#include "mixer/OggPlayerLib.h"

namespace oggmix {

void TOggPlayer::GetMixSpectrum(float* Values) {
    GetMixSpectrum(std::span<float, kSpectrumValueCount>(Values, kSpectrumValueCount));
}

void TOggPlayer::GetMixSpectrum(std::span<float, kSpectrumValueCount> Values) {
    const int32_t pos = MixPosition();
    if (pos == -1) return;  // no recent block: the caller keeps what it showed last
    ScopedLock guard(FLock);
    TFFT& fft = *FMixSpectrumFFT;
    const ConstStereoFrames16 ring(FRing);
    int32_t frame = BytesToFrames(pos);  // a whole frame
    for (int n = 0; n < fft.Size(); ++n) {
        if (frame >= ring.Frames()) frame = 0;
        fft.Re[n] = ring.Left(frame);
        fft.Im[n] = ring.Right(frame);
        ++frame;
    }
    fft.AnalyseSpectrum(Values.data());
}

}  // namespace oggmix
