// SoundDevice.cpp: the device object and its mixer, and the process-wide entry points that
// make it (CoInitializeEx, CoUninitialize, CoCreateInstance).
#include <atomic>

#include "sound/platform/SoundDevice_Internal.h"

namespace oggmix {
namespace {

std::atomic<int32_t> gCoInitCount{0};

bool ValidSecondaryFormat(const WAVEFORMATEX& format) {
    return format.wFormatTag == WAVE_FORMAT_PCM &&
           (format.nChannels == 1 || format.nChannels == 2) && format.wBitsPerSample == 16 &&
           format.nSamplesPerSec == kDeviceFramesPerSecond &&
           format.nBlockAlign == format.nChannels * 2 &&
           format.nAvgBytesPerSec == format.nBlockAlign * format.nSamplesPerSec;
}

class SoundDevice final : public IDirectSound8 {
public:
    HRESULT QueryInterface(const GUID& riid, void** ppvObject) override {
        if (ppvObject == nullptr) return E_POINTER;
        *ppvObject = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDirectSound8) return E_NOINTERFACE;
        *ppvObject = static_cast<IDirectSound8*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        const ULONG remaining = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (remaining == 0) {
            // Buffers may outlive the device; they keep the core but nothing plays them.
            if (FCore) FCore->Close();
            delete this;  // the reference count owns the object
        }
        return remaining;
    }

    HRESULT CreateSoundBuffer(const DSBUFFERDESC* pcDSBufferDesc, IDirectSoundBuffer** ppDSBuffer,
                              IUnknown* pUnkOuter) override {
        if (ppDSBuffer == nullptr) return DSERR_INVALIDPARAM;
        *ppDSBuffer = nullptr;
        if (pUnkOuter != nullptr) return DSERR_NOAGGREGATION;
        if (!FCore) return DSERR_UNINITIALIZED;
        if (pcDSBufferDesc == nullptr || pcDSBufferDesc->dwSize != sizeof(DSBUFFERDESC))
            return DSERR_INVALIDPARAM;
        const DSBUFFERDESC& desc = *pcDSBufferDesc;
        if ((desc.dwFlags & DSBCAPS_PRIMARYBUFFER) != 0) {
            if (desc.dwBufferBytes != 0 || desc.lpwfxFormat != nullptr ||
                (desc.dwFlags & (DSBCAPS_CTRLFX | DSBCAPS_CTRLPOSITIONNOTIFY)) != 0)
                return DSERR_INVALIDPARAM;
        } else {
            if (desc.lpwfxFormat == nullptr || desc.dwBufferBytes < DSBSIZE_MIN ||
                desc.dwBufferBytes > DSBSIZE_MAX)
                return DSERR_INVALIDPARAM;
            if (!ValidSecondaryFormat(*desc.lpwfxFormat)) return DSERR_BADFORMAT;
        }
        *ppDSBuffer = new SoundBuffer(FCore, desc);  // owned by its reference count
        return DS_OK;
    }

    HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* pDSBufferOriginal,
                                 IDirectSoundBuffer** ppDSBufferDuplicate) override {
        if (ppDSBufferDuplicate == nullptr || pDSBufferOriginal == nullptr)
            return DSERR_INVALIDPARAM;
        *ppDSBufferDuplicate = nullptr;
        if (!FCore) return DSERR_UNINITIALIZED;
        auto* original = dynamic_cast<SoundBuffer*>(pDSBufferOriginal);
        if (original == nullptr) return DSERR_INVALIDPARAM;
        // A primary buffer has no memory of its own; an effects buffer cannot be shared.
        if (original->Primary() || (original->Flags() & DSBCAPS_CTRLFX) != 0)
            return DSERR_INVALIDCALL;
        *ppDSBufferDuplicate = new SoundBuffer(*original);  // owned by its reference count
        return DS_OK;
    }

    HRESULT SetCooperativeLevel(HWND, DWORD dwLevel) override {
        if (!FCore) return DSERR_UNINITIALIZED;
        if (dwLevel < DSSCL_NORMAL || dwLevel > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
        return DS_OK;
    }

    HRESULT Initialize(const GUID* pcGuidDevice) override {
        if (FCore) return DSERR_ALREADYINITIALIZED;
        if (pcGuidDevice != nullptr && *pcGuidDevice != GUID_NULL) return DSERR_NODRIVER;
        const std::string name = AudioBackendName();
        std::unique_ptr<AudioBackend> backend;
        if (const HRESULT hr = CreateAudioBackend(name, backend); hr != DS_OK) return hr;
        auto core = std::make_shared<DeviceCore>(std::move(backend), name);
        if (const HRESULT hr = core->Open(); hr != DS_OK) return hr;
        FCore = std::move(core);
        return DS_OK;
    }

private:
    ~SoundDevice() = default;

    std::atomic<ULONG> FRefCount{1};
    std::shared_ptr<DeviceCore> FCore;  // set by Initialize
};

}  // namespace

HRESULT CoInitializeEx(void*, DWORD) {
    return gCoInitCount.fetch_add(1, std::memory_order_relaxed) == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    int32_t count = gCoInitCount.load(std::memory_order_relaxed);
    while (count > 0 &&
           !gCoInitCount.compare_exchange_weak(count, count - 1, std::memory_order_relaxed)) {
    }
}

HRESULT CoCreateInstance(const GUID& rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                         const GUID& riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (gCoInitCount.load(std::memory_order_relaxed) == 0) return CO_E_NOTINITIALIZED;
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
    if (rclsid != CLSID_DirectSound8 || (dwClsContext & CLSCTX_INPROC_SERVER) == 0)
        return REGDB_E_CLASSNOTREG;
    if (riid != IID_IUnknown && riid != IID_IDirectSound8) return E_NOINTERFACE;
    *ppv = static_cast<IDirectSound8*>(new SoundDevice());  // owned by its reference count
    return S_OK;
}

}  // namespace oggmix
