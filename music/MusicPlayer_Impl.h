#pragma once
// MusicPlayer_Impl.h: the inside of MusicPlayer, shared by its facet files. Nothing outside
// music/ includes it.
// Threads: the game thread, except Pull, Apply and OnMixed, which run on the
//          device's thread (the caller's, offline).
// Timeline: every call that changes what is heard becomes changes on the one schedule, each on
//          the output frame where it lands (at once: the first frame not yet mixed), applied
//          by Apply on the device thread; the calls' rules (a later call withdraws what is
//          still pending for its tracks, the latest request wins, a refused call changes
//          nothing) are kept on the game thread, which knows every request not yet landed.
// Locks:   every change to a stream or a slot is made with the mixer's lock held (MixerGuard),
//          so that no block is rendered half way through it. Nothing heavy is done under it:
//          new positions of a stream are prepared before it is taken. Lock order: the device's
//          clock (read first, never under the mixer's lock), mixer, stream.
// Read-outs: what the game reads (positions, playing state, events, the frames mixed and
//          heard, delivery figures) is published by the device's thread through music/shared/
//          (each track's ledger, the event ring) and read without the mixer's lock. A call
//          that changes a track's state or its stream's position under the lock publishes the
//          track again (Publish) before it lets go.
// Memory:  Pull and OnMixed do not allocate.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decoder/OggWuvorbisLib.h"
#include "mixer/OggPlayerLib.h"
#include "music/DeviceLink.h"
#include "music/EventInbox.h"
#include "music/HeldPositions.h"
#include "music/Schedule.h"
#include "music/TempoGrid.h"
#include "music/TrackOwners.h"
#include "music/shared/ToldEvent.h"
#include "music/shared/TrackLedger.h"
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
    using Ending = music::shared::TrackEnding;
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
        // Mixer lock: beats heard from this output frame on are not told (a transition's
        // source, a track fading out to a stop), and the downbeat of its last stinger.
        int64_t BeatsUntil = INT64_MAX;
        int64_t LastStingerOut = -1;
        // What the read-outs see of it without the lock: written with the mixer's lock held.
        std::unique_ptr<music::shared::TrackLedger> Ledger;
        // Game thread: the frames of its starts on the schedule; those not yet mixed wait.
        std::vector<int64_t> PendingStarts;
    };
    // A call's changes not yet all applied. A transition's source and destination (tracks or
    // groups) are kept for the rule that the latest request wins.
    struct Request {
        uint32_t Id = 0;
        std::vector<uint32_t> Ids;  // every track and group it changes
        uint32_t From = 0;
        uint32_t To = 0;
        int64_t Landing = 0;        // the frame it lands on; pending until that frame is mixed
        int64_t LandingSource = 0;  // a transition: its source's frame there
    };
    // What a call withdraws before it adds its own changes: whole requests not yet landed
    // that touch its tracks, and every other change still waiting for those tracks.
    // A transport call (play, stop, pause, a transition, a stinger) withdraws the starts,
    // fades, jumps and markers waiting for its tracks; a change of a setting (volume, pan,
    // tone filter, gain control), their changes of that setting; Unload, everything.
    enum class Scope { Transport, Setting, All };
    struct Withdrawal {
        Scope Of = Scope::Transport;
        music::ScheduledChange::Kind Setting = music::ScheduledChange::Kind::VolumeTo;
        std::vector<uint32_t> Requests;
        std::vector<uint32_t> Ids;
        [[nodiscard]] bool Covers(const music::ScheduledChange& Change) const;
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
    // Refuses a call from a track or group to itself or to one of its own layers.
    void CheckApart(Track From, Track To, const std::string& What);
    // The ids of Which's changes: its tracks and, for a group, the group's own.
    [[nodiscard]] std::vector<uint32_t> IdsOf(Track Which);
    // Mixer lock held: what a call on Ids withdraws, and whether, once it has, Changes more
    // changes, Positions more held positions and a slot for each of Starting fit; refused
    // with a MusicError (and counted) before anything changes when not.
    [[nodiscard]] Withdrawal WithdrawalFor(const std::vector<uint32_t>& Ids,
                                           Scope Of = Scope::Transport) const;
    void CheckRoom(const Withdrawal& Out, int32_t Changes, int32_t Positions,
                   const std::vector<TrackState*>& Starting);
    void Withdraw(const Withdrawal& Out);
    // A new request on the Ids, landing on Landing; its changes then carry FRequestId.
    void BeginRequest(std::vector<uint32_t> Ids, int64_t Landing, uint32_t From = 0,
                      uint32_t To = 0, int64_t LandingSource = 0);
    // A transition not yet landed whose destination, or else whose source, is Which.
    [[nodiscard]] const Request* PendingTo(uint32_t Which) const;
    [[nodiscard]] const Request* PendingFrom(uint32_t Which) const;
    // Forgets requests wholly applied and frees what the device thread swapped out.
    void Tidy();
    // Starts Members (Ids: theirs and a group's) on frame From or the first not yet mixed,
    // whichever is later, each from where it must go on, withdrawing what waits for them;
    // Loop: none keeps each track's own. Game thread, no lock held. Returns the frame.
    int64_t StartMembers(const std::vector<TrackState*>& Members, const std::vector<uint32_t>& Ids,
                         int64_t From, std::optional<bool> Loop, double FadeSec);
    // Mixer lock held, game thread: schedules the changes of a call.
    void ScheduleStart(TrackState& State, int64_t At, bool Loop, float Value, double FadeSec);
    void ScheduleFadeOut(TrackState& State, int64_t At, bool Pause, double FadeSec);
    // Device thread, mixer lock held: how the changes act on a track.
    void StartNow(TrackState& State, const music::ScheduledChange& Change) noexcept;
    void FadeOutNow(TrackState& State, const music::ScheduledChange& Change) noexcept;
    // Appends DeviceLost or DeviceBack when the device changed since the last look.
    void CheckDevice(std::vector<MusicEvent>& Out);
    // Rewinds tracks whose fade-out to stop is over. Game thread, no lock held.
    void FinishStops();
    // The first output frame not yet mixed: a change made now is heard from there.
    [[nodiscard]] int64_t NextOutFrame() const noexcept {
        return FMixedFrames.load(std::memory_order_acquire);
    }
    // The track's state as the read-outs see it: its fields and its stream's play state and
    // position now. Mixer lock held.
    [[nodiscard]] static music::shared::TrackView ViewOf(const TrackState& State) noexcept;
    // Publishes ViewOf(State) to its ledger. Mixer lock held.
    static void Publish(const TrackState& State) noexcept { State.Ledger->Publish(ViewOf(State)); }
    // From a published view, no lock: whether the track's fade-out is over at output frame
    // Heard; the source frame heard at Heard, or where the track stands.
    [[nodiscard]] static bool FadeOver(const TrackState& State,
                                       const music::shared::TrackView& View, int64_t Heard);
    [[nodiscard]] static double HeardSourceFrame(const TrackState& State,
                                                 const music::shared::TrackView& View,
                                                 int64_t Heard);
    // Game thread, no lock: whether a start of the track waits on the schedule for a frame
    // not yet mixed by Mixed (those mixed are forgotten).
    [[nodiscard]] static bool StartWaiting(TrackState& State, int64_t Mixed);

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

    // Game thread, mixer lock held: adds a change of the current request (room was checked).
    void ScheduleChange(music::ScheduledChange Change);
    // A fade of Frames from output frame From drawn in Shape (rising: from silence up to 1,
    // else down to 0); StartsTrack: its first step starts the track too. Mixer lock held.
    void ScheduleFade(TrackState& State, int64_t From, int64_t Frames, FadeShape Shape, bool Rising,
                      bool StartsTrack, bool Loop);
    // How many changes ScheduleFade adds.
    [[nodiscard]] static int32_t FadeChanges(int64_t Frames, FadeShape Shape);
    // A sounding track jumps to a prepared position on frame At: a short dip around the jump,
    // so that neither the old place nor the new one clicks. Changes: kJumpChanges.
    static constexpr int32_t kJumpChanges = 3;
    void ScheduleJump(TrackState& State, int64_t At, std::unique_ptr<PreparedPosition> To);
    // Setting (its kind, frame and values) for each of Members (Ids: theirs and a group's);
    // returns its frame. Mixer lock held.
    int64_t ScheduleSetting(const std::vector<TrackState*>& Members,
                            const std::vector<uint32_t>& Ids, music::ScheduledChange Setting);
    // The same for Which, on the first frame not yet mixed. No lock held.
    int64_t SetNow(Track Which, music::ScheduledChange Setting);
    // The output frame of Which's next beat or bar not yet mixed; -1 while it is silent.
    [[nodiscard]] int64_t NextGridPoint(Track Which, Quantize When);
    // Whether the track sounds (playing, or fading out but not silent yet). Mixer lock held.
    [[nodiscard]] bool Sounds(const TrackState& State) const;
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

    const uint32_t FPlayerNumber = music::NewPlayerNumber();  // names it in messages
    int32_t FBlockFrames;
    std::unique_ptr<TVorbisFileDLL> FDecoder;  // this player's binding; outlives the streams
    std::unique_ptr<TOggPlayer> FMixer;
    // Events from the device's thread to the game's, and the game's side of them.
    music::shared::EventRing FEvents{music::shared::kEventCapacity};
    music::EventInbox FInbox{FEvents};
    double FMasterVolume = 1.0;
    std::map<uint32_t, TrackState> FTracks;
    std::function<void(const MusicEvent&)> FCallback;
    bool FDeviceLost = false;  // as last reported by Poll
    uint64_t FSeenLosses = 0;  // device losses when Poll last looked

    std::map<uint32_t, GroupState> FGroups;
    // Game thread: stream states swapped out under the mixer's lock, freed after it.
    MixerGuard::SpentStates FSpent;
    music::Schedule FSchedule;        // mixer lock
    music::HeldPositions FPositions;  // mixer lock: the prepared positions of scheduled jumps
    std::vector<Request> FRequests;   // mixer lock: requests with changes still to apply
    uint32_t FNextRequest = 1;
    uint32_t FRequestId = 0;     // the request whose changes are being scheduled
    uint64_t FRefusedCalls = 0;  // calls refused for want of room

    // Mixer lock: which track each slot plays; read by the device thread.
    std::array<TrackState*, kSlotCount> FSlotTrack{};
    // Output frames mixed: written by the device thread under the mixer's lock (with release,
    // after the pull's tracks are published), read anywhere (with acquire: a read-out that
    // sees a pull's frames sees its tracks as that pull left them).
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
