// AudioBackend_Wasapi.cpp: the default render device through WASAPI's shared mode, event
// driven: each time the device signals, the thread pulls exactly the frames its buffer has
// room for. Windows converts our 44.1 kHz 16-bit stereo to the mix format. Every COM call is
// made on the back end's own thread, in its own multithreaded apartment, whatever the
// caller's thread has chosen; Open waits until that thread has the device or knows why not.
// The software sound device declares functions of the same names as Windows' event and COM
// calls in this namespace: Windows' are called as ::Name.
#include <windows.h>
// After windows.h, which they need.
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "sound/platform/AudioBackend.h"
#include "sound/platform/DeviceClock.h"
#include "sound/platform/HeardDelay.h"
#include "sound/platform/RealtimePriority.h"

namespace oggmix {
namespace {

// A COM interface pointer released when it goes.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (FPtr != nullptr) FPtr->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T* operator->() const noexcept { return FPtr; }
    T& operator*() const noexcept { return *FPtr; }
    T** Receive() noexcept { return &FPtr; }
    void** ReceiveVoid() noexcept { return reinterpret_cast<void**>(&FPtr); }

private:
    T* FPtr = nullptr;
};

std::string Failure(const char* what, ::HRESULT result) {
    char code[16];
    std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(result));
    return std::string(what) + " failed (0x" + code + ")";
}

class WasapiBackend final : public AudioBackend {
public:
    explicit WasapiBackend(int32_t latencyMs)
        : FLatencyMs(latencyMs > 0 ? latencyMs : kDefaultLatencyMs) {}
    ~WasapiBackend() override {
        Close();
        ::CloseHandle(FWake);
        ::CloseHandle(FAcknowledged);
        ::CloseHandle(FDeviceReady);
    }

    HRESULT Open(PullFn pull) override {
        Close();
        FPull = std::move(pull);
        FPulledFrames = 0;
        FClock.Reset();
        FDelay.Reset();
        FLost.store(false);
        FRun.store(false);
        FQuit.store(false);
        ::ResetEvent(FAcknowledged);
        std::promise<std::string> opened;
        std::future<std::string> why = opened.get_future();
        FThread = std::thread([this, &opened] { Serve(opened); });
        if (std::string error = why.get(); !error.empty()) {
            FThread.join();
            return Fail("WASAPI: " + error);
        }
        Opened();
        return DS_OK;
    }
    void Start() override { Command(true); }
    // Returns once the thread has stopped the client: no pull runs after it.
    void Stop() override { Command(false); }
    void Close() override {
        if (!FThread.joinable()) return;
        FQuit.store(true);
        ::SetEvent(FWake);
        FThread.join();
    }
    int32_t PeriodFrames() const noexcept override { return FPeriodFrames; }
    int32_t DelayFrames() const noexcept override { return FDelay.Now(); }
    bool Lost() const noexcept override { return FLost.load(std::memory_order_relaxed); }
    int64_t HeardFrames() const noexcept override { return FClock.HeardFrames(); }
    std::string Name() const override { return "wasapi"; }

private:
    static constexpr int32_t kDefaultLatencyMs = 100;
    static constexpr ::REFERENCE_TIME kHundredNsPerMs = 10'000;

    void Command(bool run) {
        if (!FThread.joinable()) return;
        FRun.store(run);
        ::SetEvent(FWake);
        ::WaitForSingleObject(FAcknowledged, INFINITE);
    }

    void Serve(std::promise<std::string>& opened) {
        const ::HRESULT com = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (FAILED(com)) {
            opened.set_value(Failure("CoInitializeEx", com));
            return;
        }
        {
            ComPtr<IMMDeviceEnumerator> devices;
            ComPtr<IMMDevice> device;
            ComPtr<IAudioClient> client;
            ComPtr<IAudioRenderClient> render;
            std::string error = Prepare(devices, device, client, render);
            const bool ready = error.empty();
            opened.set_value(std::move(error));
            if (ready) Play(*client, *render);
        }
        ::CoUninitialize();
    }

