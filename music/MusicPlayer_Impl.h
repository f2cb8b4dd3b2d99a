#pragma once
// MusicPlayer_Impl.h: the inside of MusicPlayer, shared by its facet files. Nothing outside
// music/ includes it.
// Threads: the game thread, except Pull, Apply and OnMixed, which run on the
//          device's thread (the caller's, offline).
// Locks:   every change to a stream or a slot is made with the mixer's lock held (MixerGuard),
//          so that no block is rendered half way through it; the ledger of heard spans is
//          read and written under it too. Nothing heavy is done under it: new positions of a
//          stream are prepared before it is taken. Lock order: the device's clock (read
//          first, never under the mixer's lock), mixer, stream.
// Memory:  Pull and OnMixed do not allocate.

#include <array>
#include <atomic>
#include <chrono>
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
#include "music/Schedule.h"
#include "music/TempoGrid.h"
#include "oggmix/MusicPlayer.h"
#include "stream/OggDataLib.h"

namespace oggmix {

// The mixer's lock for a scope. Stream states swapped out under it (Spent) are freed once it
// is given back, so that the device's thread does not wait for a decoder to be freed.
class MixerGuard {
public:
    using SpentStates = std::vector<std::unique_ptr<PreparedPosition>>;
    explicit MixerGuard(TOggPlayer& Player, SpentStates* Spent = nullptr)
        : FPlayer(Player), FSpent(Spent) {
        FPlayer.Lock();
    }
    // The device's thread: spins a moment for the lock before it sleeps on it, since a game's
    // call holds it only briefly and waking a sleeping thread can take longer than that.
    struct Spinning {};
    MixerGuard(TOggPlayer& Player, Spinning) : FPlayer(Player), FSpent(nullptr) {
        constexpr auto kSpin = std::chrono::microseconds(200);
        const auto until = std::chrono::steady_clock::now() + kSpin;
        while (!FPlayer.TryLock()) {
            if (std::chrono::steady_clock::now() < until) continue;
            FPlayer.Lock();
            return;
        }
    }
    ~MixerGuard() {
        FPlayer.Unlock();
        if (FSpent != nullptr) FSpent->clear();
    }
    MixerGuard(const MixerGuard&) = delete;
    MixerGuard& operator=(const MixerGuard&) = delete;

private:
    TOggPlayer& FPlayer;
    SpentStates* FSpent;
};

struct MusicPlayer::Impl {
    static constexpr int32_t kSlotCount = kMaxPlayingTracks;

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
        bool Rewound = false;   // a stop's rewind to the start is done
        music::TempoGrid Grid;  // from the file's tags, or as the game set it
        uint32_t GroupId = 0;   // the layer group it belongs to, if any
    };
    // Layers sharing one playhead; the first leads (its grid and position are the group's).
    struct GroupState {
        std::vector<uint32_t> Layers;
    };

    explicit Impl(const PlayerOptions& Options);
    ~Impl();

