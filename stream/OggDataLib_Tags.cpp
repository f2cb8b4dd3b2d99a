// OggDataLib_Tags.cpp: comment lookup and the loop-tag grammar ("*looptime", "*loopsample",
// and on request LOOPSTART with LOOPLENGTH or LOOPEND).
#include "stream/OggDataLib.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>
#include <system_error>

#include "base/AsciiText.h"

namespace oggmix {
namespace {

constexpr int32_t kDefaultCueIndex = 0;
constexpr float kDefaultCueTime = 0.0f;
constexpr int32_t kDefaultCueCount = -1;  // endless
// Cue frames are kept within about 290 days at 44100 Hz, so that no sum or product of them
// can overflow; such ends are never reached anyway.
constexpr int64_t kMaxCueFrames = int64_t{1} << 40;

bool IsContinuationByte(uint8_t b) noexcept { return (b & 0xC0) == 0x80; }

// The bytes of the UTF-8 sequence that lead byte b starts.
size_t Utf8SequenceBytes(uint8_t b) noexcept { return b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2; }

size_t SkipDigits(std::string_view text, size_t at) noexcept {
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    return at;
}

// from_chars takes a minus but no plus; the grammar allows either, but only one. A plus
// followed by another sign stays, and the grammar below refuses it.
std::string_view WithoutPlus(std::string_view text) noexcept {
    if (text.size() >= 2 && text[0] == '+' && text[1] != '+' && text[1] != '-')
        return text.substr(1);
    return text;
}

// A whole field that is a decimal integer with an optional sign and fits 32 bits.
std::optional<int32_t> ParseInteger(std::string_view field) noexcept {
    const std::string_view digits = WithoutPlus(field);
    const size_t start = !digits.empty() && digits.front() == '-' ? 1 : 0;
    if (start == digits.size() || SkipDigits(digits, start) != digits.size()) return std::nullopt;
    int32_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

// A number field as the cue table keeps it (Single) and as exactly as a double holds it, for
// the frame the cue jumps at.
struct Number {
    float Single = 0.0f;
    double Exact = 0.0;
};

// A whole field that is a decimal number: optional sign, digits with an optional fraction
// ("1", "1.", ".5"), optional exponent. "." is the separator whatever the locale; no hex, no
// infinities. A value beyond the float range is not a float: nullopt. Tiny values also come
// back as nullopt, which is harmless because every number field defaults to 0.
std::optional<Number> ParseNumber(std::string_view field) noexcept {
    const std::string_view number = WithoutPlus(field);
    size_t at = !number.empty() && number.front() == '-' ? 1 : 0;
    const size_t integerEnd = SkipDigits(number, at);
    size_t mantissaDigits = integerEnd - at;
    at = integerEnd;
    if (at < number.size() && number[at] == '.') {
        const size_t fractionEnd = SkipDigits(number, at + 1);
        mantissaDigits += fractionEnd - (at + 1);
        at = fractionEnd;
    }
    if (mantissaDigits == 0) return std::nullopt;
    if (at < number.size() && (number[at] == 'e' || number[at] == 'E')) {
        ++at;
        if (at < number.size() && (number[at] == '+' || number[at] == '-')) ++at;
        const size_t exponentEnd = SkipDigits(number, at);
        if (exponentEnd == at) return std::nullopt;
        at = exponentEnd;
    }
    if (at != number.size()) return std::nullopt;

    // Each type rounds the text itself: a float taken from the double could round twice.
    Number value;
    const char* last = number.data() + number.size();
    const auto [end, error] = std::from_chars(number.data(), last, value.Single);
    if (error != std::errc() || end != last) return std::nullopt;
    std::from_chars(number.data(), last, value.Exact);
    return value;
}

// The nearest frame, halves away from zero, within the range cues are kept in.
int64_t NearestFrame(double frames) noexcept {
    constexpr auto kMax = static_cast<double>(kMaxCueFrames);
    return std::llround(std::clamp(frames, -kMax, kMax));
}

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) noexcept {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// Digits only, at least one, as a whole number that fits 64 bits.
std::optional<int64_t> ParseDigits(std::string_view text) noexcept {
    if (text.empty() || SkipDigits(text, 0) != text.size()) return std::nullopt;
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc()) return std::nullopt;
    return value;
}

// A LOOPSTART, LOOPLENGTH or LOOPEND value in frames at rateHz: a sample number, or a time
// [[HH:]MM:]SS[.fff], which a colon or a point tells apart. nullopt when unreadable.
std::optional<int64_t> ParseLoopPosition(std::string_view text, int32_t rateHz) noexcept {
    text = Trimmed(text);
    if (text.find_first_of(":.") == std::string_view::npos) {
        const std::optional<int64_t> samples = ParseDigits(text);
        if (!samples) return std::nullopt;
        return std::min(*samples, kMaxCueFrames);
    }
    double seconds = 0.0;
    for (int part = 0;; ++part) {
        const size_t colon = text.find(':');
        if (colon == std::string_view::npos) break;
        const std::optional<int64_t> whole = ParseDigits(text.substr(0, colon));
        if (part == 2 || !whole) return std::nullopt;
        seconds = (seconds + static_cast<double>(std::min(*whole, kMaxCueFrames))) * 60.0;
        text.remove_prefix(colon + 1);
    }
    const size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if ((whole.empty() && fraction.empty()) || SkipDigits(whole, 0) != whole.size() ||
        SkipDigits(fraction, 0) != fraction.size())
        return std::nullopt;
    const std::optional<Number> last = ParseNumber(text);
    if (!last) return std::nullopt;
    return NearestFrame((seconds + last->Exact) * rateHz);
}

float FramesToSec(int64_t frames, int32_t rateHz) noexcept {
    return static_cast<float>(static_cast<double>(frames) / rateHz);
}

}  // namespace

std::vector<std::string> TOggData::GetComments(const std::string& Name) const {
    std::string_view value;
    for (const std::string& entry : FComments) {
        const size_t equals = entry.find('=');
        if (equals != std::string::npos &&
            EqualIgnoringCase(std::string_view(entry).substr(0, equals), Name)) {
            value = std::string_view(entry).substr(equals + 1);
            break;
        }
    }

    // Only CR LF ends a line; a lone CR or LF is part of the text.
    std::vector<std::string> lines;
    std::string current;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') {
            lines.push_back(std::move(current));
            current.clear();
            ++i;
        } else {
            current.push_back(value[i]);
        }
    }
    if (!current.empty()) lines.push_back(std::move(current));
    return lines;
}

