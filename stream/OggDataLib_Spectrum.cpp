// OggDataLib_Spectrum.cpp: where in the render ring the sound now heard lies, and its spectrum.
#include <algorithm>

#include "base/Clock.h"
#include "stream/OggDataLib.h"

namespace oggmix {

int32_t TOggData::SpectrumPosition() {
    ScopedLock guard(FLock);
    if (FRing.empty()) return -1;
    const auto elapsedSec =
        static_cast<float>(static_cast<double>(timeGetTime() - FTimestamp) * 0.001);
    const double ringSec = static_cast<double>(FRingSize) / kWideBytesPerSecond;
    if (static_cast<double>(elapsedSec) > ringSec || elapsedSec < 0.0f) return -1;
    const auto bytes = static_cast<float>(static_cast<double>(elapsedSec) * kWideBytesPerSecond);
    const int32_t pos = RoundHalfAway(bytes) & ~(kBytesPerWideFrame - 1);  // a whole frame
    if (pos >= FRingSize) return -1;
    // The block heard now is the one before the block rendered last.
    const int32_t fromBlock = FCurrentHalf == 0 ? pos + FRingSize / 2 : pos;
    return fromBlock % FRingSize;
}

void TOggData::GetSpectrum(float* Values) {
    GetSpectrum(std::span<float, kSpectrumValueCount>(Values, kSpectrumValueCount));
}

void TOggData::GetSpectrum(std::span<float, kSpectrumValueCount> Values) {
    const int32_t pos = SpectrumPosition();
    if (pos == -1) {
        std::fill(Values.begin(), Values.end(), 0.0f);
        return;
    }
    ScopedLock guard(FLock);
    TFFT& fft = *FSpectrumFFT;
    const ConstWideFrames32 ring(FRing);
    int32_t frame = BytesToWideFrames(pos % FRingSize);  // a whole frame
    for (int n = 0; n < fft.Size(); ++n) {
        fft.Re[n] = static_cast<float>(ring.Left(frame));
        fft.Im[n] = static_cast<float>(ring.Right(frame));
        if (++frame == ring.Frames()) frame = 0;
    }
    fft.AnalyseSpectrum(Values.data());
}

}  // namespace oggmix
