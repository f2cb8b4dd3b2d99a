#pragma once
// voxa.h: the sound output. TVOXA owns the sound device, its primary buffer, an optional 3D
// listener and a fixed array of channels; wave data own secondary buffers and, when streaming,
// a notification thread that asks the host to refill the half of the ring the device is not
// playing; channels play wave data and carry 3D parameters. Every examined device result goes
// through CheckResult, which logs, raises EVOXA or halts according to the debug options.
//
// Threads: everything on the UI thread, except the notification thread of a streaming wave
//          data, which polls the cursors, calls OnFill and, through it, WriteData.
//          CheckResult/ReportError run on either.
// Locks:   the sound output takes none of the host's locks. ReportError serialises log lines;
//          SetOnFill waits for a fill in progress.
// Memory:  construction allocates; WriteData and the poll do not.
// Units:   offsets and sizes in bytes of the sound buffer; times in ms.
// Lifetime: wave data are freed before their TVOXA; the TVOXA frees its channels.
// Errors:  device failures -> CheckResult (debug options); a device that cannot be opened
//          leaves the component silent (Initialized false) without a report.

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Exceptions.h"
#include "sound/Component.h"
#include "sound/platform/ComPtr.h"
#include "sound/platform/DirectSound.h"

namespace oggmix {

class TVOXAChannel;
class TVOXAGenWave;
class TVOXAListener;
class TVOXANotifyThread;

// ---- Debug options and the error path (voxa.cpp) ----

enum TVOXADebugOptionItem : uint8_t { dsoHaltOnError, dsoDebugMessage, dsoExceptOnError };

// A set of TVOXADebugOptionItem in one byte: bit n holds item n.
class TVOXADebugOption {
public:
    constexpr TVOXADebugOption() = default;
    constexpr TVOXADebugOption(std::initializer_list<TVOXADebugOptionItem> items) {
        for (TVOXADebugOptionItem item : items) FBits |= Bit(item);
    }
    [[nodiscard]] constexpr bool Contains(TVOXADebugOptionItem item) const noexcept {
        return (FBits & Bit(item)) != 0;
    }
    [[nodiscard]] constexpr uint8_t Bits() const noexcept { return FBits; }
    // The stored byte; bits beyond the three items are dropped.
    [[nodiscard]] static constexpr TVOXADebugOption FromBits(uint8_t bits) noexcept {
        TVOXADebugOption set;
        set.FBits = bits & 0x7;
        return set;
    }
    friend constexpr bool operator==(TVOXADebugOption, TVOXADebugOption) = default;

private:
    static constexpr uint8_t Bit(TVOXADebugOptionItem item) noexcept {
        return static_cast<uint8_t>(1u << item);
    }
    uint8_t FBits = 0;
};
static_assert(sizeof(TVOXADebugOption) == 1);
static_assert(TVOXADebugOption{dsoExceptOnError}.Bits() == 4);

class EVOXA : public Exception {
public:
    using Exception::Exception;
};

// Process-wide mirrors of the DebugOption written last by any TVOXA. Read by any thread.
extern std::atomic<bool> HaltOnError;
extern std::atomic<bool> LogOnError;
extern std::atomic<bool> ExceptOnError;
// Log lines written by this process.
[[nodiscard]] int32_t DebugLogCount();
// "VOXA_DebugLog.txt" in the folder of the running executable.
[[nodiscard]] std::string DebugLogPath();

// 0 passes through silently. Anything else is a failure: Message + "(Error Code(%X))" goes to
// ReportError, then the process halts if HaltOnError. Returns Result.
HRESULT CheckResult(HRESULT Result, const std::string& Message);
// Logs Message (Shift-JIS, numbered, the first line of a run truncates the log) if LogOnError;
// then throws EVOXA(Message) if ExceptOnError. A log failure throws EInOutError.
void ReportError(const std::string& Message);
// The orderly halt: static destructors run, then the process exits with status 1.
[[noreturn]] void Halt();

// ---- The component (voxa.cpp) ----

class TVOXA : public TComponent {
public:
    // In design mode a second TVOXA on one owner throws Exception (one per form).
    explicit TVOXA(TComponent* AOwner);
    ~TVOXA() override;

