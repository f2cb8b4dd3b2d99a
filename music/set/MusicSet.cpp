// MusicSet.cpp: a set's look-ups, the rule a change follows, curves, and LoadSet.
#include "oggmix/MusicSet.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "music/set/SetReader.h"

namespace oggmix {
namespace {

template <class Part>
const Part* Named(const std::vector<Part>& parts, const std::string& name) noexcept {
    const auto found = std::find_if(parts.begin(), parts.end(),
                                    [&](const Part& part) { return part.Name == name; });
    return found == parts.end() ? nullptr : &*found;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
    return text;
}

}  // namespace

double ParameterCurve::At(double Value) const noexcept {
    if (Points.empty()) return 0.0;
    if (Value <= Points.front().first) return Points.front().second;
    if (Value >= Points.back().first) return Points.back().second;
    const auto above = std::upper_bound(
        Points.begin(), Points.end(), Value,
        [](double value, const std::pair<double, double>& point) { return value < point.first; });
    const auto& [x1, y1] = *above;
    const auto& [x0, y0] = *std::prev(above);
    return y0 + (y1 - y0) * (Value - x0) / (x1 - x0);
}

const SetTrack* MusicSet::FindTrack(const std::string& Name) const noexcept {
    return Named(Tracks, Name);
}
const SetParameter* MusicSet::FindParameter(const std::string& Name) const noexcept {
    return Named(Parameters, Name);
}
const SetState* MusicSet::FindState(const std::string& Name) const noexcept {
    return Named(States, Name);
}
const SetStinger* MusicSet::FindStinger(const std::string& Name) const noexcept {
    return Named(Stingers, Name);
}

const SetTransition* MusicSet::RuleFor(const std::string& From,
                                       const std::string& To) const noexcept {
    // Exact from and to: 3; from exact, to any: 2; any to exact: 1; any to any: 0.
    const SetTransition* chosen = nullptr;
    int chosenRank = -1;
    for (const SetTransition& rule : Transitions) {
        const bool fromExact = rule.From != kAnyState;
        const bool toExact = rule.To != kAnyState;
        if ((fromExact && rule.From != From) || (toExact && rule.To != To)) continue;
        const int rank = (fromExact ? 2 : 0) + (toExact ? 1 : 0);
        if (rank >= chosenRank) {  // among equals the later
            chosen = &rule;
            chosenRank = rank;
        }
    }
    return chosen;
}

MusicSetError::MusicSetError(std::vector<std::string> Problems)
    : MusicError(MusicErrorCode::InvalidArgument, Joined(Problems)),
      FProblems(std::move(Problems)) {}

MusicSet LoadSet(const std::string& Path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(Path, error))
        throw MusicError(MusicErrorCode::FileNotFound, Path + ": no such file");
    std::ifstream in(Path, std::ios::binary);
    const std::string json{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.is_open() || in.bad())
        throw MusicError(MusicErrorCode::ReadFailed, Path + ": cannot be read");
    return music::ReadSet(json, Path, std::filesystem::path(Path).parent_path().string(),
                          music::ProbeTrackFile);
}

MusicSet LoadSet(std::span<const std::byte> Json, const std::string& Name,
                 const std::string& BaseFolder) {
    const std::string_view text(reinterpret_cast<const char*>(Json.data()), Json.size());
    return music::ReadSet(text, Name, BaseFolder, music::ProbeTrackFile);
}

}  // namespace oggmix