    std::string Prepare(ComPtr<IMMDeviceEnumerator>& devices, ComPtr<IMMDevice>& device,
                        ComPtr<IAudioClient>& client, ComPtr<IAudioRenderClient>& render) {
        ::HRESULT result = ::CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                              __uuidof(IMMDeviceEnumerator), devices.ReceiveVoid());
        if (FAILED(result)) return Failure("the device enumerator", result);
        result = devices->GetDefaultAudioEndpoint(eRender, eConsole, device.Receive());
        if (FAILED(result)) return Failure("the default render device", result);
        result =
            device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.ReceiveVoid());
        if (FAILED(result)) return Failure("IMMDevice::Activate", result);
        ::WAVEFORMATEX format{};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = kDeviceChannels;
        format.nSamplesPerSec = kDeviceFramesPerSecond;
        format.wBitsPerSample = 16;
        format.nBlockAlign = kDeviceBytesPerFrame;
        format.nAvgBytesPerSec = kDeviceFramesPerSecond * kDeviceBytesPerFrame;
        result = client->Initialize(AUDCLNT_SHAREMODE_SHARED,
                                    AUDCLNT_STREAMFLAGS_EVENTCALLBACK |
                                        AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                                        AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY,
                                    FLatencyMs * kHundredNsPerMs, 0, &format, nullptr);
        if (FAILED(result)) return Failure("IAudioClient::Initialize", result);
        result = client->SetEventHandle(FDeviceReady);
        if (FAILED(result)) return Failure("IAudioClient::SetEventHandle", result);
        UINT32 bufferFrames = 0;
        result = client->GetBufferSize(&bufferFrames);
        if (FAILED(result)) return Failure("IAudioClient::GetBufferSize", result);
        FBufferFrames = bufferFrames;
        FPeriodFrames = static_cast<int32_t>(bufferFrames);
        ::REFERENCE_TIME period = 0;
        if (SUCCEEDED(client->GetDevicePeriod(&period, nullptr)))
            FPeriodFrames =
                static_cast<int32_t>(period * kDeviceFramesPerSecond / (1000 * kHundredNsPerMs));
        result = client->GetService(__uuidof(IAudioRenderClient), render.ReceiveVoid());
        if (FAILED(result)) return Failure("IAudioClient::GetService", result);
        return {};
    }

    // The device thread: waits for the device or a command, and fills what the device has
    // room for while running.
    void Play(IAudioClient& client, IAudioRenderClient& render) {
        (void)RaiseThreadToRealtime();
        bool running = false;
        const HANDLE events[] = {FWake, FDeviceReady};
        while (!FQuit.load()) {
            const DWORD woken = ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
            if (woken == WAIT_OBJECT_0) {
                const bool run = FRun.load();
                if (run != running && !FLost.load()) {
                    // The buffer starts full so that the first period is not a gap.
                    if (run) Fill(client, render);
                    const ::HRESULT result = run ? client.Start() : client.Stop();
                    if (result == AUDCLNT_E_DEVICE_INVALIDATED) FLost.store(true);
                }
                running = run;
                ::SetEvent(FAcknowledged);
            } else if (running && !FLost.load()) {
                Fill(client, render);
            }
        }
        if (running) (void)client.Stop();
    }

    void Fill(IAudioClient& client, IAudioRenderClient& render) noexcept {
        UINT32 padding = 0;
        ::HRESULT result = client.GetCurrentPadding(&padding);
        BYTE* data = nullptr;
        const UINT32 room = FBufferFrames - padding;
        if (SUCCEEDED(result) && room > 0) result = render.GetBuffer(room, &data);
        if (SUCCEEDED(result) && room > 0) {
            FPull(std::span<int16_t>(reinterpret_cast<int16_t*>(data),
                                     static_cast<size_t>(room) * kDeviceChannels));
            result = render.ReleaseBuffer(room, 0);
            FPulledFrames += room;
        }
        if (result == AUDCLNT_E_DEVICE_INVALIDATED) {
            // Removed, or no longer the device its format was made for: the owner reopens.
            FLost.store(true, std::memory_order_relaxed);
            return;
        }
        FDelay.Record(static_cast<int32_t>(FBufferFrames));
        FClock.Record(FPulledFrames, FBufferFrames);
    }

    const int32_t FLatencyMs;
    PullFn FPull;
    std::thread FThread;
    const HANDLE FWake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const HANDLE FAcknowledged = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const HANDLE FDeviceReady = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> FRun{false};
    std::atomic<bool> FQuit{false};
    std::atomic<bool> FLost{false};
    UINT32 FBufferFrames = 0;
    int32_t FPeriodFrames = 0;
    int64_t FPulledFrames = 0;  // the device thread's
    HeardDelay FDelay;
    DeviceClock FClock;
};

}  // namespace

std::unique_ptr<AudioBackend> MakeWasapiBackend(int32_t latencyMs) {
    return std::make_unique<WasapiBackend>(latencyMs);
}

}  // namespace oggmix
