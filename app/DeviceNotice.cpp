// DeviceNotice.cpp: one line on standard error per loss and per return of the sound device.
#include "app/DeviceNotice.h"

#include <cstdio>

#include "sound/platform/DeviceStatus.h"

namespace oggmix {

DeviceNotice::DeviceNotice() : FSeenLosses(CurrentSoundDeviceStatus().Losses) {
    QObject::connect(&FTimer, &QTimer::timeout, [this] { Check(); });
    FTimer.start(kCheckIntervalMs);
}

void DeviceNotice::Check() {
    const SoundDeviceStatus device = CurrentSoundDeviceStatus();
    if (device.Losses != FSeenLosses) {
        FSeenLosses = device.Losses;
        std::fputs("oggmix: sound device lost; playing on, trying to reopen it every second\n",
                   stderr);
    }
    if (FWasLost && !device.Lost) std::fputs("oggmix: sound device back\n", stderr);
    FWasLost = device.Lost;
}

}  // namespace oggmix
