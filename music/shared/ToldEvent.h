#pragma once
// ToldEvent.h: an event on its way from the device's thread to the game's, through an
// SpscRing: told as soon as it is mixed (beats, bars, cue points, markers; Event.Frame says
// when it will be heard), or kept by the game until output frame AtFrame is heard (Looped,
// Ended: they tell what happened, so they wait until it has).

#include <cstdint>

#include "music/shared/SpscRing.h"
#include "oggmix/MusicPlayer.h"

namespace oggmix::music::shared {

struct ToldEvent {
    int64_t AtFrame = 0;
    MusicEvent Event{};
    bool WhenHeard = false;
};

using EventRing = SpscRing<ToldEvent>;
inline constexpr int32_t kEventCapacity = 65536;  // events mixed but not yet polled

}  // namespace oggmix::music::shared
