// MusicArguments.cpp: range checks with English messages.
#include "music/MusicArguments.h"

#include <cmath>
#include <cstdio>

#include "music/TempoGrid.h"
#include "oggmix/MusicPlayer.h"

namespace oggmix::music {
namespace {

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace

double CheckRange(double Value, double Min, double Max, const std::string& What) {
    // Arithmetic that aims at an end may miss it by a rounding error.
    constexpr double kEndTolerance = 1e-9;
    if (Value < Min && Value >= Min - kEndTolerance) return Min;
    if (Value > Max && Value <= Max + kEndTolerance) return Max;
    if (!(Value >= Min && Value <= Max))
        throw MusicError(
            MusicErrorCode::InvalidArgument,
            What + " must be " + Number(Min) + " to " + Number(Max) + ", not " + Number(Value));
    return Value;
}

double CheckSeconds(double Value, const std::string& What) {
    return CheckRange(Value, 0.0, 3600.0, What + " (seconds)");
}

int64_t CheckFarthest(int64_t Frame, const std::string& What) {
    if (Frame > kFarthestFrame)
        throw MusicError(MusicErrorCode::InvalidArgument,
                         What + " " + std::to_string(Frame) + " is too far: at most " +
                             std::to_string(kFarthestFrame) + " (about 200 years)");
    return Frame;
}

double ClampFarSeconds(double Seconds) noexcept {
    constexpr double kFarthestSec = static_cast<double>(kFarthestFrame) / 44100.0;
    return std::isfinite(Seconds) && Seconds > kFarthestSec ? kFarthestSec : Seconds;
}

}  // namespace oggmix::music
