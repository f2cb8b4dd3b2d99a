// SoundBuffer.cpp: primary and secondary sound buffers: cursors, Lock/Unlock, play state,
// notification positions, stored 3D parameters, and the voice's part of the device mix.
#include <algorithm>
#include <cstring>

#include "sound/platform/Listener3D.h"
#include "sound/platform/SoundDevice_Internal.h"

namespace oggmix {
namespace {

DS3DBUFFER Default3DBuffer() {
    DS3DBUFFER params{};
    params.dwSize = sizeof(DS3DBUFFER);
    params.dwInsideConeAngle = 360;
    params.dwOutsideConeAngle = 360;
    params.vConeOrientation = {0.0f, 0.0f, 1.0f};
    params.flMinDistance = 1.0f;
    params.flMaxDistance = 1.0e9f;
    params.dwMode = DS3DMODE_NORMAL;
    return params;
}

DS3DLISTENER Default3DListener() {
    DS3DLISTENER params{};
    params.dwSize = sizeof(DS3DLISTENER);
    params.vOrientFront = {0.0f, 0.0f, 1.0f};
    params.vOrientTop = {0.0f, 1.0f, 0.0f};
    params.flDistanceFactor = 1.0f;
    params.flRolloffFactor = 1.0f;
    params.flDopplerFactor = 1.0f;
    return params;
}

int16_t SampleAt(const uint8_t* bytes) noexcept {
    int16_t sample;
    std::memcpy(&sample, bytes, sizeof sample);
    return sample;
}

}  // namespace

SoundBuffer::SoundBuffer(std::shared_ptr<DeviceCore> core, const DSBUFFERDESC& desc)
    : FCore(std::move(core)),
      FMemory((desc.dwFlags & DSBCAPS_PRIMARYBUFFER) != 0
                  ? nullptr
                  : std::make_shared<SoundMemory>(desc.dwBufferBytes)),
      FPrimary((desc.dwFlags & DSBCAPS_PRIMARYBUFFER) != 0),
      FFlags(desc.dwFlags),
      FFormat(FPrimary ? WAVEFORMATEX{WAVE_FORMAT_PCM, kDeviceChannels, kDeviceFramesPerSecond,
                                      kDeviceFramesPerSecond * kDeviceBytesPerFrame,
                                      kDeviceBytesPerFrame, 16, 0}
                       : *desc.lpwfxFormat),
      FBytes(FPrimary ? 0 : desc.dwBufferBytes),
      F3DBuffer(Default3DBuffer()),
      F3DListener(Default3DListener()) {}

SoundBuffer::SoundBuffer(const SoundBuffer& original)
    : IDirectSoundBuffer8(),
      IDirectSoundNotify(),
      IDirectSound3DBuffer(),
      FCore(original.FCore),
      FMemory(original.FMemory),
      FPrimary(false),
      FFlags(original.FFlags),
      FFormat(original.FFormat),
      FBytes(original.FBytes),
      F3DBuffer(Default3DBuffer()),
      F3DListener(Default3DListener()) {}

SoundBuffer::~SoundBuffer() = default;

HRESULT SoundBuffer::QueryInterface(const GUID& riid, void** ppvObject) {
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDirectSoundBuffer) {
        *ppvObject = static_cast<IDirectSoundBuffer*>(this);
    } else if (riid == IID_IDirectSoundBuffer8 && !FPrimary) {
        *ppvObject = static_cast<IDirectSoundBuffer8*>(this);
    } else if (riid == IID_IDirectSoundNotify && !FPrimary &&
               (FFlags & DSBCAPS_CTRLPOSITIONNOTIFY) != 0) {
        *ppvObject = static_cast<IDirectSoundNotify*>(this);
    } else if (riid == IID_IDirectSound3DBuffer && !FPrimary && (FFlags & DSBCAPS_CTRL3D) != 0) {
        *ppvObject = static_cast<IDirectSound3DBuffer*>(this);
    } else if (riid == IID_IDirectSound3DListener && FPrimary && (FFlags & DSBCAPS_CTRL3D) != 0) {
        // A listener object of its own, counted apart from this buffer; owned by its count.
        *ppvObject = static_cast<IDirectSound3DListener*>(new Listener3D(*this));
        return S_OK;
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG SoundBuffer::AddRef() { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }

ULONG SoundBuffer::Release() {
    const ULONG remaining = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (remaining == 0) {
        {
            std::lock_guard guard(FCore->VoiceMutex());
            if (FInVoices) FCore->RemoveVoice(this);
        }
        delete this;  // the reference count owns the object
    }
    return remaining;
}

DWORD SoundBuffer::LeadBytes() const noexcept {
    const DWORD lead = static_cast<DWORD>(FCore->PeriodFrames()) * FFormat.nBlockAlign;
    return FBytes == 0 ? 0 : lead % FBytes;
}

DWORD SoundBuffer::UnheardBytes() const noexcept {
    // Whole frames, never more than this buffer has mixed since it started, and less than a
    // turn of the ring.
    const DWORD delay = static_cast<DWORD>(FCore->DelayFrames()) * FFormat.nBlockAlign;
    const DWORD mixed = FMixedBytes.load(std::memory_order_relaxed);
    return std::min({delay, mixed, FBytes - FBytes % FFormat.nBlockAlign - FFormat.nBlockAlign});
}

HRESULT SoundBuffer::GetCurrentPosition(DWORD* pdwCurrentPlayCursor, DWORD* pdwCurrentWriteCursor) {
    if (pdwCurrentPlayCursor == nullptr && pdwCurrentWriteCursor == nullptr)
        return DSERR_INVALIDPARAM;
    const DWORD mixed = FPlayCursor.load(std::memory_order_acquire);
    const bool playing = (FStatus.load(std::memory_order_relaxed) & DSBSTATUS_PLAYING) != 0;
    // The play cursor is what is heard now: behind what was mixed by what the back end and
    // the server still hold. The write cursor stays ahead of what was mixed.
    const bool moving = playing && FBytes != 0;
    if (pdwCurrentPlayCursor != nullptr)
        *pdwCurrentPlayCursor = moving ? (mixed + FBytes - UnheardBytes()) % FBytes : mixed;
    if (pdwCurrentWriteCursor != nullptr)
        *pdwCurrentWriteCursor = moving ? (mixed + LeadBytes()) % FBytes : mixed;
    return DS_OK;
}

HRESULT SoundBuffer::GetStatus(DWORD* pdwStatus) {
    if (pdwStatus == nullptr) return DSERR_INVALIDPARAM;
    *pdwStatus = FStatus.load(std::memory_order_relaxed);
    return DS_OK;
}

HRESULT SoundBuffer::Lock(DWORD dwOffset, DWORD dwBytes, void** ppvAudioPtr1, DWORD* pdwAudioBytes1,
                          void** ppvAudioPtr2, DWORD* pdwAudioBytes2, DWORD dwFlags) {
    if (FPrimary) return DSERR_INVALIDCALL;
    if (ppvAudioPtr1 == nullptr || pdwAudioBytes1 == nullptr || dwFlags != 0 ||
        dwOffset >= FBytes || dwBytes == 0 || dwBytes > FBytes)
        return DSERR_INVALIDPARAM;
    const DWORD first = std::min(dwBytes, FBytes - dwOffset);
    const DWORD second = dwBytes - first;
    if (second != 0 && (ppvAudioPtr2 == nullptr || pdwAudioBytes2 == nullptr))
        return DSERR_INVALIDPARAM;
    uint8_t* memory = FMemory->Bytes.data();
    *ppvAudioPtr1 = memory + dwOffset;
    *pdwAudioBytes1 = first;
    if (ppvAudioPtr2 != nullptr) *ppvAudioPtr2 = second != 0 ? memory : nullptr;
    if (pdwAudioBytes2 != nullptr) *pdwAudioBytes2 = second;
    return DS_OK;
}

HRESULT SoundBuffer::Unlock(void* pvAudioPtr1, DWORD dwAudioBytes1, void* pvAudioPtr2,
                            DWORD dwAudioBytes2) {
    if (FPrimary) return DSERR_INVALIDCALL;
    const uint8_t* begin = FMemory->Bytes.data();
    const auto inside = [&](const void* ptr, DWORD bytes) {
        const auto* p = static_cast<const uint8_t*>(ptr);
        return p >= begin && p <= begin + FBytes && bytes <= static_cast<DWORD>(begin + FBytes - p);
    };
    if (!inside(pvAudioPtr1, dwAudioBytes1) ||
        (pvAudioPtr2 != nullptr && !inside(pvAudioPtr2, dwAudioBytes2)))
        return DSERR_INVALIDPARAM;
    FMemory->Generation.fetch_add(1, std::memory_order_release);
    return DS_OK;
}

HRESULT SoundBuffer::Play(DWORD dwReserved1, DWORD dwPriority, DWORD dwFlags) {
    if (dwReserved1 != 0 || dwPriority != 0 || (dwFlags & ~DSBPLAY_LOOPING) != 0)
        return DSERR_INVALIDPARAM;
    const DWORD status =
        DSBSTATUS_PLAYING | ((dwFlags & DSBPLAY_LOOPING) != 0 ? DSBSTATUS_LOOPING : 0);
    std::lock_guard guard(FCore->VoiceMutex());
    // The primary buffer only reports its state: the device always plays its mix.
    if (!FPrimary && !FInVoices) {
        FCore->AddVoice(this);
        FInVoices = true;
        FMixedBytes.store(0, std::memory_order_relaxed);
    }
    FStatus.store(status, std::memory_order_relaxed);
    return DS_OK;
}

HRESULT SoundBuffer::SetCurrentPosition(DWORD dwNewPosition) {
    if (FPrimary) return DSERR_INVALIDCALL;
    if (dwNewPosition >= FBytes) return DSERR_INVALIDPARAM;
    std::lock_guard guard(FCore->VoiceMutex());
    FPlayCursor.store(dwNewPosition - dwNewPosition % FFormat.nBlockAlign,
                      std::memory_order_release);
    FMixedBytes.store(0, std::memory_order_relaxed);
    return DS_OK;
}

HRESULT SoundBuffer::Stop() {
    std::lock_guard guard(FCore->VoiceMutex());
    if (FInVoices) {
        FCore->RemoveVoice(this);
        FInVoices = false;
    }
    StopLocked();
    return DS_OK;
}

void SoundBuffer::StopLocked() noexcept {
    const bool wasPlaying =
        (FStatus.exchange(0, std::memory_order_relaxed) & DSBSTATUS_PLAYING) != 0;
    if (!wasPlaying) return;
    for (const Notify& notify : FNotifies)
        if (notify.Offset == DSBPN_OFFSETSTOP) notify.Event->Set();
}

HRESULT SoundBuffer::SetNotificationPositions(DWORD dwPositionNotifies,
                                              const DSBPOSITIONNOTIFY* pcPositionNotifies) {
    if (dwPositionNotifies != 0 && pcPositionNotifies == nullptr) return DSERR_INVALIDPARAM;
    std::vector<Notify> notifies;
    notifies.reserve(dwPositionNotifies);
    for (DWORD i = 0; i < dwPositionNotifies; ++i) {
        const DSBPOSITIONNOTIFY& entry = pcPositionNotifies[i];
        if (entry.hEventNotify == nullptr ||
            (entry.dwOffset != DSBPN_OFFSETSTOP && entry.dwOffset >= FBytes))
            return DSERR_INVALIDPARAM;
        notifies.push_back({entry.dwOffset, static_cast<EventHandle*>(entry.hEventNotify)->State});
    }
    std::lock_guard guard(FCore->VoiceMutex());
    if ((FStatus.load(std::memory_order_relaxed) & DSBSTATUS_PLAYING) != 0)
        return DSERR_INVALIDCALL;
    FNotifies = std::move(notifies);
    return DS_OK;
}

HRESULT SoundBuffer::GetAllParameters(DS3DBUFFER* pDs3dBuffer) {
    if (pDs3dBuffer == nullptr) return DSERR_INVALIDPARAM;
    std::lock_guard guard(FParamsMutex);
    *pDs3dBuffer = F3DBuffer;
    return DS_OK;
}

HRESULT SoundBuffer::SetAllParameters(const DS3DBUFFER* pcDs3dBuffer, DWORD dwApply) {
    if (pcDs3dBuffer == nullptr || pcDs3dBuffer->dwSize != sizeof(DS3DBUFFER) ||
        pcDs3dBuffer->dwInsideConeAngle > 360 || pcDs3dBuffer->dwOutsideConeAngle > 360 ||
        pcDs3dBuffer->flMinDistance <= 0.0f || pcDs3dBuffer->flMaxDistance <= 0.0f ||
        pcDs3dBuffer->dwMode > 2 || dwApply > 1)
        return DSERR_INVALIDPARAM;
    std::lock_guard guard(FParamsMutex);
    F3DBuffer = *pcDs3dBuffer;
    return DS_OK;
}

HRESULT SoundBuffer::GetListenerParameters(DS3DLISTENER* pListener) {
    if (pListener == nullptr) return DSERR_INVALIDPARAM;
    std::lock_guard guard(FParamsMutex);
    *pListener = F3DListener;
    return DS_OK;
}

HRESULT SoundBuffer::SetListenerParameters(const DS3DLISTENER* pcListener, DWORD dwApply) {
    if (pcListener == nullptr || pcListener->dwSize != sizeof(DS3DLISTENER) || dwApply > 1)
        return DSERR_INVALIDPARAM;
    std::lock_guard guard(FParamsMutex);
    F3DListener = *pcListener;
    return DS_OK;
}

bool SoundBuffer::MixInto(std::span<int32_t> acc) noexcept {
    // Pairs with Unlock: the bytes the host wrote are visible before they are played.
    FMemory->Generation.load(std::memory_order_acquire);
    const uint8_t* memory = FMemory->Bytes.data();
    const DWORD blockAlign = FFormat.nBlockAlign;
    const bool stereo = FFormat.nChannels == 2;
    const bool looping = (FStatus.load(std::memory_order_relaxed) & DSBSTATUS_LOOPING) != 0;
    DWORD play = FPlayCursor.load(std::memory_order_relaxed);
    DWORD mixedBytes = 0;
    bool stillPlaying = true;
    for (size_t i = 0; i + 1 < acc.size(); i += 2) {
        const int16_t left = SampleAt(memory + play);
        const int16_t right = stereo ? SampleAt(memory + play + 2) : left;
        acc[i] += left;
        acc[i + 1] += right;
        for (const Notify& notify : FNotifies)
            if (notify.Offset >= play && notify.Offset < play + blockAlign) notify.Event->Set();
        play += blockAlign;
        mixedBytes += blockAlign;
        // A trailing partial frame of an odd-sized ring is never played.
        if (play + blockAlign > FBytes) {
            play = 0;
            if (!looping) {
                stillPlaying = false;
                break;
            }
        }
    }
    // Release: the bytes passed are read before the host may see the cursor beyond them.
    FPlayCursor.store(play, std::memory_order_release);
    // Saturates well inside 32 bits: one mix adds less than a ring.
    FMixedBytes.store(
        std::min(FMixedBytes.load(std::memory_order_relaxed) + mixedBytes, DSBSIZE_MAX),
        std::memory_order_relaxed);
    if (!stillPlaying) {
        FInVoices = false;
        StopLocked();
    }
    return stillPlaying;
}

}  // namespace oggmix
