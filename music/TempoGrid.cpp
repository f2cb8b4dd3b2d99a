// TempoGrid.cpp: beat frames in 128-bit integers, and tempo texts.
#include "music/TempoGrid.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

namespace oggmix::music {
namespace {

using Wide = __int128;

constexpr int64_t kMaxBpmMicro = 10'000 * kMicroBeatsPerBeat;

// Floor of a / b for b > 0, either sign of a.
Wide FloorDiv(Wide a, Wide b) noexcept {
    const Wide q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

int64_t FloorDiv64(int64_t a, int64_t b) noexcept { return static_cast<int64_t>(FloorDiv(a, b)); }

}  // namespace

int64_t TempoGrid::BeatFrame(int64_t Index) const noexcept {
    // Index * 60 * Rate / Bpm = Index * 60 * Rate * 10^6 / BpmMicro, rounded half up:
    // floor((2 * num + den) / (2 * den)).
    const Wide num = Wide{Index} * 60 * RateHz * kMicroBeatsPerBeat;
    const Wide den = BpmMicro;
    return FirstBeatFrame + static_cast<int64_t>(FloorDiv(2 * num + den, 2 * den));
}

int64_t TempoGrid::BeatAtOrAfter(int64_t Frame) const noexcept {
    // An estimate from the exact ratio, then the rounding settled by looking.
    const Wide offset = Wide{Frame} - FirstBeatFrame;
    int64_t index =
        static_cast<int64_t>(FloorDiv(offset * BpmMicro, Wide{60} * RateHz * kMicroBeatsPerBeat));
    while (BeatFrame(index) >= Frame) --index;
    while (BeatFrame(index) < Frame) ++index;
    return index;
}

int64_t TempoGrid::BarBeatAtOrAfter(int64_t Frame, int32_t Bars) const noexcept {
    const int64_t step = int64_t{BeatsPerBar} * (Bars < 1 ? 1 : Bars);
    const int64_t beat = BeatAtOrAfter(Frame);
    return FloorDiv64(beat + step - 1, step) * step;
}

int64_t TempoGrid::BarOf(int64_t Index) const noexcept { return FloorDiv64(Index, BeatsPerBar); }

int32_t TempoGrid::BeatInBar(int64_t Index) const noexcept {
    return static_cast<int32_t>(Index - BarOf(Index) * BeatsPerBar);
}

double TempoGrid::FramesPerBeat() const noexcept {
    return 60.0 * RateHz * static_cast<double>(kMicroBeatsPerBeat) / static_cast<double>(BpmMicro);
}

std::optional<int64_t> ParseBpm(std::string_view Text) noexcept {
    while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
    while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t')) Text.remove_suffix(1);
    int64_t whole = 0;
    int64_t micro = 0;
    int digits = 0;
    int decimals = -1;  // -1: no point yet
    bool roundUp = false;
    for (const char c : Text) {
        if (c == '.' && decimals < 0) {
            decimals = 0;
            continue;
        }
        if (c < '0' || c > '9') return std::nullopt;
        if (decimals < 0) {
            whole = whole * 10 + (c - '0');
            if (whole >= 10'000) return std::nullopt;
        } else if (++decimals <= 6) {
            micro = micro * 10 + (c - '0');
        } else if (decimals == 7) {
            roundUp = c >= '5';  // the digits after the seventh cannot change the rounding
        }
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    for (int d = decimals < 0 ? 0 : decimals; d < 6; ++d) micro *= 10;
    const int64_t value = whole * kMicroBeatsPerBeat + micro + (roundUp ? 1 : 0);
    if (value <= 0 || value >= kMaxBpmMicro) return std::nullopt;
    return value;
}

std::optional<int64_t> BpmToMicro(double Bpm) noexcept {
    if (!(Bpm > 0.0 && Bpm < 10'000.0)) return std::nullopt;
    const int64_t value = std::llround(Bpm * kMicroBeatsPerBeat);
    if (value <= 0) return std::nullopt;
    return value;
}

namespace {

// A tag's text as a message quotes it: shortened, since a tag may be of any length.
std::string Quoted(std::string_view Text) {
    constexpr size_t kShown = 32;
    return "\"" + std::string(Text.substr(0, kShown)) + (Text.size() > kShown ? "...\"" : "\"");
}

// A whole number from Min to Max, all of the text.
std::optional<int64_t> WholeNumber(std::string_view Text, int64_t Min, int64_t Max) {
    const std::string text(Text);
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || errno == ERANGE || value < Min || value > Max)
        return std::nullopt;
    return value;
}

}  // namespace

TagTempo ReadTempoTags(std::string_view Bpm, std::string_view BeatsPerBar,
                       std::string_view FirstBeat, int32_t RateHz) {
    TagTempo tempo;
    tempo.Grid.RateHz = RateHz;
    const auto refuse = [&](const char* tag, std::string_view text, const std::string& wanted) {
        if (!tempo.Problem.empty()) tempo.Problem += "; ";
        tempo.Problem += std::string("the ") + tag + " tag " + Quoted(text) + " is not " + wanted;
    };
    if (!Bpm.empty()) {
        if (const auto bpm = ParseBpm(Bpm))
            tempo.Grid.BpmMicro = *bpm;
        else
            refuse("BPM", Bpm, "a number of beats per minute above 0 and below 10000");
    }
    if (!BeatsPerBar.empty()) {
        if (const auto beats = WholeNumber(BeatsPerBar, 1, 64))
            tempo.Grid.BeatsPerBar = static_cast<int32_t>(*beats);
        else
            refuse("BEATSPERBAR", BeatsPerBar, "a whole number from 1 to 64");
    }
    if (!FirstBeat.empty()) {
        if (const auto frame = WholeNumber(FirstBeat, 0, kFarthestFrame))
            tempo.Grid.FirstBeatFrame = *frame;
        else
            refuse("FIRSTBEAT", FirstBeat,
                   "a sample number from 0 to " + std::to_string(kFarthestFrame));
    }
    return tempo;
}

}  // namespace oggmix::music
