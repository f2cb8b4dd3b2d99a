#pragma once
// AudioBackend.h: where the software sound device's mix goes. One abstract back end, one file
// per kind, one factory that reads OGGMIX_AUDIO:
//   sdl (default)  the real sound device through SDL2's audio callback
//   pulse          the PulseAudio server through libpulse, with its latency queried
//   null           consumes audio in real time and discards it
//   wav:PATH       consumes audio in real time and writes it to a WAV file at PATH
//   manual[:N]     moves only when a test calls ManualAudio::Advance; write-cursor lead N frames
// Every back end plays 44100 Hz, signed 16-bit, stereo.
//
// Calling order: Open (with the pull), Start, Stop, Close; the destructor closes.
// Threads: Open..Close on one thread; the pull runs on the device thread (SDL's callback, the
//          pump's thread, or the thread that advances the manual back end) between Start and
//          Stop, never after Stop has returned.
// Errors:  failures are result codes (DSERR_NODRIVER); LastAudioBackendError says why. A
//          device that goes away while open says so through Lost; the sound device then
//          closes it and opens a new one when it can.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/PcmFormat.h"
#include "sound/platform/DirectSound.h"

namespace oggmix {

// The device plays the one format that the rest of the system exchanges.
inline constexpr int32_t kDeviceFramesPerSecond = kFramesPerSecond;
inline constexpr int32_t kDeviceChannels = kChannelsPerFrame;
inline constexpr int32_t kDeviceBytesPerFrame = kBytesPerFrame;

class AudioBackend {
public:
    // Fills the span (interleaved left, right; frames = size / 2) with the device's mix.
    // No alloc, no throw, no blocking.
    using PullFn = std::function<void(std::span<int16_t> interleaved)>;

    virtual ~AudioBackend() = default;
    AudioBackend() = default;
    AudioBackend(const AudioBackend&) = delete;
    AudioBackend& operator=(const AudioBackend&) = delete;

    [[nodiscard]] virtual HRESULT Open(PullFn pull) = 0;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual void Close() = 0;
    // Frames the back end takes per pull, by which the write cursor leads what was pulled.
    [[nodiscard]] virtual int32_t PeriodFrames() const noexcept = 0;
    // Frames pulled that the listener has not heard yet, at this moment (what the back end's
    // and the server's buffers hold). 0 where a pull is heard at once. Any thread.
    [[nodiscard]] virtual int32_t DelayFrames() const noexcept { return 0; }
    // True once the device has gone away; the back end pulls no more. Any thread.
    [[nodiscard]] virtual bool Lost() const noexcept { return false; }
};

// Parses a back-end name as OGGMIX_AUDIO gives it ("" means sdl) into Backend; DSERR_NODRIVER
// for an unknown name.
[[nodiscard]] HRESULT CreateAudioBackend(std::string_view name,
                                         std::unique_ptr<AudioBackend>& Backend);
// The back-end name from OGGMIX_AUDIO ("sdl" when unset or empty).
[[nodiscard]] std::string AudioBackendName();
// Why the last Open or CreateAudioBackend of this process failed; empty after a success.
[[nodiscard]] std::string LastAudioBackendError();
void SetLastAudioBackendError(std::string message);

std::unique_ptr<AudioBackend> MakeSdlBackend();
std::unique_ptr<AudioBackend> MakePulseBackend();
std::unique_ptr<AudioBackend> MakeNullBackend();
std::unique_ptr<AudioBackend> MakeWavBackend(std::string path);
std::unique_ptr<AudioBackend> MakeManualBackend(int32_t periodFrames);

}  // namespace oggmix
