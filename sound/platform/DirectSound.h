#pragma once
// DirectSound.h: the software sound device: the subset of the DirectSound 8 interfaces that the
// sound output uses, with the published GUIDs, result codes, flags and records, over an audio
// back end chosen by OGGMIX_AUDIO (sdl, null, wav:PATH, manual; see AudioBackend.h).
//
// Objects are reference counted: AddRef/Release, Release returns the remaining count and frees
// the object at 0. QueryInterface hands out the interfaces of one object by their GUIDs.
// Every method returns a 32-bit result code: 0 (DS_OK) or one of the published failure values.
//
// Threads: any. The device thread (back-end callback or pump) mixes every playing secondary
//          buffer; it takes only the device's voice lock, which other threads hold just long
//          enough to add or remove a voice, never across a refill or a Lock/Unlock span.
// Memory:  creating objects allocates; cursor queries, Lock/Unlock, Play/Stop do not (the first
//          Play of a buffer may grow the voice list once). The device thread never allocates.
// Units:   cursors, offsets and sizes in bytes of the buffer.

#include <cstdint>

// Where <windows.h> came first, its macros of these names would rewrite the declarations below:
// they step aside for this header and are back after it.
#pragma push_macro("S_OK")
#undef S_OK
#pragma push_macro("S_FALSE")
#undef S_FALSE
#pragma push_macro("E_NOINTERFACE")
#undef E_NOINTERFACE
#pragma push_macro("E_POINTER")
#undef E_POINTER
#pragma push_macro("E_FAIL")
#undef E_FAIL
#pragma push_macro("CLASS_E_NOAGGREGATION")
#undef CLASS_E_NOAGGREGATION
#pragma push_macro("REGDB_E_CLASSNOTREG")
#undef REGDB_E_CLASSNOTREG
#pragma push_macro("CO_E_NOTINITIALIZED")
#undef CO_E_NOTINITIALIZED
#pragma push_macro("WAVE_FORMAT_PCM")
#undef WAVE_FORMAT_PCM
#pragma push_macro("WAIT_OBJECT_0")
#undef WAIT_OBJECT_0
#pragma push_macro("WAIT_TIMEOUT")
#undef WAIT_TIMEOUT
#pragma push_macro("WAIT_FAILED")
#undef WAIT_FAILED
#pragma push_macro("INFINITE")
#undef INFINITE

namespace oggmix {

using HRESULT = int32_t;
using DWORD = uint32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using WORD = uint16_t;
using HWND = void*;    // a window; the software device accepts any value
using HANDLE = void*;  // an event made by CreateEventA

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
    friend constexpr bool operator==(const GUID&, const GUID&) = default;
};
static_assert(sizeof(GUID) == 16);

inline constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID CLSID_DirectSound8{
    0x3901CC3F, 0x84B5, 0x4FA4, {0xBA, 0x35, 0xAA, 0x81, 0x72, 0xB8, 0xA0, 0x9B}};
inline constexpr GUID IID_IDirectSound8{
    0xC50A7E93, 0xF395, 0x4834, {0x9E, 0xF6, 0x7F, 0xA9, 0x9D, 0xE5, 0x09, 0x66}};
