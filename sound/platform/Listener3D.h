#pragma once
// Listener3D.h: the 3D listener of a primary buffer, a COM object with a reference count of
// its own (as the device's listener is), so that releasing the last listener reference
// returns 0 whatever the primary buffer's count is. It keeps the primary buffer alive and
// stores its parameters there. Private to sound/platform.
// Threads: any; the parameters are guarded by the primary buffer.

#include <atomic>

#include "sound/platform/DirectSound.h"

namespace oggmix {

class SoundBuffer;

class Listener3D final : public IDirectSound3DListener {
public:
    // Takes a reference to primary for the listener's lifetime; the new object has count 1.
    explicit Listener3D(SoundBuffer& primary);

    HRESULT QueryInterface(const GUID& riid, void** ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetAllParameters(DS3DLISTENER* pListener) override;
    HRESULT SetAllParameters(const DS3DLISTENER* pcListener, DWORD dwApply) override;

private:
    ~Listener3D();

    SoundBuffer& FPrimary;
    std::atomic<ULONG> FRefCount{1};
};

}  // namespace oggmix