    // Creates the device (not in design mode).
    void Loaded() override;
    // (Re)creates the channels, then the device, primary buffer and listener. True when the
    // device could be created and initialised.
    [[nodiscard]] bool CreateDevice();

    void SetDebugOption(TVOXADebugOption Value);
    [[nodiscard]] TVOXADebugOption DebugOption() const noexcept { return FDebugOption; }
    // Read when the device is created.
    [[nodiscard]] bool Use3D() const noexcept { return FUse3D; }
    void SetUse3D(bool Value) noexcept { FUse3D = Value; }
    // Read once when the device is created; 0, or a change once channels exist, throws
    // ERangeError.
    [[nodiscard]] uint32_t ChannelCount() const noexcept { return FChannelCount; }
    void SetChannelCount(uint32_t Value);
    // Read by each wave data when it creates its buffer.
    [[nodiscard]] bool StickyFocus() const noexcept { return FStickyFocus; }
    void SetStickyFocus(bool Value) noexcept { FStickyFocus = Value; }

    [[nodiscard]] bool Initialized() const noexcept { return FInitialized; }
    [[nodiscard]] IDirectSound8* DirectSound() const noexcept { return FDirectSound.Get(); }
    [[nodiscard]] IDirectSoundBuffer* PrimaryBuffer() const noexcept {
        return FPrimaryBuffer.Get();
    }
    [[nodiscard]] IDirectSound3DListener* Listener3D() const noexcept { return F3DListener.Get(); }
    [[nodiscard]] TVOXAListener* Listener() const noexcept { return FListener.get(); }

    // The channel, or null after reporting an index outside 0 .. ChannelCount - 1 (and
    // halting if HaltOnError).
    [[nodiscard]] TVOXAChannel* GetChannel(int32_t Index);
    [[nodiscard]] TVOXAChannel* Channels(int32_t Index) { return GetChannel(Index); }

private:
    void FreeChannels() noexcept;

    ComPtr<IDirectSound8> FDirectSound;
    ComPtr<IDirectSoundBuffer> FPrimaryBuffer;
    ComPtr<IDirectSound3DListener> F3DListener;
    std::vector<std::unique_ptr<TVOXAChannel>> FChannels;  // empty until the device is made
    uint32_t FChannelCount = 8;
    bool FInitialized = false;
    bool FUse3D = false;
    std::unique_ptr<TVOXAListener> FListener;
    bool FStickyFocus = true;
    TVOXADebugOption FDebugOption;
};

// ---- Wave data and the notification thread (voxa_GenWave.cpp) ----

// The host's fill routine: write Size bytes at Offset of Sender's ring (one half) with
// Sender->WriteData. Called on the notification thread while the buffer plays.
using TVOXAFillEvent = std::function<void(TVOXAGenWave* Sender, TVOXAChannel* Channel,
                                          uint32_t Offset, uint32_t Size)>;

class TVOXAGenWave {
public:
    // Without a device (AOwner not Initialized) the object stays an empty shell.
    TVOXAGenWave(TVOXA* AOwner, int32_t SamplesPerSec, int32_t BitsPerSample, bool Stereo,
                 uint32_t BufferBytes, bool Use3D, bool UseFX, bool Streaming);
    virtual ~TVOXAGenWave();  // stops the thread before the buffer is released
    TVOXAGenWave(const TVOXAGenWave&) = delete;
    TVOXAGenWave& operator=(const TVOXAGenWave&) = delete;

    // Copies Size bytes from Data into the ring at Offset, wrapping past its end. A lock
    // failure is reported ("DirectSoundBufferのロックに失敗しました") and nothing is copied.
    void WriteData(uint32_t Offset, const void* Data, uint32_t Size);
    // Calls OnFill for the half the thread names next; no routine set: nothing.
    void DoFill();