inline constexpr GUID IID_IDirectSoundBuffer{
    0x279AFA85, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
inline constexpr GUID IID_IDirectSoundBuffer8{
    0x6825A449, 0x7524, 0x4D82, {0x92, 0x0F, 0x50, 0xE3, 0x6A, 0xB3, 0xAB, 0x1E}};
inline constexpr GUID IID_IDirectSoundNotify{
    0xB0210783, 0x89CD, 0x11D0, {0xAF, 0x08, 0x00, 0xA0, 0xC9, 0x25, 0xCD, 0x16}};
inline constexpr GUID IID_IDirectSound3DBuffer{
    0x279AFA86, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
inline constexpr GUID IID_IDirectSound3DListener{
    0x279AFA84, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};

// Result codes.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT DS_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);
inline constexpr HRESULT DSERR_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT DSERR_INVALIDPARAM = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT DSERR_NOAGGREGATION = CLASS_E_NOAGGREGATION;
inline constexpr HRESULT DSERR_CONTROLUNAVAIL = static_cast<HRESULT>(0x8878001Eu);
inline constexpr HRESULT DSERR_INVALIDCALL = static_cast<HRESULT>(0x88780032u);
inline constexpr HRESULT DSERR_BADFORMAT = static_cast<HRESULT>(0x88780064u);
inline constexpr HRESULT DSERR_NODRIVER = static_cast<HRESULT>(0x88780078u);
inline constexpr HRESULT DSERR_ALREADYINITIALIZED = static_cast<HRESULT>(0x88780082u);
inline constexpr HRESULT DSERR_UNINITIALIZED = static_cast<HRESULT>(0x887800AAu);

// Flags and constants.
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD DSSCL_NORMAL = 1;
inline constexpr DWORD DSSCL_PRIORITY = 2;
inline constexpr DWORD DSSCL_EXCLUSIVE = 3;
inline constexpr DWORD DSSCL_WRITEPRIMARY = 4;
inline constexpr DWORD DSBCAPS_PRIMARYBUFFER = 0x1;
inline constexpr DWORD DSBCAPS_CTRL3D = 0x10;
inline constexpr DWORD DSBCAPS_CTRLFREQUENCY = 0x20;
inline constexpr DWORD DSBCAPS_CTRLPAN = 0x40;
inline constexpr DWORD DSBCAPS_CTRLVOLUME = 0x80;
inline constexpr DWORD DSBCAPS_CTRLPOSITIONNOTIFY = 0x100;
inline constexpr DWORD DSBCAPS_CTRLFX = 0x200;
inline constexpr DWORD DSBCAPS_STICKYFOCUS = 0x4000;
inline constexpr DWORD DSBCAPS_GETCURRENTPOSITION2 = 0x10000;
inline constexpr DWORD DSBSTATUS_PLAYING = 0x1;
inline constexpr DWORD DSBSTATUS_LOOPING = 0x4;
inline constexpr DWORD DSBPLAY_LOOPING = 0x1;
inline constexpr DWORD DSBPN_OFFSETSTOP = 0xFFFFFFFFu;
inline constexpr DWORD DSBSIZE_MIN = 4;
inline constexpr DWORD DSBSIZE_MAX = 0x0FFFFFFF;
inline constexpr DWORD DS3D_IMMEDIATE = 0;
inline constexpr DWORD DS3DMODE_NORMAL = 0;
inline constexpr WORD WAVE_FORMAT_PCM = 1;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 0x102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
inline constexpr DWORD INFINITE = 0xFFFFFFFFu;

// Records. WAVEFORMATEX is packed to 18 bytes as on the wire of the platform.
#pragma pack(push, 2)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

// 36 bytes with 32-bit pointers; the format pointer makes it 40 on a 64-bit build. dwSize must
// hold sizeof(DSBUFFERDESC).
struct DSBUFFERDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwReserved;
    WAVEFORMATEX* lpwfxFormat;
    GUID guid3DAlgorithm;
};
static_assert(sizeof(DSBUFFERDESC) == 32 + sizeof(void*));

struct DSBPOSITIONNOTIFY {
    DWORD dwOffset;  // bytes, or DSBPN_OFFSETSTOP
    HANDLE hEventNotify;
};
static_assert(sizeof(DSBPOSITIONNOTIFY) == 2 * sizeof(void*));

struct D3DVECTOR {
    float x;
    float y;
    float z;
};
static_assert(sizeof(D3DVECTOR) == 12);

struct DS3DBUFFER {
    DWORD dwSize;
    D3DVECTOR vPosition;
    D3DVECTOR vVelocity;
    DWORD dwInsideConeAngle;   // degrees
    DWORD dwOutsideConeAngle;  // degrees
    D3DVECTOR vConeOrientation;
    LONG lConeOutsideVolume;  // hundredths of a decibel
    float flMinDistance;
    float flMaxDistance;
    DWORD dwMode;
};
static_assert(sizeof(DS3DBUFFER) == 64);

struct DS3DLISTENER {
    DWORD dwSize;
    D3DVECTOR vPosition;
    D3DVECTOR vVelocity;
    D3DVECTOR vOrientFront;
    D3DVECTOR vOrientTop;
    float flDistanceFactor;
    float flRolloffFactor;
    float flDopplerFactor;
};
static_assert(sizeof(DS3DLISTENER) == 64);

// ---- Interfaces ----

struct IUnknown {
    virtual HRESULT QueryInterface(const GUID& riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;  // the remaining count; frees the object at 0

protected:
    ~IUnknown() = default;  // freed only through Release
};

struct IDirectSoundBuffer : IUnknown {
    // Play and write cursor; the write cursor leads the play cursor by the back end's period
    // while the buffer plays and equals it while stopped. Either pointer may be null.
    virtual HRESULT GetCurrentPosition(DWORD* pdwCurrentPlayCursor,
                                       DWORD* pdwCurrentWriteCursor) = 0;
    virtual HRESULT GetStatus(DWORD* pdwStatus) = 0;  // DSBSTATUS_PLAYING, DSBSTATUS_LOOPING
    // The range dwOffset .. dwOffset + dwBytes of the ring as one or two regions (the second
    // when it wraps past the end). dwFlags must be 0.
    virtual HRESULT Lock(DWORD dwOffset, DWORD dwBytes, void** ppvAudioPtr1, DWORD* pdwAudioBytes1,
                         void** ppvAudioPtr2, DWORD* pdwAudioBytes2, DWORD dwFlags) = 0;
    // Plays from the play cursor; with DSBPLAY_LOOPING round the ring, else to its end.
    virtual HRESULT Play(DWORD dwReserved1, DWORD dwPriority, DWORD dwFlags) = 0;
    virtual HRESULT SetCurrentPosition(DWORD dwNewPosition) = 0;
    virtual HRESULT Stop() = 0;  // keeps the play cursor
    virtual HRESULT Unlock(void* pvAudioPtr1, DWORD dwAudioBytes1, void* pvAudioPtr2,
                           DWORD dwAudioBytes2) = 0;

protected:
    ~IDirectSoundBuffer() = default;
};

struct IDirectSoundBuffer8 : IDirectSoundBuffer {
protected:
    ~IDirectSoundBuffer8() = default;
};

struct IDirectSoundNotify : IUnknown {
    // Events signalled when the play cursor reaches each offset, and at Stop for
    // DSBPN_OFFSETSTOP. Only while the buffer is stopped.
    virtual HRESULT SetNotificationPositions(DWORD dwPositionNotifies,
                                             const DSBPOSITIONNOTIFY* pcPositionNotifies) = 0;

protected:
    ~IDirectSoundNotify() = default;
};

// Stored parameters only: the software device does not spatialise.
struct IDirectSound3DBuffer : IUnknown {
    virtual HRESULT GetAllParameters(DS3DBUFFER* pDs3dBuffer) = 0;
    virtual HRESULT SetAllParameters(const DS3DBUFFER* pcDs3dBuffer, DWORD dwApply) = 0;

protected:
    ~IDirectSound3DBuffer() = default;
};

struct IDirectSound3DListener : IUnknown {
    virtual HRESULT GetAllParameters(DS3DLISTENER* pListener) = 0;
    virtual HRESULT SetAllParameters(const DS3DLISTENER* pcListener, DWORD dwApply) = 0;

protected:
    ~IDirectSound3DListener() = default;
};

struct IDirectSound8 : IUnknown {
    // Secondary buffers: 16-bit PCM, mono or stereo, 44100 Hz (other formats: DSERR_BADFORMAT).
    virtual HRESULT CreateSoundBuffer(const DSBUFFERDESC* pcDSBufferDesc,
                                      IDirectSoundBuffer** ppDSBuffer, IUnknown* pUnkOuter) = 0;
    // A buffer that shares the original's sound memory and has its own cursor, stopped at 0.
    virtual HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* pDSBufferOriginal,
                                         IDirectSoundBuffer** ppDSBufferDuplicate) = 0;
    virtual HRESULT SetCooperativeLevel(HWND hwnd, DWORD dwLevel) = 0;
    // Opens the back end that OGGMIX_AUDIO names (null or GUID_NULL: the default device);
    // DSERR_NODRIVER when it cannot be opened.
    virtual HRESULT Initialize(const GUID* pcGuidDevice) = 0;

protected:
    ~IDirectSound8() = default;
};

// ---- Process-wide entry points ----

// Counted: S_OK the first time, S_FALSE when already initialised.
HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit);
void CoUninitialize();
// Makes an uninitialised device object (CLSID_DirectSound8 only).
HRESULT CoCreateInstance(const GUID& rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                         const GUID& riid, void** ppv);

// Events. The event lives while a handle or a notification position refers to it.
HANDLE CreateEventA(void* lpEventAttributes, bool bManualReset, bool bInitialState,
                    const char* lpName);
bool SetEvent(HANDLE hEvent);
bool ResetEvent(HANDLE hEvent);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
bool CloseHandle(HANDLE hObject);

}  // namespace oggmix

#pragma pop_macro("S_OK")
#pragma pop_macro("S_FALSE")
#pragma pop_macro("E_NOINTERFACE")
#pragma pop_macro("E_POINTER")
#pragma pop_macro("E_FAIL")
#pragma pop_macro("CLASS_E_NOAGGREGATION")
#pragma pop_macro("REGDB_E_CLASSNOTREG")
#pragma pop_macro("CO_E_NOTINITIALIZED")
#pragma pop_macro("WAVE_FORMAT_PCM")
#pragma pop_macro("WAIT_OBJECT_0")
#pragma pop_macro("WAIT_TIMEOUT")
#pragma pop_macro("WAIT_FAILED")
#pragma pop_macro("INFINITE")
