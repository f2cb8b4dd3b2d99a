#pragma once
// oggmix/MusicSet.h: a music set, as a composer writes it in a JSON file: the tracks, the
// game's parameters, the states the game asks for (one track, a group of layers or a
// playlist), the rules of the changes between states, the stingers and the state to start in.
// LoadSet reads the file and checks it whole, the files of its tracks loaded, before anything
// plays; what it returns is a plain description that names everything by its name.
//
// Threads: any; a MusicSet is a value. Memory: allocates.
// Errors:  a set that does not read or check throws MusicSetError with every problem found,
//          each "FILE:LINE:COLUMN: JSON.PATH: what is wrong"; a set file that cannot be read
//          throws MusicError (FileNotFound, ReadFailed).
// Units:   frames are source frames at the track's own rate; seconds as double; volumes 1.0 =
//          as recorded (0 .. 2); pan -1 left .. +1 right.
// This header needs only the standard library.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "oggmix/MusicPlayer.h"

namespace oggmix {

// A value that follows a parameter: piecewise linear between the points, constant beyond the
// first and the last.
struct ParameterCurve {
    std::string Parameter;
    std::vector<std::pair<double, double>> Points;  // (parameter value, result), values rising
    [[nodiscard]] double At(double Value) const noexcept;
};

// A number fixed in the set, or driven by a parameter through a curve.
struct SetControl {
    double Value = 0.0;
    std::optional<ParameterCurve> Curve;  // when present, Value is unused
};

struct SetMarker {
    std::string Name;
    int64_t Frame = 0;
};

struct SetTrack {
    std::string Name;
    std::string Path;                // the set's folder joined with the file's name
    Tempo Grid;                      // the set's "tempo", else the file's tags; Bpm 0: none
    std::vector<SetMarker> Markers;  // by frame
    // What the file holds.
    int32_t RateHz = 0;
    int64_t LengthFrames = 0;
};

struct SetParameter {
    std::string Name;
    double Min = 0.0;
    double Max = 1.0;
    double Default = 0.0;
};

// A tone-filter preset; Mix (0 .. 1) blends it in by a parameter, absent: the preset whole.
struct SetToneFilter {
    ToneFilter Preset = ToneFilter::Off;
    std::optional<ParameterCurve> Mix;
};

struct SetLayer {
    std::string Track;
    int32_t LoopBars = 0;  // restarts on every LoopBars-th bar line; 0: as long as the group
    SetControl Volume{1.0, {}};
    SetControl Pan{0.0, {}};
    SetToneFilter Filter;
    int32_t StartBar = 0;  // joins on this bar of the group
};

enum class PlaylistOrder { Sequence, Shuffle, Random };

struct SetPlaylist {
    std::vector<std::string> Items;  // track names
    PlaylistOrder Order = PlaylistOrder::Sequence;
    std::vector<double> Weights;  // Random: one per item; empty: all alike
    bool JoinOnBar = false;       // false: each item starts on the frame the last one ends
};

struct SetState {
    enum class Kind { Track, Layers, Playlist };
    std::string Name;
    Kind Plays = Kind::Track;
    std::string Track;             // Kind::Track
    std::vector<SetLayer> Layers;  // Kind::Layers; the first gives the group's grid and length
    SetPlaylist Playlist;          // Kind::Playlist
};

// Where a change lands, on the source's grid: Quantize's points, or the source's next marker
// (any, or the one named Marker).
struct SetWhen {
    enum class Kind { Now, Beat, Bar, Bars, LoopEnd, End, Marker, NamedMarker };
    Kind Point = Kind::Bar;
    int32_t Bars = 1;  // Kind::Bars
    std::string Marker;
};

// Where the destination starts.
struct SetEntry {
    enum class Kind { Start, Same, SameBeat, Cue, Marker };
    Kind At = Kind::Start;
    int32_t CueIndex = 0;  // Kind::Cue
    std::string Marker;    // Kind::Marker
};

inline constexpr const char* kAnyState = "*";

struct SetTransition {
    std::string From;  // a state, or kAnyState
    std::string To;    // a state, or kAnyState
    SetWhen When;
    TransitionOptions::Fade FadeKind = TransitionOptions::Fade::None;
    FadeLength Length;
    FadeShape Shape = FadeShape::Linear;
    SetEntry Entry;
    // Passed through on the way, one or the other: a bridge track played once, or a state
    // whose own rule to the destination then applies.
    std::string ViaTrack;
    std::string ViaState;
};

struct SetStinger {
    std::string Name;
    std::string Track;
    Quantize When = Quantize::Beat;  // Now, Beat or Bar of the state playing
    double PickupSec = 0.0;          // the stinger's sound before its downbeat
    double DuckDb = 0.0;             // the rest of the set while it sounds, 0 or below
    double DuckAttackSec = 0.02;
    double DuckReleaseSec = 0.3;
    double CooldownSec = 0.0;
};

struct MusicSet {
    std::string Path;  // the set file, as given
    // Each in the order of the file.
    std::vector<SetTrack> Tracks;
    std::vector<SetParameter> Parameters;
    std::vector<SetState> States;
    std::vector<SetTransition> Transitions;
    std::vector<SetStinger> Stingers;
    std::string InitialState;  // empty: none; the game's first SetState starts the music

    [[nodiscard]] const SetTrack* FindTrack(const std::string& Name) const noexcept;
    [[nodiscard]] const SetParameter* FindParameter(const std::string& Name) const noexcept;
    [[nodiscard]] const SetState* FindState(const std::string& Name) const noexcept;
    [[nodiscard]] const SetStinger* FindStinger(const std::string& Name) const noexcept;
    // The rule of a change from one state to another: the most specific match (exact from and
    // to, then exact from to any, then any to exact to, then any to any), among equals the last
    // in the file. Null: no rule (a cut on the next bar, or at once without a tempo).
    [[nodiscard]] const SetTransition* RuleFor(const std::string& From,
                                               const std::string& To) const noexcept;
};

class MusicSetError : public MusicError {
public:
    explicit MusicSetError(std::vector<std::string> Problems);
    // Every problem found, in the order of the file.
    [[nodiscard]] const std::vector<std::string>& Problems() const noexcept { return FProblems; }

private:
    std::vector<std::string> FProblems;
};

// Reads and checks the set file at Path; its tracks' files are relative to its folder.
[[nodiscard]] MusicSet LoadSet(const std::string& Path);
// The same from the file's bytes: Name is what the messages call it, BaseFolder where its
// tracks' files are.
[[nodiscard]] MusicSet LoadSet(std::span<const std::byte> Json, const std::string& Name,
                               const std::string& BaseFolder);

}  // namespace oggmix
