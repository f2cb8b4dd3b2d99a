// The software sound device on the manual back end: creation rules, cursors, Lock regions,
// looping and one-shot play, notification events, duplicates, interfaces by GUID, mixing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

#include "sound/platform/AudioBackend.h"
#include "sound/platform/ComPtr.h"
#include "sound/platform/DeviceStatus.h"
#include "sound/platform/DirectSound.h"
#include "sound/platform/ManualAudio.h"

namespace oggmix {
namespace {

WAVEFORMATEX Pcm16(WORD channels, DWORD rate = 44100) {
    const WORD align = static_cast<WORD>(channels * 2);
    return {WAVE_FORMAT_PCM, channels, rate, rate * align, align, 16, 0};
}

// Waits until done() holds; false only when the run hung.
bool WaitUntilTrue(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class SoundDevice : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("OGGMIX_AUDIO", "manual:64", 1);
        ASSERT_EQ(CoCreateInstance(CLSID_DirectSound8, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IDirectSound8, FDevice.ReleaseAndGetVoidAddress()),
                  S_OK);
        ASSERT_EQ(FDevice->Initialize(nullptr), DS_OK);
    }

    ComPtr<IDirectSoundBuffer> MakeBuffer(DWORD bytes, WORD channels = 2,
                                          DWORD flags = DSBCAPS_CTRLPOSITIONNOTIFY) {
        WAVEFORMATEX format = Pcm16(channels);
        DSBUFFERDESC desc{sizeof(DSBUFFERDESC), flags, bytes, 0, &format, {}};
        ComPtr<IDirectSoundBuffer> buffer;
        EXPECT_EQ(FDevice->CreateSoundBuffer(&desc, buffer.ReleaseAndGetAddressOf(), nullptr),
                  DS_OK);
        return buffer;
    }
    static void Fill(IDirectSoundBuffer* buffer, DWORD offset,
                     const std::vector<int16_t>& samples) {
        void* p1 = nullptr;
        DWORD b1 = 0;
        void* p2 = nullptr;
        DWORD b2 = 0;
        const auto bytes = static_cast<DWORD>(samples.size() * 2);
        ASSERT_EQ(buffer->Lock(offset, bytes, &p1, &b1, &p2, &b2, 0), DS_OK);
        std::memcpy(p1, samples.data(), b1);
        if (b2 != 0) std::memcpy(p2, reinterpret_cast<const uint8_t*>(samples.data()) + b1, b2);
        ASSERT_EQ(buffer->Unlock(p1, b1, p2, b2), DS_OK);
    }
    static std::pair<DWORD, DWORD> Cursors(IDirectSoundBuffer* buffer) {
        DWORD play = 0;
        DWORD write = 0;
        EXPECT_EQ(buffer->GetCurrentPosition(&play, &write), DS_OK);
        return {play, write};
    }
    static std::vector<int16_t> Heard(int32_t frames) {
        std::vector<int16_t> out;
        EXPECT_TRUE(ManualAudio::Advance(frames, &out));
        return out;
    }

