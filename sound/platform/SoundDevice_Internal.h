#pragma once
// SoundDevice_Internal.h: the objects behind the DirectSound interfaces: the device mixer
// (DeviceCore), the device object, sound buffers and events. Private to sound/platform.
//
// Threads and locks: DeviceCore::FVoiceMutex guards the list of playing voices and every
// change of a voice's cursor or play state. The device thread holds it for one pull; other
// threads hold it only for a constant-time change (Play, Stop, SetCurrentPosition, adding
// notification positions). Sound memory is written through Lock/Unlock without any lock: the
// host writes only the part of the ring the device is not playing. Unlock publishes the bytes
// (release) and the device's cursor store publishes what it has read.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "sound/platform/AudioBackend.h"
#include "sound/platform/DirectSound.h"

namespace oggmix {

class SoundBuffer;

class EventState {
public:
    explicit EventState(bool manualReset, bool signalled)
        : FManualReset(manualReset), FSignalled(signalled) {}
    void Set() noexcept;
    void Reset() noexcept;
    [[nodiscard]] bool Wait(DWORD timeoutMs);  // true when signalled within the time

private:
    std::mutex FMutex;
    std::condition_variable FCondition;
    const bool FManualReset;
    bool FSignalled;
};

// What a HANDLE points at; notification positions keep the state alive past CloseHandle.
struct EventHandle {
    std::shared_ptr<EventState> State;
};

class DeviceCore {
public:
    static constexpr int32_t kMixChunkFrames = 1024;

    explicit DeviceCore(std::unique_ptr<AudioBackend> backend) : FBackend(std::move(backend)) {}
    ~DeviceCore();
    DeviceCore(const DeviceCore&) = delete;
    DeviceCore& operator=(const DeviceCore&) = delete;

    [[nodiscard]] HRESULT Open();  // opens and starts the back end
    void Close();                  // stops and closes it; no pull runs afterwards
    [[nodiscard]] int32_t PeriodFrames() const noexcept { return FPeriodFrames; }

    std::mutex& VoiceMutex() noexcept { return FVoiceMutex; }
    void AddVoice(SoundBuffer* voice);            // FVoiceMutex held
    void RemoveVoice(SoundBuffer* voice) noexcept;  // FVoiceMutex held

private:
    void Mix(std::span<int16_t> out) noexcept;  // device thread

    std::unique_ptr<AudioBackend> FBackend;
    int32_t FPeriodFrames = 0;
    bool FOpen = false;

    std::mutex FVoiceMutex;
    // Guarded by FVoiceMutex.
    std::vector<SoundBuffer*> FVoices;  // playing secondary buffers
    // Device thread only.
    std::array<int32_t, 2 * kMixChunkFrames> FAccumulator{};
};

class SoundBuffer final : public IDirectSoundBuffer8,
                          public IDirectSoundNotify,
                          public IDirectSound3DBuffer,
                          public IDirectSound3DListener {
public:
    // desc already checked by the device.
    SoundBuffer(std::shared_ptr<DeviceCore> core, const DSBUFFERDESC& desc);
    // A duplicate of original: same memory, format and flags; own cursor, stopped.
    explicit SoundBuffer(const SoundBuffer& original);

    [[nodiscard]] bool Primary() const noexcept { return FPrimary; }
    [[nodiscard]] DWORD Flags() const noexcept { return FFlags; }

    HRESULT QueryInterface(const GUID& riid, void** ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetCurrentPosition(DWORD* pdwCurrentPlayCursor, DWORD* pdwCurrentWriteCursor) override;
    HRESULT GetStatus(DWORD* pdwStatus) override;
    HRESULT Lock(DWORD dwOffset, DWORD dwBytes, void** ppvAudioPtr1, DWORD* pdwAudioBytes1,
                 void** ppvAudioPtr2, DWORD* pdwAudioBytes2, DWORD dwFlags) override;
    HRESULT Play(DWORD dwReserved1, DWORD dwPriority, DWORD dwFlags) override;
    HRESULT SetCurrentPosition(DWORD dwNewPosition) override;
    HRESULT Stop() override;
    HRESULT Unlock(void* pvAudioPtr1, DWORD dwAudioBytes1, void* pvAudioPtr2,
                   DWORD dwAudioBytes2) override;

    HRESULT SetNotificationPositions(DWORD dwPositionNotifies,
                                     const DSBPOSITIONNOTIFY* pcPositionNotifies) override;

    HRESULT GetAllParameters(DS3DBUFFER* pDs3dBuffer) override;
    HRESULT SetAllParameters(const DS3DBUFFER* pcDs3dBuffer, DWORD dwApply) override;
    HRESULT GetAllParameters(DS3DLISTENER* pListener) override;
    HRESULT SetAllParameters(const DS3DLISTENER* pcListener, DWORD dwApply) override;

    // Adds Frames frames of this voice to acc (interleaved left, right) and advances the cursor.
    // False when the voice stopped at the end of the ring. Device thread, FVoiceMutex held.
    [[nodiscard]] bool MixInto(std::span<int32_t> acc) noexcept;

private:
    struct SoundMemory {
        explicit SoundMemory(size_t bytes) : Bytes(bytes, 0) {}
        std::vector<uint8_t> Bytes;
        std::atomic<uint32_t> Generation{0};  // bumped by Unlock (release)
    };
    struct Notify {
        DWORD Offset;
        std::shared_ptr<EventState> Event;
    };

    ~SoundBuffer();
    void StopLocked() noexcept;  // FVoiceMutex held
    [[nodiscard]] DWORD LeadBytes() const noexcept;

    const std::shared_ptr<DeviceCore> FCore;
    const std::shared_ptr<SoundMemory> FMemory;  // null for the primary buffer
    const bool FPrimary;
    const DWORD FFlags;
    const WAVEFORMATEX FFormat;
    const DWORD FBytes;

    std::atomic<ULONG> FRefCount{1};
    // Written under FVoiceMutex; read anywhere (relaxed is enough for the status, the cursor
    // is stored with release after the device has read the bytes it passed).
    std::atomic<DWORD> FPlayCursor{0};
    std::atomic<DWORD> FStatus{0};
    // Guarded by FVoiceMutex.
    bool FInVoices = false;
    std::vector<Notify> FNotifies;

    std::mutex FParamsMutex;  // the stored 3D parameters
    DS3DBUFFER F3DBuffer{};
    DS3DLISTENER F3DListener{};
};

}  // namespace oggmix
