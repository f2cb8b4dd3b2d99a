#pragma once
// oggmix/MusicSetPlayer.h: a music set played by a game player. The game names states and
// moves parameters; the set's rules decide on which frame, with which fade and through which
// bridge the music follows. Everything lands on the player's one timeline: each call returns
// the output frame where it is heard, and the set's tracks are ordinary tracks of the player
// (TrackOf), so the rest of its interface works on them.
//
// Threads: the player's game thread. Memory: allocates.
// Errors:  an unknown name, a value out of range or a rule the player refuses throws
//          MusicError (InvalidArgument); a rule through a state, an entry at a marker, or a
//          change on a marker of a state not begun at its start, Unsupported.
// Units:   output frames at 44100 Hz; seconds as double; volumes as linear gain 0 .. 2.
// This header needs only the standard library.

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "oggmix/MusicPlayer.h"
#include "oggmix/MusicSet.h"

namespace oggmix {
namespace set {
class LayerLoop;
class PlaylistRun;
}  // namespace set

// The state heard (empty before the first) and the change waiting for its frame, if any.
struct SetStateNow {
    std::string Current;
    std::string Pending;        // empty: nothing waits
    int64_t PendingFrame = -1;  // where Pending lands
};

enum class SetEventKind {
    StateChanged,      // From -> To on Frame (From empty: the music started)
    Ducked,            // the rest of the set goes to Db under the stinger Name (0: back up)
    PlaylistAdvanced,  // the playlist state Name begins its Item on Frame
};

struct SetEvent {
    SetEventKind Kind = SetEventKind::StateChanged;
    std::string From;  // StateChanged
    std::string To;    // StateChanged
    int64_t Frame = 0;
    std::string Name;  // Ducked: the stinger; PlaylistAdvanced: the state
    std::string Item;  // PlaylistAdvanced: the track begun
    double Db = 0.0;   // Ducked
};

class MusicSetPlayer {
public:
    // Loads the set's tracks into Player (which must outlive this) and gives them the set's
    // tempos, volumes and pans; nothing plays until SetState (Set().InitialState, if any).
    MusicSetPlayer(MusicPlayer& Player, MusicSet Set);
    ~MusicSetPlayer();  // unloads the set's tracks
    MusicSetPlayer(const MusicSetPlayer&) = delete;
    MusicSetPlayer& operator=(const MusicSetPlayer&) = delete;

    // Moves to the state by the set's rule from the state heard, and returns the frame on
    // which the change lands. With nothing of the set playing it starts at once from its
    // start. A request while a change still waits replaces it: the latest wins (asking for
    // the state heard withdraws the waiting change).
    int64_t SetState(const std::string& Name);
    [[nodiscard]] SetStateNow State() const;

    // Moves a parameter (clamped to its range) over Seconds; every volume and pan following
    // it ramps to the curve's value over the same time. Returns the frame it starts on.
    int64_t SetParameter(const std::string& Name, double Value, double Seconds = 0.0);
    [[nodiscard]] double Parameter(const std::string& Name) const;

    // Plays the stinger on the grid of the state heard; -1 when refused within its cooldown.
    int64_t TriggerStinger(const std::string& Name);

    // The seed of the playlists' shuffled and random orders, for an order that repeats; by
    // default the clock's.
    void SetPlaylistSeed(uint64_t Seed);

    // What happened in the music since the last call, each change told once its frame is
    // mixed; call it as the music plays (beside the player's Poll).
    std::vector<SetEvent> Update();

    // The player's handle of a track of the set, or of a state (a group of layers).
    [[nodiscard]] Track TrackOf(const std::string& Name) const;
    [[nodiscard]] Track StateTrack(const std::string& State) const;
    [[nodiscard]] const MusicSet& Set() const noexcept { return FSet; }

private:
    // A state's track to begin with (a playlist picks its first item), whether it loops, and
    // the work of its loops and playlist as it begins, is left (on Frame; -1: withdrawn) or
    // is asked for again while being left.
    [[nodiscard]] Track Entering(const std::string& State);
    [[nodiscard]] bool Loops(const std::string& State) const;
    void Began(const std::string& State, int64_t Frame, bool FromStart);
    void Leaving(const std::string& State, int64_t Frame);
    void Staying(const std::string& State);
    void ApplyControls(const std::string& Parameter, double Seconds);
    // The handles a layer plays on: the set's track, and a looping layer's second handle.
    [[nodiscard]] std::vector<Track> HandlesOf(const std::string& State,
                                               const std::string& Layer) const;
    // Every loop of a state's layers; none for most.
    void ForLoops(const std::string& State, const auto& Call);
    // A stinger sounding from Start lowers the rest of the set; FollowDucking, as the music
    // plays, ramps it down as a stinger starts and back up after the last one ends.
    void Duck(const SetStinger& Stinger, int64_t Start);
    void FollowDucking();
    // The change to a state by Rule, asked of the player now.
    int64_t Change(const std::string& Name, const SetTransition* Rule);
    // The output frame of the next marker When names in the state heard.
    [[nodiscard]] int64_t NextMarker(const std::string& State, const SetWhen& When) const;
    [[nodiscard]] static int64_t OutputFrames(const SetTrack& Source);
    [[nodiscard]] TransitionOptions OptionsFor(const SetTransition* Rule, Track From) const;

    MusicPlayer& FPlayer;
    MusicSet FSet;
    std::map<std::string, Track> FTracks;
    std::map<std::string, Track> FStates;
    std::map<std::string, double> FParameters;
    // A state's layers with loop_bars, by the layer's track.
    std::map<std::string, std::map<std::string, std::unique_ptr<set::LayerLoop>>> FLoops;
    std::map<std::string, std::unique_ptr<set::PlaylistRun>> FPlaylists;
    std::mt19937_64 FRandom;
    std::map<uint32_t, double> FVolumes;  // a track's volume by the set, before ducking
    std::vector<Track> FDucked;           // every track but the stingers'
    struct StingerSound {
        const SetStinger* Stinger;
        int64_t Start;
        int64_t End;
    };
    std::vector<StingerSound> FSounding;
    std::map<std::string, int64_t> FStingerStarts;  // stingers played off the grid
    double FDuckDb = 0.0;
    double FDuckGain = 1.0;
    double FDuckRelease = 0.0;
    std::string FDuckName;
    std::map<std::string, int64_t> FStartedAt;   // a state begun at its start, on this frame
    std::map<std::string, std::string> FLeadOf;  // a layered state's lead track
    bool FDeferred = false;                      // FNow.Pending waits for its marker
    SetStateNow FNow;
    std::vector<SetEvent> FTold;  // made by calls, handed out by the next Update
};

}  // namespace oggmix