    ComPtr<IDirectSound8> FDevice;
};

TEST_F(SoundDevice, InitializeOpensTheBackEndOnce) {
    EXPECT_EQ(FDevice->Initialize(nullptr), DSERR_ALREADYINITIALIZED);
    ComPtr<IDirectSound8> second;
    ASSERT_EQ(CoCreateInstance(CLSID_DirectSound8, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectSound8,
                               second.ReleaseAndGetVoidAddress()),
              S_OK);
    EXPECT_EQ(second->Initialize(nullptr), DSERR_NODRIVER);  // the manual device is taken
    ComPtr<IDirectSoundBuffer> buffer;
    WAVEFORMATEX format = Pcm16(2);
    DSBUFFERDESC desc{sizeof(DSBUFFERDESC), 0, 4096, 0, &format, {}};
    EXPECT_EQ(second->CreateSoundBuffer(&desc, buffer.ReleaseAndGetAddressOf(), nullptr),
              DSERR_UNINITIALIZED);
    EXPECT_EQ(second->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DSERR_UNINITIALIZED);
}

TEST_F(SoundDevice, UnknownClassesInterfacesAndBackEndsAreRefused) {
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(IID_IDirectSound8, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectSound8,
                               &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(CLSID_DirectSound8, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IDirectSoundNotify, &object),
              E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    FDevice.Reset();  // frees the manual device
    for (const char* name : {"bogus", "wav:", "manual:0", "manual:x"}) {
        setenv("OGGMIX_AUDIO", name, 1);
        ComPtr<IDirectSound8> device;
        ASSERT_EQ(CoCreateInstance(CLSID_DirectSound8, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IDirectSound8, device.ReleaseAndGetVoidAddress()),
                  S_OK);
        EXPECT_EQ(device->Initialize(nullptr), DSERR_NODRIVER) << name;
        EXPECT_FALSE(LastAudioBackendError().empty()) << name;
    }
}

TEST_F(SoundDevice, BufferDescriptionsAreChecked) {
    ComPtr<IDirectSoundBuffer> buffer;
    WAVEFORMATEX format = Pcm16(2);
    DSBUFFERDESC desc{sizeof(DSBUFFERDESC), 0, 4096, 0, &format, {}};
    desc.dwSize = sizeof(DSBUFFERDESC) + 4;
    EXPECT_EQ(FDevice->CreateSoundBuffer(&desc, buffer.ReleaseAndGetAddressOf(), nullptr),
              DSERR_INVALIDPARAM);
    desc.dwSize = sizeof(DSBUFFERDESC);
    for (const WAVEFORMATEX& bad :
         {Pcm16(2, 22050), Pcm16(3), WAVEFORMATEX{3, 2, 44100, 352800, 8, 32, 0}}) {
        format = bad;
        EXPECT_EQ(FDevice->CreateSoundBuffer(&desc, buffer.ReleaseAndGetAddressOf(), nullptr),
                  DSERR_BADFORMAT);
    }
    format = Pcm16(1);
    desc.dwBufferBytes = 2;
    EXPECT_EQ(FDevice->CreateSoundBuffer(&desc, buffer.ReleaseAndGetAddressOf(), nullptr),
              DSERR_INVALIDPARAM);
    IUnknown* outer = FDevice.Get();
    desc.dwBufferBytes = 4096;
    EXPECT_EQ(FDevice->CreateSoundBuffer(&desc, buffer.ReleaseAndGetAddressOf(), outer),
              DSERR_NOAGGREGATION);
    DSBUFFERDESC primary{sizeof(DSBUFFERDESC), DSBCAPS_PRIMARYBUFFER, 4096, 0, nullptr, {}};
    EXPECT_EQ(FDevice->CreateSoundBuffer(&primary, buffer.ReleaseAndGetAddressOf(), nullptr),
              DSERR_INVALIDPARAM);
}

TEST_F(SoundDevice, InterfacesFollowTheCapabilities) {
    auto plain = MakeBuffer(4096, 2, 0);
    auto notifying = MakeBuffer(4096, 2, DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_CTRL3D);
    void* object = nullptr;
    EXPECT_EQ(plain->QueryInterface(IID_IDirectSoundNotify, &object), E_NOINTERFACE);
    EXPECT_EQ(plain->QueryInterface(IID_IDirectSound3DBuffer, &object), E_NOINTERFACE);
    ASSERT_EQ(notifying->QueryInterface(IID_IDirectSoundNotify, &object), S_OK);
    EXPECT_EQ(static_cast<IDirectSoundNotify*>(object)->Release(), 1u);
    ASSERT_EQ(notifying->QueryInterface(IID_IDirectSound3DBuffer, &object), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(object)->Release(), 1u);
    ASSERT_EQ(plain->QueryInterface(IID_IDirectSoundBuffer8, &object), S_OK);
    EXPECT_EQ(static_cast<IDirectSoundBuffer8*>(object), plain.Get());
    EXPECT_EQ(plain->AddRef(), 3u);
    EXPECT_EQ(plain->Release(), 2u);
    EXPECT_EQ(static_cast<IUnknown*>(object)->Release(), 1u);
}

TEST_F(SoundDevice, LockHandsOutTwoRegionsWhenTheRangeWraps) {
    auto buffer = MakeBuffer(1000);
    void* p1 = nullptr;
    DWORD b1 = 0;
    void* p2 = nullptr;
    DWORD b2 = 0;
    ASSERT_EQ(buffer->Lock(900, 300, &p1, &b1, &p2, &b2, 0), DS_OK);
    EXPECT_EQ(b1, 100u);
    EXPECT_EQ(b2, 200u);
    EXPECT_EQ(static_cast<uint8_t*>(p1) - static_cast<uint8_t*>(p2), 900);
    EXPECT_EQ(buffer->Unlock(p1, b1, p2, b2), DS_OK);
    ASSERT_EQ(buffer->Lock(0, 1000, &p1, &b1, &p2, &b2, 0), DS_OK);
    EXPECT_EQ(b1, 1000u);
    EXPECT_EQ(p2, nullptr);
    EXPECT_EQ(b2, 0u);
    EXPECT_EQ(buffer->Unlock(p1, b1, p2, b2), DS_OK);
    EXPECT_EQ(buffer->Lock(1000, 4, &p1, &b1, &p2, &b2, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->Lock(0, 1001, &p1, &b1, &p2, &b2, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->Lock(0, 0, &p1, &b1, &p2, &b2, 0), DSERR_INVALIDPARAM);
    int outside = 0;
    EXPECT_EQ(buffer->Unlock(&outside, 4, nullptr, 0), DSERR_INVALIDPARAM);
}

TEST_F(SoundDevice, TheWriteCursorLeadsByThePeriodOnlyWhilePlaying) {
    auto buffer = MakeBuffer(4096);
    EXPECT_EQ(Cursors(buffer.Get()), std::make_pair(DWORD{0}, DWORD{0}));
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    EXPECT_EQ(Cursors(buffer.Get()), std::make_pair(DWORD{0}, DWORD{256}));
    (void)Heard(1000);  // 4000 bytes: the write cursor wraps first
    EXPECT_EQ(Cursors(buffer.Get()), std::make_pair(DWORD{4000}, DWORD{160}));
    ASSERT_EQ(buffer->Stop(), DS_OK);
    EXPECT_EQ(Cursors(buffer.Get()), std::make_pair(DWORD{4000}, DWORD{4000}));
    DWORD status = 99;
    ASSERT_EQ(buffer->GetStatus(&status), DS_OK);
    EXPECT_EQ(status, 0u);
}

TEST_F(SoundDevice, ThePlayCursorIsWhatIsHeardBehindWhatTheBackEndHolds) {
    ManualAudio::SetDelayFrames(300);  // 1200 bytes still on their way to the listener
    auto buffer = MakeBuffer(4096);
    auto mono = MakeBuffer(4096, 1);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(mono->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    (void)Heard(200);  // less than the delay has been mixed: nothing of it heard yet
    EXPECT_EQ(Cursors(buffer.Get()), std::make_pair(DWORD{0}, DWORD{1056}));
    (void)Heard(800);  // mixed 4000 bytes: heard up to 2800; the write cursor wraps
    EXPECT_EQ(Cursors(buffer.Get()), std::make_pair(DWORD{2800}, DWORD{160}));
    EXPECT_EQ(Cursors(mono.Get()), std::make_pair(DWORD{1400}, DWORD{2128}));
    (void)Heard(100);  // the play cursor wraps behind the mixed one
    EXPECT_EQ(Cursors(buffer.Get()), std::make_pair(DWORD{3200}, DWORD{560}));
    ASSERT_EQ(buffer->Stop(), DS_OK);
    EXPECT_EQ(Cursors(buffer.Get()), std::make_pair(DWORD{304}, DWORD{304}));
    ManualAudio::SetDelayFrames(0);
}

TEST_F(SoundDevice, ALostBackEndIsStoodInForInRealTimeAndReopenedWhenItReturns) {
    auto buffer = MakeBuffer(4096);
    Fill(buffer.Get(), 0, std::vector<int16_t>(2048, 7));
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    (void)Heard(100);
    const uint64_t losses = CurrentSoundDeviceStatus().Losses;
    ManualAudio::SetAvailable(false);
    ASSERT_TRUE(WaitUntilTrue([] { return CurrentSoundDeviceStatus().Lost; }));
    EXPECT_EQ(CurrentSoundDeviceStatus().Losses, losses + 1);
    EXPECT_FALSE(ManualAudio::Advance(1));
    // The device goes on in real time while lost: the cursor moves past where it was.
    ASSERT_TRUE(WaitUntilTrue([&] { return Cursors(buffer.Get()).first != 400; }));
    ManualAudio::SetAvailable(true);
    ASSERT_TRUE(WaitUntilTrue([] { return !CurrentSoundDeviceStatus().Lost; }));
    EXPECT_EQ(CurrentSoundDeviceStatus().Losses, losses + 1);
    const DWORD before = Cursors(buffer.Get()).first;
    EXPECT_EQ(Heard(4), (std::vector<int16_t>(8, 7)));  // the same buffer, still playing
    EXPECT_EQ(Cursors(buffer.Get()).first, (before + 16) % 4096);
}

TEST_F(SoundDevice, LoopingPlayRepeatsTheRingAndOneShotPlayEndsWithItsStopEvent) {
    auto buffer = MakeBuffer(16);
    Fill(buffer.Get(), 0, {1, -1, 2, -2, 3, -3, 4, -4});
    HANDLE stop = CreateEventA(nullptr, false, false, nullptr);
    HANDLE middle = CreateEventA(nullptr, false, false, nullptr);
    ComPtr<IDirectSoundNotify> notify;
    ASSERT_EQ(buffer->QueryInterface(IID_IDirectSoundNotify, notify.ReleaseAndGetVoidAddress()),
              S_OK);
    const DSBPOSITIONNOTIFY positions[2] = {{8, middle}, {DSBPN_OFFSETSTOP, stop}};
    ASSERT_EQ(notify->SetNotificationPositions(2, positions), DS_OK);

    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    DWORD status = 0;
    ASSERT_EQ(buffer->GetStatus(&status), DS_OK);
    EXPECT_EQ(status, DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
    EXPECT_EQ(notify->SetNotificationPositions(2, positions), DSERR_INVALIDCALL);
    EXPECT_EQ(Heard(6), (std::vector<int16_t>{1, -1, 2, -2, 3, -3, 4, -4, 1, -1, 2, -2}));
    EXPECT_EQ(WaitForSingleObject(middle, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(middle, 0), WAIT_TIMEOUT);  // auto-reset
    ASSERT_EQ(buffer->Stop(), DS_OK);
    EXPECT_EQ(WaitForSingleObject(stop, 0), WAIT_OBJECT_0);

    ASSERT_EQ(buffer->SetCurrentPosition(9), DS_OK);  // rounded down to a frame
    ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
    EXPECT_EQ(Heard(4), (std::vector<int16_t>{3, -3, 4, -4, 0, 0, 0, 0}));
    ASSERT_EQ(buffer->GetStatus(&status), DS_OK);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(WaitForSingleObject(stop, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(stop));
    EXPECT_TRUE(CloseHandle(middle));
}

TEST_F(SoundDevice, ClosedEventsStayValidForTheBufferThatUsesThem) {
    auto buffer = MakeBuffer(16);
    HANDLE event = CreateEventA(nullptr, false, false, nullptr);
    ComPtr<IDirectSoundNotify> notify;
    ASSERT_EQ(buffer->QueryInterface(IID_IDirectSoundNotify, notify.ReleaseAndGetVoidAddress()),
              S_OK);
    const DSBPOSITIONNOTIFY position{0, event};
    ASSERT_EQ(notify->SetNotificationPositions(1, &position), DS_OK);
    CloseHandle(event);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    (void)Heard(10);  // signals the closed event's state: no crash
    ASSERT_EQ(buffer->Stop(), DS_OK);
}

TEST_F(SoundDevice, DuplicatesShareMemoryButNotTheCursor) {
    auto original = MakeBuffer(16);
    ComPtr<IDirectSoundBuffer> copy;
    ASSERT_EQ(FDevice->DuplicateSoundBuffer(original.Get(), copy.ReleaseAndGetAddressOf()), DS_OK);
    Fill(original.Get(), 0, {10, 10, 20, 20, 30, 30, 40, 40});
    ASSERT_EQ(copy->SetCurrentPosition(8), DS_OK);
    ASSERT_EQ(copy->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    EXPECT_EQ(Heard(2), (std::vector<int16_t>{30, 30, 40, 40}));
    EXPECT_EQ(Cursors(original.Get()).first, 0u);
    ASSERT_EQ(original->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    EXPECT_EQ(Heard(2), (std::vector<int16_t>{20, 20, 40, 40}));  // 10+10, 20+20 summed
    EXPECT_EQ(copy->Release(), 0u);
    (void)copy.Detach();
    EXPECT_EQ(Heard(1), (std::vector<int16_t>{30, 30}));
}

TEST_F(SoundDevice, EffectsAndPrimaryBuffersCannotBeDuplicated) {
    auto fx = MakeBuffer(64, 2, DSBCAPS_CTRLFX);
    ComPtr<IDirectSoundBuffer> copy;
    EXPECT_EQ(FDevice->DuplicateSoundBuffer(fx.Get(), copy.ReleaseAndGetAddressOf()),
              DSERR_INVALIDCALL);
    DSBUFFERDESC primaryDesc{sizeof(DSBUFFERDESC), DSBCAPS_PRIMARYBUFFER, 0, 0, nullptr, {}};
    ComPtr<IDirectSoundBuffer> primary;
    ASSERT_EQ(FDevice->CreateSoundBuffer(&primaryDesc, primary.ReleaseAndGetAddressOf(), nullptr),
              DS_OK);
    EXPECT_EQ(FDevice->DuplicateSoundBuffer(primary.Get(), copy.ReleaseAndGetAddressOf()),
              DSERR_INVALIDCALL);
}

TEST_F(SoundDevice, MonoIsHeardOnBothSidesAndSumsClipToSixteenBits) {
    auto mono = MakeBuffer(8, 1);
    auto stereo = MakeBuffer(16, 2);
    Fill(mono.Get(), 0, {30000, -30000, 5, 6});
    Fill(stereo.Get(), 0, {10000, 1, -10000, 2, 7, 7, 8, 8});
    ASSERT_EQ(mono->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(stereo->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    EXPECT_EQ(Heard(3), (std::vector<int16_t>{32767, 30001, -32768, -29998, 12, 12}));
}

TEST_F(SoundDevice, StoredThreeDParametersReadBack) {
    auto buffer = MakeBuffer(64, 1, DSBCAPS_CTRL3D);
    ComPtr<IDirectSound3DBuffer> params;
    ASSERT_EQ(buffer->QueryInterface(IID_IDirectSound3DBuffer, params.ReleaseAndGetVoidAddress()),
              S_OK);
    DS3DBUFFER record{};
    ASSERT_EQ(params->GetAllParameters(&record), DS_OK);
    EXPECT_EQ(record.dwSize, sizeof(DS3DBUFFER));
    record.vVelocity = {4.0f, 5.0f, 6.0f};
    ASSERT_EQ(params->SetAllParameters(&record, DS3D_IMMEDIATE), DS_OK);
    DS3DBUFFER back{};
    ASSERT_EQ(params->GetAllParameters(&back), DS_OK);
    EXPECT_EQ(back.vVelocity.z, 6.0f);
    record.dwSize = 12;
    EXPECT_EQ(params->SetAllParameters(&record, DS3D_IMMEDIATE), DSERR_INVALIDPARAM);
}

TEST_F(SoundDevice, BuffersOutliveTheirDevice) {
    auto buffer = MakeBuffer(64);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    FDevice.Reset();
    EXPECT_FALSE(ManualAudio::IsOpen());
    EXPECT_FALSE(ManualAudio::Advance(10));
    EXPECT_EQ(Cursors(buffer.Get()).first, 0u);
    EXPECT_EQ(buffer->Stop(), DS_OK);
}

}  // namespace
}  // namespace oggmix
