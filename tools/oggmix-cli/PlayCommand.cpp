// PlayCommand.cpp: `oggmix-cli play`: plays files through the sound device (the back end that
// OGGMIX_AUDIO names), with the player's own audio feed, until the time is up, every stream
// has ended (--no-loop), or Ctrl-C. The files are loaded and started before the feed's
// channel plays, so that its first block is music. A sound device that goes away is said
// once; the player goes on in real time and says when the device is back.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/Exceptions.h"
#include "base/FileCloser.h"
#include "base/platform/Platform.h"
#include "feed/AudioFeed.h"
#include "sound/platform/AudioBackend.h"
#include "sound/platform/DeviceStatus.h"
#include "sound/voxa.h"
#include "tools/oggmix-cli/Command.h"
#include "tools/oggmix-cli/CommandLine.h"
#include "tools/oggmix-cli/MixOptions.h"
#include "tools/oggmix-cli/PlaySet.h"
#include "tools/oggmix-cli/StreamFiles.h"

namespace oggmix::cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kStatusInterval = std::chrono::milliseconds(100);
constexpr auto kLogInterval = std::chrono::milliseconds(10);
// About 31 years: the end of playing, in the clock's nanoseconds, stays far from overflow.
constexpr double kMaxSeconds = 1e9;

// Every 10 ms, a line "<monotonic clock, us> <slot 0's play time, s> <MixPosition, bytes>":
// what the player says is heard, against the clock, for measuring it against the device.
class PositionLog {
public:
    explicit PositionLog(const std::string& path)
        : FFile(path.empty() ? nullptr : platform::OpenFile(path, "w")) {}

    [[nodiscard]] bool Failed(const std::string& path) const {
        return !path.empty() && FFile == nullptr;
    }
    [[nodiscard]] bool Active() const noexcept { return FFile != nullptr; }
    void Write(AudioFeed& feed) {
        if (FFile == nullptr) return;
        const int64_t beforeUs = MonotonicUs();
        const float playTimeSec = feed.Player().GetPlayTime(0);
        const int32_t mixPosition = feed.Player().MixPosition();
        const int64_t afterUs = MonotonicUs();
        // A reading that waited (the thread was preempted, or a render held the lock) has no
        // one moment: it is left out.
        if (afterUs - beforeUs > kMaxReadingUs) return;
        std::fprintf(FFile.get(), "%lld %.4f %d\n",
                     static_cast<long long>((beforeUs + afterUs) / 2),
                     static_cast<double>(playTimeSec), mixPosition);
    }

private:
    static constexpr int64_t kMaxReadingUs = 500;

    static int64_t MonotonicUs() {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return int64_t{now.tv_sec} * 1'000'000 + now.tv_nsec / 1000;
    }

    UniqueFile FFile;
};

// Set on a request to stop (Ctrl-C, SIGTERM); the main loop ends the playing in order.
std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Parses args into out; returns an empty string or what is wrong.
std::string ParseArgs(std::span<const std::string> args, CommandLine& out) {
    if (std::string error = ParseCommandLine(kPlay, args, out); !error.empty()) return error;
    if (!out.SetPath.empty()) {
        const MixOptions& mix = out.Mix;
        if (!out.Files.empty() || mix.HighestSlot() >= 0 || mix.NoLoop || !out.PositionLog.empty())
            return "--set takes no FILE and none of the mix options but --seconds";
    } else if (std::string error = CheckMixFiles(out); !error.empty()) {
        return error;
    }
    if (out.Mix.Seconds && *out.Mix.Seconds > kMaxSeconds)
        return "--seconds is too long (at most 1e9)";
    return {};
}

double FramesToMs(int32_t frames) { return 1000.0 * frames / kDeviceFramesPerSecond; }

// A level of 0..1 as a bar on a 48 dB scale.
std::string Meter(float level) {
    constexpr int kWidth = 16;
    const double db = level > 0.0f ? 20.0 * std::log10(static_cast<double>(level)) : -96.0;
    const int filled =
        std::clamp(static_cast<int>(std::lround((db + 48.0) / 48.0 * kWidth)), 0, kWidth);
    return std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(kWidth - filled), '-');
}

