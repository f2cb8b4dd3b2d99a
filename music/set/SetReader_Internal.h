#pragma once
// SetReader_Internal.h: the reader shared by SetReader's facet files: the diagnostics (a
// problem at a value, with its JSON path), typed reads of values, and the parts of the set.
// SetReader.cpp: diagnostics, typed values, tracks, parameters, curves and the whole;
// SetReader_States.cpp: states, layers and playlists; SetReader_Rules.cpp: transitions,
// stingers, the initial state and cycles of bridges.

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "music/set/JsonSource.h"
#include "music/set/SetReader.h"

namespace oggmix::music {

// "states.combat" + "layers" = "states.combat.layers"; + index 1 = "states.combat.layers[1]".
[[nodiscard]] std::string Child(const std::string& Path, std::string_view Key);
[[nodiscard]] std::string Child(const std::string& Path, Json::ArrayIndex Index);
// For messages: text in double quotes; "a string", "an object"; a number as written.
[[nodiscard]] std::string Quoted(const std::string& Text);
[[nodiscard]] std::string TypeName(const Json::Value& Value);
[[nodiscard]] std::string Shown(double Value);
[[nodiscard]] bool IsNumber(const Json::Value& Value);

// The values a number may take, both ends included.
struct Range {
    double Min;
    double Max;
};

class SetReader {
public:
    SetReader(std::string_view Json, const std::string& Name, const std::string& BaseFolder,
              const TrackProbe& Probe);
    [[nodiscard]] MusicSet Read();

private:
    // ---- Diagnostics and typed values (SetReader.cpp) ----
    void Fail(const Json::Value& At, const std::string& Path, const std::string& Message);
    void FailAt(std::ptrdiff_t Offset, const std::string& Path, const std::string& Message);
    // Whether Value is an object (a problem when not).
    bool IsObject(const Json::Value& Value, const std::string& Path);
    // The same, and each key not in Allowed is a problem.
    bool ObjectOf(const Json::Value& Value, const std::string& Path,
                  std::initializer_list<std::string_view> Allowed);
    // A member that must be there: null and a problem "no KEY" at the object when missing.
    const Json::Value* Required(const Json::Value& Object, const std::string& Path,
                                const char* Key);
    [[nodiscard]] static const Json::Value* Optional(const Json::Value& Object, const char* Key);
    std::optional<double> Number(const Json::Value& Value, const std::string& Path, Range Within);
    std::optional<int64_t> Integer(const Json::Value& Value, const std::string& Path, int64_t Min,
                                   int64_t Max);
    std::optional<std::string> Text(const Json::Value& Value, const std::string& Path);
    // One of Choices, by its index.
    std::optional<size_t> Choice(const Json::Value& Value, const std::string& Path,
                                 std::initializer_list<std::string_view> Choices);
    // A name that must be in a part of the set: Kind is "track", "state", "parameter".
    bool Names(const Json::Value& Value, const std::string& Path, const std::string& Name,
               const char* Kind, bool Exists);
    std::optional<std::string> TrackName(const Json::Value& Value, const std::string& Path);

    // ---- Tracks, parameters, curves (SetReader.cpp) ----
    void ReadTracks(const Json::Value& Tracks);
    void ReadTrack(const Json::Value& Value, const std::string& Path, SetTrack& Track);
    std::optional<Tempo> ReadTempo(const Json::Value& Value, const std::string& Path);
    void ReadParameters(const Json::Value& Parameters);
    // { "parameter": NAME, "curve": [[x, y], ...] }, results within Results.
    std::optional<ParameterCurve> ReadCurve(const Json::Value& Value, const std::string& Path,
                                            Range Results);
    // A number within Results, or a curve.
    std::optional<SetControl> ReadControl(const Json::Value& Value, const std::string& Path,
                                          Range Results);
    [[nodiscard]] bool Loaded(const std::string& Track) const;

    // ---- States (SetReader_States.cpp) ----
    void ReadStates(const Json::Value& States);
    void ReadLayers(const Json::Value& Layers, const std::string& Path, SetState& State);
    void CheckLayerFits(const SetLayer& Layer, const SetTrack& Group, const Json::Value& Where,
                        const std::string& Path);
    void ReadPlaylist(const Json::Value& Value, const std::string& Path, SetState& State);
    std::optional<SetToneFilter> ReadToneFilter(const Json::Value& Value, const std::string& Path);

    // ---- Rules, stingers, the initial state (SetReader_Rules.cpp) ----
    void ReadTransitions(const Json::Value& Transitions);
    std::optional<SetWhen> ReadWhen(const Json::Value& Value, const std::string& Path);
    std::optional<SetEntry> ReadEntry(const Json::Value& Value, const std::string& Path);
    void ReadFade(const Json::Value& Rule, const std::string& Path, SetTransition& Transition);
    void ReadVia(const Json::Value& Value, const std::string& Path, SetTransition& Transition);
    // The grid the rule needs of the state (or, for "*", of any state) is there.
    void CheckGridNeeds(const SetTransition& Rule, const Json::Value& Value,
                        const std::string& Path);
    void CheckBridgeCycles();
    void ReadStingers(const Json::Value& Stingers);
    void ReadInitialState(const Json::Value& Value);

    // The tracks whose grid a state plays on: its track, its group's first layer, or each
    // item of its playlist. Only loaded tracks.
    [[nodiscard]] std::vector<const SetTrack*> GridTracks(const std::string& State) const;

    JsonSource FSource;
    Json::Value FRoot;
    std::string FBaseFolder;
    const TrackProbe& FProbe;
    MusicSet FSet;
    std::set<std::string> FUnloaded;  // tracks whose file did not load
    // Each problem with the byte offset of its value, to be told in the order of the file.
    std::vector<std::pair<std::ptrdiff_t, std::string>> FProblems;
    // For each transition, its "via" value (null when it has none), for the cycle check.
    std::vector<const Json::Value*> FViaValues;
};

}  // namespace oggmix::music