    // The track or MusicError(InvalidTrack). Game thread.
    TrackState& Find(Track Which);
    // The track, or a group's layers (the lead first). Game thread.
    std::vector<TrackState*> Members(Track Which);
    // Calls Change for the track's stream, or each layer's of a group, all within one mix.
    template <class Fn>
    void ForEachMember(Track Which, Fn&& Change) {
        const std::vector<TrackState*> members = Members(Which);
        MixerGuard guard(*FMixer);
        for (TrackState* state : members) Change(*state->Stream);
    }
    // Device thread, mixer lock held: the track or null.
    [[nodiscard]] TrackState* FindById(uint32_t Id) noexcept;
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
    // Prepares the restarts of States without the mixer's lock, then calls Change with them
    // (null where none is needed), in the order of States, under the lock, so that all
    // change within one block. Game thread, no lock held.
    using Prepared = std::vector<std::unique_ptr<PreparedPosition>>;
    using RestartChange = std::function<void(Prepared&)>;
    void WithRestarts(const std::vector<TrackState*>& States, const RestartChange& Change);
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
        return FMixedFrames.load(std::memory_order_relaxed);
    }
    // Whether the track's fade-out is over at output frame Heard. Mixer lock held.
    [[nodiscard]] bool FadeOver(const TrackState& State, int64_t Heard) const;
    // The source frame heard at Heard, or where the track stands. Mixer lock held.
    [[nodiscard]] double HeardSourceFrame(TrackState& State, int64_t Heard);

    // Device thread: mixes what the device asks for, piece by piece between the scheduled
    // changes, a block at most a piece; false when nothing plays or is scheduled (the device
    // may then rest).
    bool Pull(std::span<int16_t> Interleaved) noexcept;
    // Game thread, no lock held, from inside WakeDevice: the device rested while the clock
    // passed Frames; the output clock moves on by as many, unmixed.
    void Skip(int64_t Frames);
    // Before anything that may start sound: the device pulls again if it rested. Game
    // thread, no lock held.
    void WakeDevice() { FDevice->Wake(); }
    void Apply(const music::ScheduledChange& Change) noexcept;  // mixer lock held
    void OnMixed() noexcept;  // inside the mixer's piece, its lock held
    // The beats of a track heard in the piece, told ahead. Mixer lock held.
    void TellBeats(const TrackState& State, uint32_t ReportAs, const PlayRecord& Record) noexcept;

    // Game thread, mixer lock held: adds a change; a full schedule throws.
    void ScheduleChange(const music::ScheduledChange& Change);
    // A fade of Frames from output frame From drawn in Shape (rising: from silence up to 1,
    // else down to 0); StartsTrack: its first step starts the track too. Mixer lock held.
    void ScheduleFade(TrackState& State, int64_t From, int64_t Frames, FadeShape Shape, bool Rising,
                      bool StartsTrack, bool Loop);
    void ScheduleMarker(int64_t Frame, MusicEventKind Kind, uint32_t Id);
    // Puts a prepared restart in place: a stop's rewind, or a position. Mixer lock held.
    void ApplyRestart(TrackState& State, std::unique_ptr<PreparedPosition> From);

    // Where a quantized point lands: the output frame, and the lead's source frame there
    // (after a jump: where the music goes on).
    struct Landing {
        int64_t Out = 0;
        int64_t Source = 0;
    };
    // The first point When gives on Lead's grid, loop and end, at or after the first frame
    // not yet mixed and at or after MinOut, following the loop jumps the track will take.
    // A track at rest lands at once. Mixer lock held.
    [[nodiscard]] Landing Predict(TrackState& Lead, Quantize When, int32_t Bars, int64_t MinOut);
    [[nodiscard]] int64_t OutputFramesOf(const TrackState& State, int64_t SourceFrames) const;
    // A fade's length in output frames; beats count on Lead's grid.
    [[nodiscard]] int64_t FadeFrames(const FadeLength& Length, const TrackState& Lead) const;
    // The tempo the file's comments give.
    [[nodiscard]] static music::TempoGrid TagGrid(const TOggData& Stream);
    [[nodiscard]] uint32_t NewTrackId() noexcept;

    int32_t FBlockFrames;
    std::unique_ptr<TVorbisFileDLL> FDecoder;  // this player's binding; outlives the streams
    std::unique_ptr<TOggPlayer> FMixer;
    music::HeardSpans FSpans;
    double FMasterVolume = 1.0;
    std::map<uint32_t, TrackState> FTracks;
    std::function<void(const MusicEvent&)> FCallback;
    bool FDeviceLost = false;  // as last reported by Poll
    uint64_t FSeenLosses = 0;  // device losses when Poll last looked

    std::map<uint32_t, GroupState> FGroups;
    // Game thread: stream states swapped out under the mixer's lock, freed after it.
    MixerGuard::SpentStates FSpent;
    int64_t FLastStinger = -1;  // mixer lock: the output frame of the last stinger's downbeat
    music::Schedule FSchedule;  // mixer lock

    // Mixer lock: which track each slot plays; read by the device thread.
    std::array<TrackState*, kSlotCount> FSlotTrack{};
    // Output frames mixed: written by the device thread under the mixer's lock, read anywhere.
    std::atomic<int64_t> FMixedFrames{0};
    // The longest the device's thread waited for the mixer's lock: written by it, read anywhere.
    std::atomic<int64_t> FLongestWaitUs{0};
    // Device thread: the piece being mixed.
    int64_t FPieceStart = 0;
    int32_t FPieceFrames = 0;

    // Declared last: destroyed first, so that no pull runs once anything it touches goes.
    std::unique_ptr<music::DeviceLink> FDevice;
};

}  // namespace oggmix
