#pragma once
// MusicPlayer_Impl.h: the inside of MusicPlayer, shared by its facet files. Nothing outside
// music/ includes it.
// Threads: the game thread, except Pull and OnMixed, which run on the device's thread.
// Locks:   every change to a stream or a slot is made with the mixer's lock held (MixerGuard),
//          so that no block is rendered half way through it; the ledger of heard spans is
//          read and written under it too. Nothing heavy is done under it: new positions of a
//          stream are prepared before it is taken. Lock order: the device's clock (read
//          first, never under the mixer's lock), mixer, stream.
// Memory:  Pull and OnMixed do not allocate.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "decoder/OggWuvorbisLib.h"
#include "mixer/OggPlayerLib.h"
#include "music/DeviceLink.h"
#include "music/HeardSpans.h"
#include "oggmix/MusicPlayer.h"
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
    static constexpr int32_t kSlotCount = kMaxPlayingTracks;
    static constexpr int32_t kMinBlockFrames = 1024;
    static constexpr int32_t kMaxBlockFrames = 8192;

    // Why a track is fading out, and where that fade is heard to end.
    enum class Ending { None, Pause, Stop };
    struct TrackState {
        uint32_t Id = 0;
        std::string Name;  // the file, as messages call it
        std::unique_ptr<TOggData> Stream;
        int32_t Slot = -1;
        bool Loop = true;
        Ending FadingTo = Ending::None;
        // Mixer lock: the first output frame that the fade's request can reach, and, once a
        // block has held it, the output frame at which the fade fell silent and the source
        // frame it fell silent on (-1 while not known).
        int64_t FadeFromOut = 0;
        int64_t SilentOut = -1;
        int64_t SilentSource = -1;
        bool Rewound = false;  // a stop's rewind to the start is done
    };

    explicit Impl(const PlayerOptions& Options);
    ~Impl();

    // The track or MusicError(InvalidTrack). Game thread.
    TrackState& Find(Track Which);
    [[nodiscard]] std::string Describe(const TrackState& State) const;
    [[nodiscard]] std::unique_ptr<TOggData> NewStream() const;
    Track AddTrack(std::unique_ptr<TOggData> Stream, const std::string& Name);

    // Puts the track into a slot if it has none: a free one, or one whose track is not
    // playing; every slot playing throws TooManyPlaying. Mixer lock held.
    void EnsureSlot(TrackState& State);
    // The source frame a track must go on from when it starts again: where its pause fell
    // silent, the start after a stop, or where a converter that holds the music's end must
    // restart; -1 when it goes on from where its stream stands. Mixer lock held.
    [[nodiscard]] int64_t RestartFrame(TrackState& State);
    // Prepares that restart without the mixer's lock, then calls Change with it (null: none
    // needed) under the lock. Game thread, no lock held.
    void WithRestart(TrackState& State,
                     const std::function<void(std::unique_ptr<PreparedPosition>)>& Change);
    // Mixer lock held.
    void StartLocked(TrackState& State, bool Loop, double FadeInSec,
                     std::unique_ptr<PreparedPosition> From);
    void FadeOutLocked(TrackState& State, Ending To, double FadeSec);
    // Appends DeviceLost or DeviceBack when the device changed since the last look.
    void CheckDevice(std::vector<MusicEvent>& Out);
    // Rewinds tracks whose fade-out to stop is over. Game thread, no lock held.
    void FinishStops();
    // The first output frame not yet mixed: a change made now is heard from there.
    [[nodiscard]] int64_t NextOutFrame() const noexcept {
        return FMixedBlocks.load(std::memory_order_relaxed) * FBlockFrames;
    }
    // Whether the track's fade-out is over at output frame Heard. Mixer lock held.
    [[nodiscard]] bool FadeOver(const TrackState& State, int64_t Heard) const;
    // The source frame heard at Heard, or where the track stands. Mixer lock held.
    [[nodiscard]] double HeardSourceFrame(TrackState& State, int64_t Heard);

    // Device thread.
    void Pull(std::span<int16_t> Interleaved) noexcept;
    void OnMixed() noexcept;  // inside the mixer's render, its lock held

    int32_t FBlockFrames;
    std::unique_ptr<TVorbisFileDLL> FDecoder;  // this player's binding; outlives the streams
    std::unique_ptr<TOggPlayer> FMixer;
    music::HeardSpans FSpans;
    double FMasterVolume = 1.0;
    std::map<uint32_t, TrackState> FTracks;
    std::function<void(const MusicEvent&)> FCallback;
    bool FDeviceLost = false;  // as last reported by Poll
    uint64_t FSeenLosses = 0;  // device losses when Poll last looked

    // Mixer lock: which track each slot plays; read by the device thread.
    std::array<TrackState*, kSlotCount> FSlotTrack{};
    // Blocks mixed: written by the device thread under the mixer's lock, read anywhere.
    std::atomic<int64_t> FMixedBlocks{0};
    int32_t FBlockUsedFrames = 0;  // device thread: frames of the last block handed out

    // Declared last: destroyed first, so that no pull runs once anything it touches goes.
    std::unique_ptr<music::DeviceLink> FDevice;
};

}  // namespace oggmix
