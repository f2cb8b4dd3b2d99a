// SetReader.cpp: the set as a whole, the diagnostics and typed reads of values, the tracks (with
// their files loaded), the parameters and the curves that follow them.
#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <limits>
#include <sstream>

#include "music/set/SetReader_Internal.h"

namespace oggmix::music {
namespace {

constexpr double kMaxBpm = 10000.0;
constexpr int64_t kMaxBeatsPerBar = 64;
constexpr int64_t kNoMax = std::numeric_limits<int64_t>::max();

std::string ListOf(std::initializer_list<std::string_view> words) {
    std::string list;
    for (const std::string_view word : words) {
        if (!list.empty()) list += ", ";
        list += word;
    }
    return list;
}

}  // namespace

std::string Child(const std::string& Path, std::string_view Key) {
    return Path.empty() ? std::string(Key) : Path + "." + std::string(Key);
}

std::string Child(const std::string& Path, Json::ArrayIndex Index) {
    return Path + "[" + std::to_string(Index) + "]";
}

std::string Quoted(const std::string& Text) { return "\"" + Text + "\""; }

std::string TypeName(const Json::Value& value) {
    switch (value.type()) {
        case Json::nullValue: return "null";
        case Json::intValue:
        case Json::uintValue:
        case Json::realValue: return "a number";
        case Json::stringValue: return "a string";
        case Json::booleanValue: return "a boolean";
        case Json::arrayValue: return "an array";
        case Json::objectValue: return "an object";
    }
    return "a value";
}

bool IsNumber(const Json::Value& value) {
    return value.type() == Json::intValue || value.type() == Json::uintValue ||
           value.type() == Json::realValue;
}

std::string Shown(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

SetReader::SetReader(std::string_view Json, const std::string& Name, const std::string& BaseFolder,
                     const TrackProbe& Probe)
    : FSource(Json, Name), FBaseFolder(BaseFolder), FProbe(Probe) {
    FSet.Path = Name;
}

MusicSet SetReader::Read() {
    std::optional<Json::Value> root = FSource.Parse();
    if (!root) throw MusicSetError({FSource.ParseError()});
    FRoot = std::move(*root);
    if (ObjectOf(FRoot, "",
                 {"tracks", "parameters", "states", "transitions", "stingers", "initial_state"})) {
        // The order matters: each part names what the parts before it defined.
        if (const Json::Value* tracks = Required(FRoot, "", "tracks")) ReadTracks(*tracks);
        if (const Json::Value* parameters = Optional(FRoot, "parameters"))
            ReadParameters(*parameters);
        if (const Json::Value* states = Required(FRoot, "", "states")) ReadStates(*states);
        if (const Json::Value* transitions = Optional(FRoot, "transitions"))
            ReadTransitions(*transitions);
        if (const Json::Value* stingers = Optional(FRoot, "stingers")) ReadStingers(*stingers);
        if (const Json::Value* initial = Optional(FRoot, "initial_state"))
            ReadInitialState(*initial);
        if (FProblems.empty()) CheckBridgeCycles();
    }
    if (FProblems.empty()) return std::move(FSet);
    std::stable_sort(FProblems.begin(), FProblems.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> problems;
    for (auto& problem : FProblems) problems.push_back(std::move(problem.second));
    throw MusicSetError(std::move(problems));
}

// ---- Diagnostics and typed values ----

void SetReader::Fail(const Json::Value& At, const std::string& Path, const std::string& Message) {
    FailAt(At.getOffsetStart(), Path, Message);
}

void SetReader::FailAt(std::ptrdiff_t Offset, const std::string& Path, const std::string& Message) {
    FProblems.emplace_back(
        Offset, FSource.WhereOffset(Offset) + ": " + (Path.empty() ? "" : Path + ": ") + Message);
}

bool SetReader::IsObject(const Json::Value& Value, const std::string& Path) {
    if (!Value.isObject()) Fail(Value, Path, "expects an object, not " + TypeName(Value));
    return Value.isObject();
}

bool SetReader::ObjectOf(const Json::Value& Value, const std::string& Path,
                         std::initializer_list<std::string_view> Allowed) {
    if (!IsObject(Value, Path)) return false;
    for (const std::string& key : JsonSource::KeysInOrder(Value)) {
        if (std::find(Allowed.begin(), Allowed.end(), key) == Allowed.end())
            FailAt(FSource.KeyOffset(Value[key], key), Child(Path, key),
                   "unknown key " + Quoted(key) + " (known: " + ListOf(Allowed) + ")");
    }
    return true;
}

const Json::Value* SetReader::Required(const Json::Value& Object, const std::string& Path,
                                       const char* Key) {
    if (const Json::Value* member = Optional(Object, Key)) return member;
    Fail(Object, Path, "no " + Quoted(Key));
    return nullptr;
}

const Json::Value* SetReader::Optional(const Json::Value& Object, const char* Key) {
    return Object.isObject() ? Object.find(Key, Key + std::char_traits<char>::length(Key))
                             : nullptr;
}

std::optional<double> SetReader::Number(const Json::Value& Value, const std::string& Path,
                                        Range Within) {
    if (!IsNumber(Value)) {
        Fail(Value, Path, "expects a number, not " + TypeName(Value));
        return std::nullopt;
    }
    const double number = Value.asDouble();
    if (!(number >= Within.Min && number <= Within.Max)) {
        Fail(Value, Path,
             "expects a number from " + Shown(Within.Min) + " to " + Shown(Within.Max) + ", not " +
                 Shown(number));
        return std::nullopt;
    }
    return number;
}

std::optional<int64_t> SetReader::Integer(const Json::Value& Value, const std::string& Path,
                                          int64_t Min, int64_t Max) {
    if (!IsNumber(Value) || !Value.isInt64()) {
        Fail(Value, Path,
             "expects a whole number, not " +
                 (IsNumber(Value) ? Shown(Value.asDouble()) : TypeName(Value)));
        return std::nullopt;
    }
    const int64_t number = Value.asInt64();
    if (number < Min || number > Max) {
        Fail(Value, Path,
             "expects a whole number " +
                 (Max == kNoMax ? std::to_string(Min) + " or more"
                                : "from " + std::to_string(Min) + " to " + std::to_string(Max)) +
                 ", not " + std::to_string(number));
        return std::nullopt;
    }
    return number;
}

std::optional<std::string> SetReader::Text(const Json::Value& Value, const std::string& Path) {
    if (!Value.isString()) {
        Fail(Value, Path, "expects a string, not " + TypeName(Value));
        return std::nullopt;
    }
    return Value.asString();
}

std::optional<size_t> SetReader::Choice(const Json::Value& Value, const std::string& Path,
                                        std::initializer_list<std::string_view> Choices) {
    const std::optional<std::string> text = Text(Value, Path);
    if (!text) return std::nullopt;
    const auto found = std::find(Choices.begin(), Choices.end(), *text);
    if (found == Choices.end()) {
        Fail(Value, Path, "expects one of " + ListOf(Choices) + ", not " + Quoted(*text));
        return std::nullopt;
    }
    return static_cast<size_t>(found - Choices.begin());
}

bool SetReader::Names(const Json::Value& Value, const std::string& Path, const std::string& Name,
                      const char* Kind, bool Exists) {
    if (!Exists) Fail(Value, Path, std::string("no ") + Kind + " " + Quoted(Name));
    return Exists;
}

std::optional<std::string> SetReader::TrackName(const Json::Value& Value, const std::string& Path) {
    const std::optional<std::string> name = Text(Value, Path);
    if (!name || !Names(Value, Path, *name, "track", FSet.FindTrack(*name) != nullptr))
        return std::nullopt;
    return name;
}

bool SetReader::Loaded(const std::string& Track) const {
    return FSet.FindTrack(Track) != nullptr && !FUnloaded.contains(Track);
}

// ---- Tracks ----

void SetReader::ReadTracks(const Json::Value& Tracks) {
    if (!IsObject(Tracks, "tracks")) return;
    for (const std::string& name : JsonSource::KeysInOrder(Tracks)) {
        SetTrack track;
        track.Name = name;
        ReadTrack(Tracks[name], Child("tracks", name), track);
        FSet.Tracks.push_back(std::move(track));
    }
}

void SetReader::ReadTrack(const Json::Value& Value, const std::string& Path, SetTrack& Track) {
    FUnloaded.insert(Track.Name);  // until its file has loaded
    if (!ObjectOf(Value, Path, {"file", "tempo", "markers"})) return;

    std::optional<TrackFacts> facts;
    if (const Json::Value* file = Required(Value, Path, "file")) {
        if (const std::optional<std::string> name = Text(*file, Child(Path, "file"))) {
            Track.Path =
                FBaseFolder.empty() ? *name : (std::filesystem::path(FBaseFolder) / *name).string();
            try {
                facts = FProbe(Track.Path);
                FUnloaded.erase(Track.Name);
            } catch (const std::exception& e) {
                Fail(*file, Child(Path, "file"), "cannot load " + Quoted(*name) + ": " + e.what());
            }
        }
    }
    if (facts) {
        Track.RateHz = facts->RateHz;
        Track.LengthFrames = facts->LengthFrames;
        Track.Grid = facts->TagTempo;
    }
    if (const Json::Value* tempo = Optional(Value, "tempo")) {
        if (const std::optional<Tempo> grid = ReadTempo(*tempo, Child(Path, "tempo")))
            Track.Grid = *grid;
    }
    const Json::Value* markers = Optional(Value, "markers");
    if (markers == nullptr) return;
    const std::string markersPath = Child(Path, "markers");
    if (!IsObject(*markers, markersPath)) return;
    for (const std::string& name : JsonSource::KeysInOrder(*markers)) {
        const Json::Value& at = (*markers)[name];
        const std::optional<int64_t> frame = Integer(at, Child(markersPath, name), 0, kNoMax);
        if (!frame) continue;
        if (facts && *frame >= facts->LengthFrames) {
            Fail(at, Child(markersPath, name),
                 "frame " + std::to_string(*frame) + " is beyond the track's end (" +
                     std::to_string(facts->LengthFrames) + " frames)");
            continue;
        }
        Track.Markers.push_back({name, *frame});
    }
    std::stable_sort(Track.Markers.begin(), Track.Markers.end(),
                     [](const SetMarker& a, const SetMarker& b) { return a.Frame < b.Frame; });
}

std::optional<Tempo> SetReader::ReadTempo(const Json::Value& Value, const std::string& Path) {
    if (!ObjectOf(Value, Path, {"bpm", "beats_per_bar", "first_beat"})) return std::nullopt;
    Tempo tempo;
    bool good = false;
    if (const Json::Value* bpm = Required(Value, Path, "bpm")) {
        // Number's range includes its ends; a tempo's does not.
        const std::optional<double> number = Number(*bpm, Child(Path, "bpm"), {0.0, kMaxBpm});
        good = number && *number > 0.0 && *number < kMaxBpm;
        if (number && !good)
            Fail(*bpm, Child(Path, "bpm"), "expects a tempo above 0 and below 10000");
        if (good) tempo.Bpm = *number;
    }
    if (const Json::Value* beats = Optional(Value, "beats_per_bar")) {
        const auto number = Integer(*beats, Child(Path, "beats_per_bar"), 1, kMaxBeatsPerBar);
        good = good && number;
        if (number) tempo.BeatsPerBar = static_cast<int32_t>(*number);
    }
    if (const Json::Value* first = Optional(Value, "first_beat")) {
        const auto number = Integer(*first, Child(Path, "first_beat"), 0, kNoMax);
        good = good && number;
        if (number) tempo.FirstBeatFrame = *number;
    }
    return good ? std::optional<Tempo>(tempo) : std::nullopt;
}

// ---- Parameters and curves ----

void SetReader::ReadParameters(const Json::Value& Parameters) {
    if (!IsObject(Parameters, "parameters")) return;
    constexpr Range kAny{-1e9, 1e9};
    for (const std::string& name : JsonSource::KeysInOrder(Parameters)) {
        const Json::Value& value = Parameters[name];
        const std::string path = Child("parameters", name);
        SetParameter parameter;
        parameter.Name = name;
        FSet.Parameters.push_back(parameter);  // named, even when its values are wrong
        if (!ObjectOf(value, path, {"min", "max", "default"})) continue;
        const Json::Value* min = Optional(value, "min");
        const Json::Value* max = Optional(value, "max");
        const Json::Value* def = Optional(value, "default");
        const auto minimum = min ? Number(*min, Child(path, "min"), kAny) : std::optional(0.0);
        const auto maximum = max ? Number(*max, Child(path, "max"), kAny) : std::optional(1.0);
        if (!minimum || !maximum) continue;
        if (*minimum >= *maximum) {
            Fail(max ? *max : value, max ? Child(path, "max") : path,
                 "the maximum " + Shown(*maximum) + " is not above the minimum " + Shown(*minimum));
            continue;
        }
        parameter.Min = *minimum;
        parameter.Max = *maximum;
        parameter.Default = *minimum;
        if (def) {
            const auto fallback = Number(*def, Child(path, "default"), {*minimum, *maximum});
            if (!fallback) continue;
            parameter.Default = *fallback;
        }
        FSet.Parameters.back() = parameter;
    }
}

std::optional<ParameterCurve> SetReader::ReadCurve(const Json::Value& Value,
                                                   const std::string& Path, Range Results) {
    if (!ObjectOf(Value, Path, {"parameter", "curve"})) return std::nullopt;
    ParameterCurve curve;
    bool good = true;
    if (const Json::Value* parameter = Required(Value, Path, "parameter")) {
        const std::string path = Child(Path, "parameter");
        const std::optional<std::string> name = Text(*parameter, path);
        good = name &&
               Names(*parameter, path, *name, "parameter", FSet.FindParameter(*name) != nullptr);
        if (good) curve.Parameter = *name;
    } else {
        good = false;
    }
    const Json::Value* points = Required(Value, Path, "curve");
    if (points == nullptr) return std::nullopt;
    const std::string pointsPath = Child(Path, "curve");
    if (!points->isArray() || points->empty()) {
        Fail(*points, pointsPath, "expects an array of [parameter value, result] points");
        return std::nullopt;
    }
    for (Json::ArrayIndex i = 0; i < points->size(); ++i) {
        const Json::Value& point = (*points)[i];
        const std::string path = Child(pointsPath, i);
        if (!point.isArray() || point.size() != 2) {
            Fail(point, path, "expects a point [parameter value, result]");
            good = false;
            continue;
        }
        const auto x = Number(point[0], Child(path, 0), {-1e9, 1e9});
        const auto y = Number(point[1], Child(path, 1), Results);
        if (!x || !y) {
            good = false;
            continue;
        }
        if (!curve.Points.empty() && *x <= curve.Points.back().first) {
            Fail(point[0], Child(path, 0),
                 "the points' parameter values must rise: " + Shown(*x) + " follows " +
                     Shown(curve.Points.back().first));
            good = false;
            continue;
        }
        curve.Points.emplace_back(*x, *y);
    }
    return good ? std::optional(curve) : std::nullopt;
}

std::optional<SetControl> SetReader::ReadControl(const Json::Value& Value, const std::string& Path,
                                                 Range Results) {
    if (Value.isObject()) {
        std::optional<ParameterCurve> curve = ReadCurve(Value, Path, Results);
        if (!curve) return std::nullopt;
        return SetControl{0.0, std::move(curve)};
    }
    if (!IsNumber(Value)) {
        Fail(Value, Path, "expects a number or a parameter curve, not " + TypeName(Value));
        return std::nullopt;
    }
    const std::optional<double> number = Number(Value, Path, Results);
    if (!number) return std::nullopt;
    return SetControl{*number, std::nullopt};
}

// ---- The entry points ----

MusicSet ReadSet(std::string_view Json, const std::string& Name, const std::string& BaseFolder,
                 const TrackProbe& Probe) {
    return SetReader(Json, Name, BaseFolder, Probe).Read();
}

}  // namespace oggmix::music
