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
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
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

// The device mixer and its back end. While the back end is lost a stand-in pulls in real
// time (into nothing), so cursors, fill requests and everything timed by them go on; a watch
// thread notices the loss and opens the named back end again every second until it works.
// FBackendMutex guards only the pointer to the back end in use (held for a swap or one
// constant-time query), so no cursor query waits for a back end to open.
class DeviceCore {
public:
    static constexpr int32_t kMixChunkFrames = 1024;
    static constexpr auto kWatchInterval = std::chrono::milliseconds(50);
    static constexpr auto kReopenInterval = std::chrono::seconds(1);

    DeviceCore(std::unique_ptr<AudioBackend> backend, std::string backendName)
        : FBackend(std::move(backend)), FBackendName(std::move(backendName)) {}
    ~DeviceCore();
    DeviceCore(const DeviceCore&) = delete;
    DeviceCore& operator=(const DeviceCore&) = delete;

    [[nodiscard]] HRESULT Open();  // opens and starts the back end, then watches it
    void Close();                  // stops and closes it; no pull runs afterwards
    [[nodiscard]] int32_t PeriodFrames() const noexcept;
    [[nodiscard]] int32_t DelayFrames() const noexcept;  // 0 while lost
    [[nodiscard]] bool Lost() const noexcept { return FLost.load(std::memory_order_relaxed); }
    [[nodiscard]] const std::string& BackendName() const noexcept { return FBackendName; }

    std::mutex& VoiceMutex() noexcept { return FVoiceMutex; }
    void AddVoice(SoundBuffer* voice);              // FVoiceMutex held
    void RemoveVoice(SoundBuffer* voice) noexcept;  // FVoiceMutex held

private:
    void Mix(std::span<int16_t> out) noexcept;  // device thread
    [[nodiscard]] AudioBackend::PullFn Pull();
    void Watch();                                             // the watch thread
    void ReplaceBackend(std::unique_ptr<AudioBackend> next);  // watch thread; next opened
    void LoseBackend();                                       // watch thread
    [[nodiscard]] bool ReopenBackend();                       // watch thread

    mutable std::mutex FBackendMutex;
    std::unique_ptr<AudioBackend> FBackend;  // guarded by FBackendMutex; swapped by Watch
    const std::string FBackendName;
    bool FOpen = false;  // Open/Close thread
    std::atomic<bool> FLost{false};

    std::mutex FWatchMutex;
    std::condition_variable FWatchWake;
    bool FClosing = false;  // guarded by FWatchMutex
    std::thread FWatch;

    std::mutex FVoiceMutex;
    // Guarded by FVoiceMutex.
    std::vector<SoundBuffer*> FVoices;  // playing secondary buffers
    // Device thread only.
    std::array<int32_t, 2 * kMixChunkFrames> FAccumulator{};
};

class SoundBuffer final : public IDirectSoundBuffer8,
                          public IDirectSoundNotify,
                          public IDirectSound3DBuffer {
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
    // The primary buffer's stored listener record, behind its listener object.
    HRESULT GetListenerParameters(DS3DLISTENER* pListener);
    HRESULT SetListenerParameters(const DS3DLISTENER* pcListener, DWORD dwApply);

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
    [[nodiscard]] DWORD UnheardBytes() const noexcept;

    const std::shared_ptr<DeviceCore> FCore;
    const std::shared_ptr<SoundMemory> FMemory;  // null for the primary buffer
    const bool FPrimary;
    const DWORD FFlags;
    const WAVEFORMATEX FFormat;
    const DWORD FBytes;

    std::atomic<ULONG> FRefCount{1};
    // Written under FVoiceMutex; read anywhere (relaxed is enough for the status, the cursor
    // is stored with release after the device has read the bytes it passed).
    std::atomic<DWORD> FPlayCursor{0};  // the next byte the device mixes
    std::atomic<DWORD> FStatus{0};
    // Bytes mixed since the buffer started or was repositioned (saturating): no more than
    // these can still be on their way to the listener.
    std::atomic<DWORD> FMixedBytes{0};
    // Guarded by FVoiceMutex.
    bool FInVoices = false;
    std::vector<Notify> FNotifies;

    std::mutex FParamsMutex;  // the stored 3D parameters
    DS3DBUFFER F3DBuffer{};
    DS3DLISTENER F3DListener{};
};

}  // namespace oggmix
