#pragma once
// MusicArguments.h: checks of the numbers a game passes, with messages that say which value
// and what range. Threads: any. Errors: MusicError (InvalidArgument).
#include <string>

namespace oggmix::music {

// Value itself when it is a number in Min .. Max; within 1e-9 beyond an end, that end.
double CheckRange(double Value, double Min, double Max, const std::string& What);
// A duration: a number of at least 0 seconds (at most an hour).
double CheckSeconds(double Value, const std::string& What);

}  // namespace oggmix::music