    [[nodiscard]] IDirectSoundBuffer8* SoundBuffer() const noexcept { return FBuffer.Get(); }
    [[nodiscard]] uint32_t BufferBytes() const noexcept { return FBufferBytes; }
    [[nodiscard]] const WAVEFORMATEX& WaveFormat() const noexcept { return FFormat; }
    [[nodiscard]] uint32_t HalfSize() const noexcept { return FHalfSize; }
    [[nodiscard]] bool Streaming() const noexcept { return FStreaming; }
    [[nodiscard]] bool UseFX() const noexcept { return FUseFX; }
    // The channel that shares this buffer, or null.
    [[nodiscard]] TVOXAChannel* Channel() const noexcept {
        return FChannel.load(std::memory_order_relaxed);
    }
    [[nodiscard]] TVOXANotifyThread* Thread() const noexcept { return FThread.get(); }
    // The notification events (streaming only; null otherwise).
    [[nodiscard]] HANDLE Event(int Index) const noexcept { return FEvents[Index].get(); }

    // Replacing or clearing the routine waits for a fill in progress to finish.
    void SetOnFill(TVOXAFillEvent Value);
    [[nodiscard]] bool HasOnFill() const;

private:
    friend class TVOXAChannel;
    friend class TVOXANotifyThread;

    struct EventCloser {
        void operator()(void* handle) const noexcept { CloseHandle(handle); }
    };

    ComPtr<IDirectSoundBuffer8> FBuffer;
    WAVEFORMATEX FFormat{};
    uint32_t FBufferBytes;
    TVOXA* FOwner;
    bool FStreaming;
    bool FUseFX;
    uint32_t FHalfSize = 0;
    ComPtr<IDirectSoundNotify> FNotify;
    std::array<std::unique_ptr<void, EventCloser>, 3> FEvents;
    std::unique_ptr<TVOXANotifyThread> FThread;
    mutable std::mutex FFillMutex;  // held while OnFill runs and while it is replaced
    TVOXAFillEvent FOnFill;         // guarded by FFillMutex
    std::atomic<TVOXAChannel*> FChannel{nullptr};  // written by the UI thread, read by the thread
};

// The streaming ring of the host: no 3D, streaming.
class TVOXAWaveData : public TVOXAGenWave {
public:
    TVOXAWaveData(TVOXA* AOwner, int32_t SamplesPerSec, int32_t BitsPerSample, bool Stereo,
                  uint32_t BufferBytes, bool UseFX)
        : TVOXAGenWave(AOwner, SamplesPerSec, BitsPerSample, Stereo, BufferBytes, false, UseFX,
                       true) {}
};

// Polls the wave data's cursors every 10 ms and requests each half once per turn of the ring,
// starting with the second half. Owned by its wave data; the destructor terminates and joins.
class TVOXANotifyThread {
public:
    static constexpr int kPollIntervalMs = 10;

    explicit TVOXANotifyThread(TVOXAGenWave* AWaveData) : FWaveData(AWaveData) {}
    ~TVOXANotifyThread();
    TVOXANotifyThread(const TVOXANotifyThread&) = delete;
    TVOXANotifyThread& operator=(const TVOXANotifyThread&) = delete;

    void Start();  // called by the wave data once it holds this object
    void Terminate() noexcept { FTerminated.store(true, std::memory_order_relaxed); }
    // Waits for the thread to end (after Terminate: at most one sleep and one poll).
    void WaitFor();
    [[nodiscard]] bool FillSecondHalf() const noexcept { return FFillSecondHalf; }  // thread
    // Polls done so far; lets a test wait until the thread has seen a cursor change.
    [[nodiscard]] uint64_t PollCount() const noexcept {
        return FPollCount.load(std::memory_order_acquire);
    }
    // An exception that left a fill (EVOXA from WriteData under dsoExceptOnError, or the
    // host's) ends the thread; it is kept here. Null while the thread runs normally.
    [[nodiscard]] std::exception_ptr FatalException() const;

private:
    void Execute() noexcept;
    void Poll(int& State);

