#pragma once
// DeviceStatus.h: what a host may show about the sound device of the process: whether it is
// open or lost, how often it was lost, its period and how much pulled sound is not yet heard.
// The most recently opened device counts; a host polls this (the device reports nothing).
// Threads: any.

#include <cstdint>
#include <string>

namespace oggmix {

struct SoundDeviceStatus {
    bool Open = false;         // a device object has opened its back end and not closed it
    bool Lost = false;         // the back end went away; the device plays on into nothing
    uint64_t Losses = 0;       // back ends lost since the process started
    std::string Backend;       // the OGGMIX_AUDIO name it opened
    int32_t PeriodFrames = 0;  // frames per pull of the back end in use
    int32_t DelayFrames = 0;   // frames pulled but not yet heard, now
};

[[nodiscard]] SoundDeviceStatus CurrentSoundDeviceStatus();

}  // namespace oggmix
