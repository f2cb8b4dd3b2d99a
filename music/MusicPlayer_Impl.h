#pragma once
// MusicPlayer_Impl.h: the inside of MusicPlayer, shared by its facet files. Nothing outside
// music/ includes it.
// Threads: the game thread, except the three hooks (OnBlockStart, OnBlockMixed, OnFill),
//          which run on the mixer's refill thread.
// Locks:   every change to a stream or a slot is made with the mixer's lock held (MixerGuard),
//          so that no block is rendered half way through it and the hooks see each block's
//          streams as they were. Lock order: mixer, then stream.
// Memory:  the hooks do not allocate.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "feed/AudioFeed.h"
#include "music/HeardBlocks.h"
#include "oggmix/MusicPlayer.h"
#include "sound/voxa.h"
#include "stream/OggDataLib.h"

namespace oggmix {

// The mixer's lock for a scope.
class MixerGuard {
public:
    explicit MixerGuard(TOggPlayer& Player) : FPlayer(Player) { FPlayer.Lock(); }
    ~MixerGuard() { FPlayer.Unlock(); }
    MixerGuard(const MixerGuard&) = delete;
    MixerGuard& operator=(const MixerGuard&) = delete;

private:
    TOggPlayer& FPlayer;
};

struct MusicPlayer::Impl {
    struct TrackState {
        std::string Name;  // the file, as messages call it
        std::unique_ptr<TOggData> Stream;
        int32_t Slot = -1;
        bool Loop = true;
        bool Pausing = false;   // faded out by Pause; Resume continues
        int64_t PauseSeq = -1;  // the last block begun before the pause
        double PauseFadeSec = 0.0;
        bool Stopping = false;  // faded out by Stop; rewound once silent
    };
    // What OnBlockStart saw of a slot's track, for OnBlockMixed.
    struct SlotBefore {
        uint32_t TrackId = 0;
        double StartSec = 0.0;
        int32_t State = 0;
    };

    explicit Impl(const PlayerOptions& Options);
    ~Impl();

    // The track or MusicError(InvalidTrack). Game thread.
    TrackState& Find(Track Which);
    std::string Describe(Track Which, const TrackState& State) const;
    // Puts the track into a slot if it has none: a free one, or one whose track is not
    // playing; every slot playing throws TooManyPlaying. Mixer lock held.
    void EnsureSlot(Track Which, TrackState& State);
    void StartLocked(Track Which, TrackState& State, bool Loop, double FadeInSec);
    void StopLocked(TrackState& State, double FadeOutSec);
    // Tracks whose fade-out to stop has finished are rewound. Mixer lock held.
    void FinishStops();
    // Where a paused track's pause fade fell silent, if known: the stream itself stops only
    // at the end of that block, having played silence. Mixer lock held.
    [[nodiscard]] std::optional<double> PausedAt(Track Which, const TrackState& State) const;
    [[nodiscard]] music::HeardFrame HeardNow() const;
    // Appends DeviceLost or DeviceBack when the device changed since the last look.
    void CheckDevice(std::vector<MusicEvent>& Out);
    // A stream for a track: sized for the feed, reading LOOPSTART tags as well.
    [[nodiscard]] std::unique_ptr<TOggData> NewStream() const;
    Track AddTrack(std::unique_ptr<TOggData> Stream, const std::string& Name);

    // Refill thread.
    void OnBlockStart() noexcept;  // mixer lock held
    void OnBlockMixed() noexcept;  // mixer lock held
    void OnFill(TVOXAGenWave* Sender, TVOXAChannel* Channel, uint32_t Offset, uint32_t Size);

    // One player at a time: the decoding library is bound for the whole process.
    struct OpenClaim {
        OpenClaim();
        ~OpenClaim();
        OpenClaim(const OpenClaim&) = delete;
        OpenClaim& operator=(const OpenClaim&) = delete;
    };

    OpenClaim FClaim;  // first: claimed before anything opens, released after all is shut
    std::unique_ptr<TVOXA> FVoxa;
    std::string FDeviceStatus;
    std::string FBackendName;
    int32_t FBlockFrames;
    double FMasterVolume = 1.0;
    music::HeardBlocks FHeard;
    // Written by the game thread and read by the refill thread, both under the mixer's lock.
    std::array<uint32_t, AudioFeed::kSlotCount> FSlotTrack{};
    std::array<SlotBefore, AudioFeed::kSlotCount> FSlotBefore{};  // refill thread only
    std::map<uint32_t, TrackState> FTracks;
    std::function<void(const MusicEvent&)> FCallback;
    bool FDeviceLost = false;  // as last reported by Poll
    uint64_t FSeenLosses = 0;  // device losses in the process when Poll last looked
    // Declared last: destroyed first, so that the refill thread has ended before anything
    // its hooks touch goes.
    std::unique_ptr<AudioFeed> FFeed;
};

}  // namespace oggmix
