#pragma once
// PlaySet.h: `oggmix-cli play --set SET.json`: a music set through the sound device, played
// from the keys of the terminal, so that a composer hears the rules work.
// Threads: the main thread. Memory: allocates.

#include <atomic>

#include "tools/oggmix-cli/CommandLine.h"

namespace oggmix::cli {

// Plays the set until q, --seconds or stopRequested (Ctrl-C); returns an exit status.
[[nodiscard]] int PlaySet(const CommandLine& args, const std::atomic<bool>& stopRequested);

}  // namespace oggmix::cli