// One status line on stderr, redrawn in place, while stderr is a terminal.
class StatusLine {
public:
    StatusLine() : FShown(isatty(STDERR_FILENO) == 1) {}
    ~StatusLine() {
        if (FDrawn) std::fputc('\n', stderr);
    }
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    void Draw(AudioFeed& feed, const SoundDeviceStatus& device) {
        if (!FShown) return;
        std::string line;
        char part[96];
        std::snprintf(part, sizeof part, "[%s %d/%.0f ms] ", device.Lost ? "lost" : "period",
                      device.PeriodFrames, FramesToMs(device.DelayFrames));
        line += part;
        for (int32_t slot = 0; slot < feed.StreamCount(); ++slot) {
            std::snprintf(part, sizeof part, "%d: %6.1f/%.1f s  ", slot,
                          static_cast<double>(feed.Player().GetPlayTime(slot)),
                          static_cast<double>(feed.Stream(slot).TotalTime()));
            line += part;
        }
        line += "L " + Meter(feed.Player().GetLevel(0)) + " R " + Meter(feed.Player().GetLevel(1));
        std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
        std::fflush(stderr);
        FDrawn = true;
    }
    // A message on a line of its own, also when stderr is no terminal.
    void Say(const std::string& message) {
        if (FDrawn) std::fputs("\r\x1b[K", stderr);
        std::fprintf(stderr, "oggmix-cli play: %s\n", message.c_str());
        std::fflush(stderr);
    }

private:
    bool FShown;
    bool FDrawn = false;
};

// Says what happens to the sound device: its period and latency once it has run a moment,
// "sound device lost" once per loss, and when it is back.
class DeviceWatch {
public:
    explicit DeviceWatch(StatusLine& status)
        : FStatus(status), FSeenLosses(CurrentSoundDeviceStatus().Losses) {}

    SoundDeviceStatus Check(Clock::duration playedFor) {
        const SoundDeviceStatus device = CurrentSoundDeviceStatus();
        if (!FReported && !device.Lost && playedFor >= kSettleTime) {
            FReported = true;
            FStatus.Say(Describe(device));
        }
        if (device.Losses != FSeenLosses) {
            FSeenLosses = device.Losses;
            FStatus.Say("sound device lost; playing on, trying to reopen it every second");
        }
        if (FWasLost && !device.Lost) FStatus.Say("sound device back (" + device.Backend + ")");
        FWasLost = device.Lost;
        return device;
    }

private:
    // The back ends learn their latency from the first pulls.
    static constexpr auto kSettleTime = std::chrono::milliseconds(500);

    static std::string Describe(const SoundDeviceStatus& device) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "sound device %s, period %d frames (%.1f ms), latency %.1f ms",
                      device.Backend.c_str(), device.PeriodFrames, FramesToMs(device.PeriodFrames),
                      FramesToMs(device.DelayFrames));
        return text;
    }

    StatusLine& FStatus;
    uint64_t FSeenLosses;
    bool FReported = false;
    bool FWasLost = false;
};

bool AnyPlaying(AudioFeed& feed) {
    for (int32_t slot = 0; slot < feed.StreamCount(); ++slot)
        if (feed.Stream(slot).GetState(true) >= 2) return true;
    return false;
}

enum class PlayEnd { Done, RefillFailed, DeviceLost };

// Plays until the end condition.
PlayEnd PlayUntilDone(AudioFeed& feed, const MixOptions& mix, PositionLog& positions) {
    const auto start = Clock::now();
    const auto end = mix.Seconds ? start + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(*mix.Seconds))
                                 : Clock::time_point::max();
    // After the last stream ended, its last block is still in the ring: two more fill
    // requests and it has been heard in full.
    std::optional<uint64_t> drainedAfter;
    StatusLine status;
    DeviceWatch watch(status);
    SoundDeviceStatus device;
    while (!gStopRequested.load(std::memory_order_relaxed)) {
        if (feed.RefillFailure()) return PlayEnd::RefillFailed;
        const auto now = Clock::now();
        device = watch.Check(now - start);
        if (now >= end) break;
        if (mix.NoLoop && !drainedAfter && !AnyPlaying(feed))
            drainedAfter = feed.RequestedBlocks() + 2;
        if (drainedAfter && feed.RequestedBlocks() >= *drainedAfter) break;
        status.Draw(feed, device);
        positions.Write(feed);
        const Clock::duration interval = positions.Active() ? kLogInterval : kStatusInterval;
        std::this_thread::sleep_for(std::min<Clock::duration>(interval, end - now));
    }
    if (watch.Check(Clock::now() - start).Lost) {
        status.Say("ended while the sound device was lost");
        return PlayEnd::DeviceLost;
    }
    return PlayEnd::Done;
}