    TVOXAGenWave* FWaveData;
    bool FFillSecondHalf = false;  // notification thread only
    std::atomic<bool> FTerminated{false};
    std::atomic<uint64_t> FPollCount{0};
    mutable std::mutex FFatalMutex;
    std::exception_ptr FFatalException;  // guarded by FFatalMutex
    std::thread FThread;
};

// ---- Channels, 3D parameters, listener (voxa_Channel.cpp) ----

class TVOXAParams3D {
public:
    // AChannel: the owning channel, or null for parameters a wave data carries.
    explicit TVOXAParams3D(TVOXAChannel* AChannel);
    // The 64-byte record, refreshed first from the channel's 3D buffer when it has one.
    void GetParams(DS3DBUFFER& Rec);
    // Copies Source's parameters and applies them to the channel's 3D buffer, if any
    // ("Params3Dに指定されたパラメータが不適切です" on failure).
    void Assign(TVOXAParams3D& Source);

private:
    TVOXAChannel* FChannel;
    DS3DBUFFER FParams{};
};

// A wave data played as a 3D sound: not streaming, no effects, with its own 3D parameters,
// which a channel takes over when it attaches it.
class TVOXA3DWaveData : public TVOXAGenWave {
public:
    TVOXA3DWaveData(TVOXA* AOwner, int32_t SamplesPerSec, int32_t BitsPerSample, bool Stereo,
                    uint32_t BufferBytes)
        : TVOXAGenWave(AOwner, SamplesPerSec, BitsPerSample, Stereo, BufferBytes, true, false,
                       false),
          FParams3D(nullptr) {}
    [[nodiscard]] TVOXAParams3D& Params3D() noexcept { return FParams3D; }

private:
    TVOXAParams3D FParams3D;
};

class TVOXAChannel {
public:
    explicit TVOXAChannel(TVOXA* AOwner);
    virtual ~TVOXAChannel();  // releases its buffer references
    TVOXAChannel(const TVOXAChannel&) = delete;
    TVOXAChannel& operator=(const TVOXAChannel&) = delete;

    // Attach (streaming and effects buffers are shared, others duplicated), replace, or detach
    // with null. Nothing without a device.
    void SetWaveData(TVOXAGenWave* Value);
    [[nodiscard]] TVOXAGenWave* WaveData() const noexcept { return FWaveData; }
    void Play();  // from byte 0, looping
    void Stop();  // where it is
    [[nodiscard]] TVOXAParams3D& Params3D() noexcept { return *FParams3D; }
    void SetParams3D(TVOXAParams3D& Value) { FParams3D->Assign(Value); }
    [[nodiscard]] bool Is3D() const noexcept { return FIs3D; }
    // The channel's own buffer reference (shared or duplicate), and its 3D interface.
    [[nodiscard]] IDirectSoundBuffer8* SoundBuffer() const noexcept { return FBuffer.Get(); }
    [[nodiscard]] IDirectSound3DBuffer* Buffer3D() const noexcept { return F3DBuffer.Get(); }

private:
    ComPtr<IDirectSoundBuffer8> FBuffer;
    ComPtr<IDirectSound3DBuffer> F3DBuffer;
    bool FIs3D = false;
    TVOXA* FOwner;
    TVOXAGenWave* FWaveData = nullptr;
    std::unique_ptr<TVOXAParams3D> FParams3D;
    bool FStreaming = false;
};

class TVOXAListener {
public:
    // Applies the default listener record to the owner's 3D listener, if it has one
    // ("Listenerに指定されたパラメータが不適切です" on failure).
    explicit TVOXAListener(TVOXA* AOwner);
    [[nodiscard]] const DS3DLISTENER& Params() const noexcept { return FParams; }
    [[nodiscard]] TVOXA* Owner() const noexcept { return FOwner; }

private:
    TVOXA* FOwner;
    DS3DLISTENER FParams{};
};

}  // namespace oggmix
