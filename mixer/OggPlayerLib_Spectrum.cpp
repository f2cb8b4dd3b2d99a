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
    const int32_t ringSamples = FRingSize / static_cast<int32_t>(sizeof(int16_t));
    int32_t index = pos / static_cast<int32_t>(sizeof(int16_t));
    for (int n = 0; n < fft.Size(); ++n) {
        if (index >= ringSamples) index = 0;
        fft.Re[n] = FRing[index];
        fft.Im[n] = FRing[index + 1];
        index += 2;
    }
    fft.AnalyseSpectrum(Values.data());
}

}  // namespace oggmix