void ReportNoDevice() {
    const std::string reason = LastAudioBackendError();
    std::fprintf(stderr,
                 "oggmix-cli play: cannot open the sound device (OGGMIX_AUDIO=%s)%s%s\n"
                 "  to play without a sound device use OGGMIX_AUDIO=null (discard the sound) or\n"
                 "  OGGMIX_AUDIO=wav:PATH (write what would be heard to a WAV file)\n",
                 AudioBackendName().c_str(), reason.empty() ? "" : ": ", reason.c_str());
}

int Play(const CommandLine& args) {
    if (AudioBackendName().starts_with("manual")) {
        std::fprintf(stderr,
                     "oggmix-cli play: OGGMIX_AUDIO=%s is the test device, which only moves when\n"
                     "  a test advances it; use sdl, pulse, null or wav:PATH\n",
                     AudioBackendName().c_str());
        return kExitUsage;
    }
    PositionLog positions(args.PositionLog);
    if (positions.Failed(args.PositionLog)) {
        std::fprintf(stderr, "oggmix-cli play: cannot write %s\n", args.PositionLog.c_str());
        return kExitFailure;
    }
    const platform::StopRequestWatch stopRequests(gStopRequested);
    TVOXA voxa(nullptr);
    voxa.SetDebugOption({dsoExceptOnError});
    voxa.Loaded();
    if (!voxa.Initialized()) {
        ReportNoDevice();
        return kExitFailure;
    }
    AudioFeed feed(voxa, DecoderPathBesideExecutable(), static_cast<int32_t>(args.Files.size()),
                   false);
    if (!feed.DecoderUsable()) {
        std::fprintf(stderr, "oggmix-cli: %s: an entry point is missing\n",
                     DecoderPathBesideExecutable().c_str());
        return kExitFailure;
    }
    for (int32_t slot = 0; slot < feed.StreamCount(); ++slot) {
        if (!LoadStreamFile(feed.Stream(slot), args.Files[static_cast<size_t>(slot)],
                            args.Mix.Resample))
            return kExitFailure;
        feed.Player().SetSlot(slot, &feed.Stream(slot), true);
    }
    ApplyMixOptions(args.Mix, feed.Player());
    // Every stream starts in the same block: no render may run between two of the starts.
    feed.Player().Lock();
    feed.Player().PlayAll(!args.Mix.NoLoop);
    feed.Player().Unlock();
    feed.Start();

    const PlayEnd ended = PlayUntilDone(feed, args.Mix, positions);
    if (feed.DroppedBlocks() > 0)
        std::fprintf(stderr, "oggmix-cli play: %llu blocks came too late and were dropped\n",
                     static_cast<unsigned long long>(feed.DroppedBlocks()));
    if (ended == PlayEnd::Done) return kExitOk;
    if (ended == PlayEnd::DeviceLost) return kExitFailure;
    try {
        std::rethrow_exception(feed.RefillFailure());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "oggmix-cli play: the sound stopped: %s\n", e.what());
    }
    return kExitFailure;
}

int Run(std::span<const std::string> argv) {
    CommandLine args;
    if (const std::string error = ParseArgs(argv, args); !error.empty())
        return UsageError("play", error);
    try {
        if (!args.SetPath.empty()) {
            // Ctrl-C ends it, and the terminal is given back.
            const platform::StopRequestWatch stopRequests(gStopRequested);
            return PlaySet(args, gStopRequested);
        }
        return Play(args);
    } catch (const Exception& e) {
        std::fprintf(stderr, "oggmix-cli: %s\n", e.what());
    }
    return kExitFailure;
}

const bool kRegistered = RegisterCommand(
    {"play", kPlay,
     "oggmix-cli play [OPTIONS] FILE [FILE...]\n"
     "  oggmix-cli play --set SET.json [--seconds S]",
     "plays the files (slots 0, 1, ... in order, at most 8) through the sound device\n"
     "that OGGMIX_AUDIO names (sdl, pulse, null, wav:PATH), looping unless --no-loop,\n"
     "until --seconds have passed, every file has ended (--no-loop), or Ctrl-C (without\n"
     "either it loops until Ctrl-C); a sound device that goes away is reopened every\n"
     "second, and the exit status is 1 if it is still gone at the end; with --set,\n"
     "plays a music set from the keys: 1-9 the states in the order of the file, + and -\n"
     "the first parameter by 0.1, space the first stinger, q quits",
     Run, nullptr});

}  // namespace
}  // namespace oggmix::cli
