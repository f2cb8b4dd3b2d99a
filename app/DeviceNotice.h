#pragma once
// DeviceNotice.h: tells the user of the test application when the sound device goes away
// and when it is back ("sound device lost" once per loss, on standard error), by looking at
// the device's status a few times a second. The sound device itself carries on in real time
// and reopens the device; this only says so.
// Threads: the user-interface thread (a QTimer).

#include <QTimer>

#include <cstdint>

namespace oggmix {

class DeviceNotice {
public:
    DeviceNotice();
    DeviceNotice(const DeviceNotice&) = delete;
    DeviceNotice& operator=(const DeviceNotice&) = delete;

private:
    static constexpr int kCheckIntervalMs = 250;
    void Check();

    QTimer FTimer;
    uint64_t FSeenLosses;
    bool FWasLost = false;
};

}  // namespace oggmix
