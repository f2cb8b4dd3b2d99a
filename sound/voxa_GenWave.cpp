// voxa_GenWave.cpp: wave data (secondary buffers, the streaming ring, WriteData) and the
// notification thread that requests each half of the ring from the host's fill routine.
#include <chrono>
#include <cstring>

#include "sound/platform/RealtimePriority.h"
#include "sound/voxa.h"
#include "sound/voxa_Internal.h"

namespace oggmix {
namespace {

constexpr DWORD kStreamingFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME |
                                  DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_GETCURRENTPOSITION2;
constexpr DWORD kStaticFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME;
constexpr DWORD kEffectsFlags =
    DSBCAPS_CTRLFX | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_CTRLFREQUENCY;
static_assert(kStreamingFlags == 0x101E0 && kStaticFlags == 0xE0 && kEffectsFlags == 0x2E0);

DWORD BufferFlags(bool Streaming, bool UseFX, bool Use3D, bool StickyFocus) {
    DWORD flags = Streaming ? kStreamingFlags : kStaticFlags;
    if (UseFX) {
        flags = kEffectsFlags;
        // A streaming ring is refilled through position notification and precise cursors; an
        // effects buffer keeps both so that its thread can run.
        if (Streaming) flags |= DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_GETCURRENTPOSITION2;
    }
    if (Use3D) flags = (flags | DSBCAPS_CTRL3D) & ~DSBCAPS_CTRLPAN;
    if (StickyFocus) flags |= DSBCAPS_STICKYFOCUS;
    return flags;
}

}  // namespace

TVOXAGenWave::TVOXAGenWave(TVOXA* AOwner, int32_t SamplesPerSec, int32_t BitsPerSample, bool Stereo,
                           uint32_t BufferBytes, bool Use3D, bool UseFX, bool Streaming)
    : FBufferBytes(BufferBytes), FOwner(AOwner), FStreaming(Streaming), FUseFX(UseFX) {
    if (FOwner == nullptr || !FOwner->Initialized()) return;

    FFormat.wFormatTag = WAVE_FORMAT_PCM;
    FFormat.nChannels = Stereo ? 2 : 1;
    FFormat.nSamplesPerSec = static_cast<DWORD>(SamplesPerSec);
    FFormat.nBlockAlign = static_cast<WORD>((FFormat.nChannels * BitsPerSample) / 8);
    FFormat.nAvgBytesPerSec = FFormat.nBlockAlign * static_cast<DWORD>(SamplesPerSec);
    FFormat.wBitsPerSample = static_cast<WORD>(BitsPerSample);
    FFormat.cbSize = 0;

    DSBUFFERDESC desc{};
    desc.dwSize = sizeof(DSBUFFERDESC);
    desc.dwFlags = BufferFlags(Streaming, UseFX, Use3D, FOwner->StickyFocus());
    desc.dwBufferBytes = BufferBytes;
    desc.lpwfxFormat = &FFormat;
    ComPtr<IDirectSoundBuffer> created;
    CheckResult(
        FOwner->DirectSound()->CreateSoundBuffer(&desc, created.ReleaseAndGetAddressOf(), nullptr),
        "サウンドバッファの作成に失敗しました");
    if (created)
        CheckResult(
            created->QueryInterface(IID_IDirectSoundBuffer8, FBuffer.ReleaseAndGetVoidAddress()),
            "サウンドバッファのQueryInterfaceに失敗しました");
    created.Reset();
    if (!FStreaming) return;

    FHalfSize = BufferBytes / 2;
    for (auto& event : FEvents) event.reset(CreateEventA(nullptr, false, false, nullptr));
    if (FBuffer)
        CheckResult(
            FBuffer->QueryInterface(IID_IDirectSoundNotify, FNotify.ReleaseAndGetVoidAddress()),
            "DirectSoundNotifyオブジェクトの作成に失敗しました");
    if (!FNotify) return;
    const DSBPOSITIONNOTIFY positions[3] = {
        {0, FEvents[0].get()}, {FHalfSize, FEvents[1].get()}, {DSBPN_OFFSETSTOP, FEvents[2].get()}};
    CheckResult(FNotify->SetNotificationPositions(3, positions),
                "NotifyPositionの設定に失敗しました");
    FThread = std::make_unique<TVOXANotifyThread>(this);
    FThread->Start();
}

TVOXAGenWave::~TVOXAGenWave() {
    if (FOwner == nullptr || !FOwner->Initialized() || !FBuffer) return;
    // The thread polls the buffer: it ends before the buffer reference is given up, and
    // before FThread changes, which a fill in progress still reads.
    if (FThread) {
        FThread->Terminate();
        FThread->WaitFor();
        FThread.reset();
    }
    FNotify.Reset();
    const ULONG remaining = FBuffer.Detach()->Release();
    // Ordinary counts (a channel still sharing the buffer) are fine; only failure codes count.
    if (remaining > 0x80000000u) CheckReleaseQuietly(remaining, "二次バッファの解放に失敗しました");
}

void TVOXAGenWave::WriteData(uint32_t Offset, const void* Data, uint32_t Size) {
    if (FOwner == nullptr || !FOwner->Initialized() || !FBuffer || Data == nullptr) return;
    void* first = nullptr;
    DWORD firstBytes = 0;
    void* second = nullptr;
    DWORD secondBytes = 0;
    if (CheckResult(FBuffer->Lock(Offset, Size, &first, &firstBytes, &second, &secondBytes, 0),
                    "DirectSoundBufferのロックに失敗しました") != DS_OK)
        return;
    std::memcpy(first, Data, firstBytes);
    if (Size > firstBytes)
        std::memcpy(second, static_cast<const uint8_t*>(Data) + firstBytes, secondBytes);
    (void)FBuffer->Unlock(first, firstBytes, second, secondBytes);
}

void TVOXAGenWave::DoFill() {
    std::lock_guard guard(FFillMutex);
    if (!FOnFill) return;
    const bool secondHalf = FThread != nullptr && FThread->FillSecondHalf();
    if (secondHalf)
        FOnFill(this, Channel(), FHalfSize, FBufferBytes - FHalfSize);
    else
        FOnFill(this, Channel(), 0, FHalfSize);
}

void TVOXAGenWave::SetOnFill(TVOXAFillEvent Value) {
    std::lock_guard guard(FFillMutex);
    FOnFill = std::move(Value);
}

bool TVOXAGenWave::HasOnFill() const {
    std::lock_guard guard(FFillMutex);
    return static_cast<bool>(FOnFill);
}

TVOXANotifyThread::~TVOXANotifyThread() {
    Terminate();
    WaitFor();
}

void TVOXANotifyThread::WaitFor() {
    if (FThread.joinable()) FThread.join();
}

void TVOXANotifyThread::Start() {
    FThread = std::thread([this] { Execute(); });
}

std::exception_ptr TVOXANotifyThread::FatalException() const {
    std::lock_guard guard(FFatalMutex);
    return FFatalException;
}

void TVOXANotifyThread::Execute() noexcept {
    // A refill that waits behind ordinary work reaches the ring too late.
    (void)RaiseThreadToRealtime();
    int state = 0;
    try {
        while (!FTerminated.load(std::memory_order_relaxed)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollIntervalMs));
            if (FTerminated.load(std::memory_order_relaxed)) break;
            Poll(state);
            FPollCount.fetch_add(1, std::memory_order_release);
        }
    } catch (...) {
        // Nothing above this thread could take the exception: keep it and stop refilling.
        std::lock_guard guard(FFatalMutex);
        FFatalException = std::current_exception();
    }
}

void TVOXANotifyThread::Poll(int& State) {
    IDirectSoundBuffer8* buffer = FWaveData->SoundBuffer();
    DWORD play = 0;
    DWORD write = 0;
    if (buffer != nullptr) (void)buffer->GetCurrentPosition(&play, &write);
    if (play == 0 && write == 0) return;
    if (static_cast<int32_t>(play) < 0 || static_cast<int32_t>(write) < 0) return;

    const auto playing = [buffer] {
        DWORD status = 0;
        if (buffer != nullptr) (void)buffer->GetStatus(&status);
        return (status & DSBSTATUS_PLAYING) != 0;
    };
    const uint32_t half = FWaveData->HalfSize();
    if (State == 0) {
        if (play < half && write < half) {
            FFillSecondHalf = true;
            if (playing()) FWaveData->DoFill();
            State = 1;
        }
    } else if (play > half && write > half) {
        FFillSecondHalf = false;
        if (playing()) FWaveData->DoFill();
        State = 0;
    }
}

}  // namespace oggmix
