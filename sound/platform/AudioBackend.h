#pragma once
// AudioBackend.h: where a mix goes. One abstract back end, one file per kind, one factory by
// name (OGGMIX_AUDIO gives the software sound device's):
//   pulse          the PulseAudio server through libpulse, with its latency queried (the
//                  default where a PulseAudio or PipeWire server answers)
//   sdl            the real sound device through SDL2's audio callback (the default otherwise)
//   wasapi         Windows' default render device in WASAPI's shared mode (the default there)
//   null           consumes audio in real time and discards it
//   wav:PATH       consumes audio in real time and writes it to a WAV file at PATH
//   manual[:N]     moves only when a test calls ManualAudio::Advance; write-cursor lead N frames
// Every back end plays 44100 Hz, signed 16-bit, stereo.
//
// Calling order: Open (with the pull), Start, Stop, Close; the destructor closes. Between
// Start and Stop a back end may rest (Rest from inside a pull, Wake from the owner's thread).
// Threads: Open..Close on one thread; the pull runs on the device thread (SDL's callback, the
//          pump's thread, or the thread that advances the manual back end) between Start and
//          Stop, never after Stop has returned.
// Errors:  failures are result codes (DSERR_NODRIVER); Error says why this back end failed,
//          LastAudioBackendError why the last one of the process did. A device that goes away
//          while open says so through Lost; its owner then closes it and opens a new one. One
//          that stays open but plays nothing (its sink suspended) says why through Quiet, and
//          goes on pulling in real time into nothing until it plays again.

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

// Why an open device plays nothing.
enum class DeviceQuiet : int32_t {
    None = 0,       // it plays
    Gone = 1,       // the device or its server went away (Lost)
    Suspended = 2,  // its sink is suspended
    Moved = 3,      // the stream was moved to a sink that is suspended
    Stalled = 4,    // the server stopped taking sound though nothing says why
};

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
    // Times the device ran out of pulled sound and played a gap, where it can tell (the
    // PulseAudio server reports each); 0 elsewhere. Any thread.
    [[nodiscard]] virtual uint64_t Underruns() const noexcept { return 0; }
    // Of the frames pulled since Open, how many the listener has heard by now; moves on with
    // the clock between pulls, never decreases, never exceeds what was pulled. Any thread,
    // lock-free.
    [[nodiscard]] virtual int64_t HeardFrames() const noexcept = 0;
    // Why the open device plays nothing at the moment; None while it plays. Any thread.
    [[nodiscard]] virtual DeviceQuiet Quiet() const noexcept { return DeviceQuiet::None; }
    // Called when Lost or Quiet may have changed, on any thread, possibly with the back end's
    // own lock held: it may only post a wake-up. Set before Open.
    using NoticeFn = std::function<void()>;
    void SetNotice(NoticeFn notice) { FNotice = std::move(notice); }
    // True when every change of Lost and Quiet calls the notice; false: the owner must look.
    [[nodiscard]] virtual bool Notifies() const noexcept { return false; }

    // Resting, for an owner with nothing to play. Rest, called from inside a pull (the device
    // thread), says that silence follows this pull's frames until Wake. A back end that rests
    // pulls no more, plays out what it holds and then quiets the device; its clock goes on in
    // real time past the frames pulled. The others ignore it and keep pulling.
    virtual void Rest() noexcept {}
    // Owner's thread, not inside a pull: pulls again. Skip is called first, before any pull and
    // with the back end's lock held, with the frames the clock went past the frames pulled
    // while resting, which count as pulled from then on (not called when none passed).
    using SkipFn = std::function<void(int64_t frames)>;
    virtual void Wake(const SkipFn& skip) { (void)skip; }
    // Whether the back end is resting. Any thread.
    [[nodiscard]] virtual bool Resting() const noexcept { return false; }

    // Why Open failed; empty after a successful Open. Owner's thread.
    [[nodiscard]] virtual std::string Error() const { return FError; }
    // The kind: "pulse", "sdl", "null", "wav" or "manual".
    [[nodiscard]] virtual std::string Name() const = 0;

protected:
    // Open's outcome, kept for Error and for LastAudioBackendError.
    HRESULT Fail(std::string why);
    void Opened();
    void Notice() const {
        if (FNotice) FNotice();
    }

private:
    std::string FError;
    NoticeFn FNotice;
};

struct BackendOptions {
    // What the device holds, for pulse (the server's target length) and sdl (its buffer);
    // 0: the back end's default. The others ignore it.
    int32_t LatencyMs = 0;
};

// Parses a back-end name as OGGMIX_AUDIO gives it ("" means DefaultAudioBackendName()) into
// Backend; DSERR_NODRIVER for an unknown name.
[[nodiscard]] HRESULT CreateAudioBackend(std::string_view name,
                                         std::unique_ptr<AudioBackend>& Backend,
                                         const BackendOptions& Options = {});
// The platform's own (platform/<system>/SystemBackends.cpp): on Linux "pulse" when a PulseAudio
// server answers within about a second, else "sdl" (connects); "wasapi" on Windows.
[[nodiscard]] std::string DefaultAudioBackendName();
// The platform's device back end of that name (nullptr when it has none), and their names for
// messages ("sdl, pulse, ").
[[nodiscard]] std::unique_ptr<AudioBackend> MakeSystemBackend(std::string_view name,
                                                              const BackendOptions& Options);
[[nodiscard]] const char* SystemBackendNames();
// OGGMIX_AUDIO when set and not empty, else DefaultAudioBackendName().
[[nodiscard]] std::string AudioBackendName();
// Why the last Open or CreateAudioBackend of this process failed; empty after a success.
[[nodiscard]] std::string LastAudioBackendError();
void SetLastAudioBackendError(std::string message);

// True when a PulseAudio server (the one libpulse would use) accepts a connection within
// timeoutMs; never starts one.
[[nodiscard]] bool PulseServerAnswers(int32_t timeoutMs);

std::unique_ptr<AudioBackend> MakeSdlBackend(int32_t latencyMs);
std::unique_ptr<AudioBackend> MakePulseBackend(int32_t latencyMs);
std::unique_ptr<AudioBackend> MakeWasapiBackend(int32_t latencyMs);  // Windows only
std::unique_ptr<AudioBackend> MakeNullBackend();
std::unique_ptr<AudioBackend> MakeWavBackend(std::string path);
std::unique_ptr<AudioBackend> MakeManualBackend(int32_t periodFrames);

}  // namespace oggmix