void TOggData::SetLoopStartTags(bool On) {
    ScopedLock guard(FLock);
    if (FLoopStartTags == On) return;
    FLoopStartTags = On;
    ParseLoopTags();
    FRepeatCount.fill(0);
}

void TOggData::ParseLoopTags() {
    if (!Loaded()) return;
    FCues.fill(TLoopCue{});
    FCueFrames.fill(CueFrames{});
    bool anyCueLine = false;
    for (std::string line : GetComments("COMMENT")) {
        for (char& c : line) c = LowerAscii(c);
        const std::vector<std::string> f = SplitFields(line, ",", 5, true, true);
        const bool inSeconds = f[0] == "*looptime";
        if (!inSeconds && f[0] != "*loopsample") continue;

        const int32_t index = ParseInteger(f[1]).value_or(kDefaultCueIndex);
        if (index < 0 || index >= kCueCount) continue;
        const Number start = ParseNumber(f[2]).value_or(Number{kDefaultCueTime, 0.0});
        const Number end = ParseNumber(f[3]).value_or(Number{kDefaultCueTime, 0.0});
        const int32_t count = ParseInteger(f[4]).value_or(kDefaultCueCount);
        // Sample numbers count at the stream's own rate. The seconds of the table pass through
        // a float first, so beyond 2^24 they lose precision; the frames keep every sample.
        // A loaded stream's rate is at least 1.
        const auto rate = static_cast<float>(FRate);
        const double framesPerUnit = inSeconds ? FRate : 1.0;
        FCues[index] = inSeconds ? TLoopCue{start.Single, end.Single, count}
                                 : TLoopCue{start.Single / rate, end.Single / rate, count};
        FCueFrames[index] = {NearestFrame(start.Exact * framesPerUnit),
                             NearestFrame(end.Exact * framesPerUnit)};
        anyCueLine = true;
    }
    if (FLoopStartTags && !anyCueLine) ParseLoopStartTags();
}

void TOggData::ParseLoopStartTags() {
    const auto frames = [this](const char* name) -> std::optional<int64_t> {
        const std::vector<std::string> lines = GetComments(name);
        if (lines.empty()) return std::nullopt;
        return ParseLoopPosition(lines.front(), FRate);
    };
    const std::optional<int64_t> start = frames("LOOPSTART");
    if (!start) return;
    std::optional<int64_t> end;
    if (const std::optional<int64_t> length = frames("LOOPLENGTH"))
        end = *start + *length;
    else
        end = frames("LOOPEND");
    if (!end) return;
    // An end beyond the data loops where the data ends.
    const int64_t endFrame = FPcmTotal > 0 ? std::min(*end, FPcmTotal) : *end;
    if (endFrame <= *start) return;
    FCues[0] = TLoopCue{FramesToSec(*start, FRate), FramesToSec(endFrame, FRate), -1};
    FCueFrames[0] = {*start, endFrame};
}

std::vector<std::string> TOggData::SplitFields(const std::string& Text,
                                               const std::string& Separator, int32_t MinFields,
                                               bool StopAtComment, bool SkipBlanks) {
    std::vector<std::string> fields;
    std::string current;
    bool lastWasSeparator = false;
    for (size_t i = 0; i < Text.size();) {
        // A lead byte and the continuation bytes after it are one character. Only
        // continuation bytes join, so no separator, blank or slash is ever swallowed, even
        // after a broken sequence.
        size_t width = 1;
        if (IsLeadByte(static_cast<uint8_t>(Text[i]))) {
            const size_t sequence = Utf8SequenceBytes(static_cast<uint8_t>(Text[i]));
            while (width < sequence && i + width < Text.size() &&
                   IsContinuationByte(static_cast<uint8_t>(Text[i + width])))
                ++width;
        }
        const std::string_view character(Text.data() + i, width);
        const size_t next = i + width;
        lastWasSeparator = false;
        if (SkipBlanks && (character == " " || character == "\t")) {
            // dropped
        } else if (StopAtComment && character == "/" && next < Text.size() && Text[next] == '/') {
            break;
        } else if (character == Separator) {
            fields.push_back(std::move(current));
            current.clear();
            lastWasSeparator = true;
        } else {
            current.append(character);
        }
        i = next;
    }
    if (!current.empty()) fields.push_back(std::move(current));
    if (lastWasSeparator) fields.emplace_back();
    while (static_cast<int32_t>(fields.size()) < MinFields) fields.emplace_back();
    return fields;
}

bool TOggData::IsLeadByte(uint8_t b) noexcept { return b >= 0xC2 && b <= 0xF4; }

}  // namespace oggmix
