#pragma once
// MusicArguments.h: checks of the numbers a game passes, with messages that say which value
// and what range. Threads: any. Errors: MusicError (InvalidArgument).
#include <cstdint>
#include <string>

namespace oggmix::music {

// Value itself when it is a number in Min .. Max; within 1e-9 beyond an end, that end.
double CheckRange(double Value, double Min, double Max, const std::string& What);
// A duration: a number of at least 0 seconds (at most an hour).
double CheckSeconds(double Value, const std::string& What);
// An output or source frame asked for: at most kFarthestFrame (music/TempoGrid.h).
int64_t CheckFarthest(int64_t Frame, const std::string& What);
// A time into a track: a finite one past the farthest frame's is taken as that (the track
// ends long before); others are left for the caller to judge.
double ClampFarSeconds(double Seconds) noexcept;

}  // namespace oggmix::music
