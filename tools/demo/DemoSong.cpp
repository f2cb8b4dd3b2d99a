// DemoSong.cpp: the instruments and the score of the demo piece.
#include "tools/demo/DemoSong.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace oggmix::demo {
namespace {

constexpr double kBarSec = 2.0;  // four beats at 120 per minute
constexpr double kBeatSec = kBarSec / 4.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// A stereo timeline. Samples written beyond the loop's end are also added one loop length
// earlier, so that what follows the loop's start is what would follow its end.
class Timeline {
public:
    Timeline()
        : FLeft(Frames(kLengthSec)),
          FRight(Frames(kLengthSec)),
          FLoopStart(Frames(kLoopStartSec)),
          FLoopEnd(Frames(kLoopEndSec)) {}

    static size_t Frames(double seconds) {
        return static_cast<size_t>(std::llround(seconds * kRateHz));
    }

    void Add(size_t frame, double value, double pan, bool folds) {
        if (frame >= FLeft.size()) return;
        const double left = value * std::sqrt(0.5 * (1.0 - pan));
        const double right = value * std::sqrt(0.5 * (1.0 + pan));
        FLeft[frame] += left;
        FRight[frame] += right;
        if (folds && frame >= FLoopEnd) {
            FLeft[frame - (FLoopEnd - FLoopStart)] += left;
            FRight[frame - (FLoopEnd - FLoopStart)] += right;
        }
    }

    Pcm ToPcm(double peak) const {
        double loudest = 1e-9;
        for (size_t i = 0; i < FLeft.size(); ++i)
            loudest = std::max({loudest, std::abs(FLeft[i]), std::abs(FRight[i])});
        const double gain = peak / loudest;
        Pcm pcm;
        pcm.RateHz = kRateHz;
        pcm.Channels = 2;
        pcm.Samples.resize(2 * FLeft.size());
        for (size_t i = 0; i < FLeft.size(); ++i) {
            pcm.Samples[2 * i] = static_cast<int16_t>(std::lround(FLeft[i] * gain * 32767.0));
            pcm.Samples[2 * i + 1] = static_cast<int16_t>(std::lround(FRight[i] * gain * 32767.0));
        }
        return pcm;
    }

private:
    std::vector<double> FLeft;
    std::vector<double> FRight;
    size_t FLoopStart;
    size_t FLoopEnd;
};

double Midi(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

// Linear attack and release around a held note of lengthSec; zero outside.
double Envelope(double t, double lengthSec, double attackSec, double releaseSec) {
    if (t < 0.0 || t >= lengthSec + releaseSec) return 0.0;
    const double rise = std::min(1.0, t / attackSec);
    const double fall = t <= lengthSec ? 1.0 : 1.0 - (t - lengthSec) / releaseSec;
    return rise * fall;
}

struct Player {
    Timeline& Out;
    bool Folds;  // true while the loop is being written

    // Writes lengthSec of voice(t), t in seconds from the note's start.
    template <class Voice>
    void Note(double startSec, double lengthSec, double pan, Voice voice) {
        const size_t first = Timeline::Frames(startSec);
        const size_t count = Timeline::Frames(lengthSec);
        for (size_t i = 0; i < count; ++i)
            Out.Add(first + i, voice(static_cast<double>(i) / kRateHz), pan, Folds);
    }

    // A soft chord tone: two slightly detuned sines, slow attack.
    void Pad(double startSec, double lengthSec, int note, double level, double pan) {
        constexpr double kRelease = 0.6;
        const double f = Midi(note);
        Note(startSec, lengthSec + kRelease, pan, [&](double t) {
            const double v = std::sin(kTwoPi * f * 1.0015 * t) + std::sin(kTwoPi * f * 0.9985 * t);
            return level * Envelope(t, lengthSec, 0.35, kRelease) * 0.5 * v;
        });
    }

    // A round plucked bass: fundamental, a little second harmonic, quick decay.
    void Bass(double startSec, double lengthSec, int note, double level) {
        const double f = Midi(note);
        Note(startSec, lengthSec, 0.0, [&](double t) {
            const double env = std::min(1.0, t / 0.01) * std::exp(-2.5 * t) *
                               std::min(1.0, (lengthSec - t) / 0.05);
            return level * env * (std::sin(kTwoPi * f * t) + 0.25 * std::sin(2.0 * kTwoPi * f * t));
        });
    }

    // A bell: two-operator FM whose brightness fades with the note.
    void Bell(double startSec, int note, double level, double pan) {
        constexpr double kLength = 1.6;
        const double f = Midi(note);
        Note(startSec, kLength, pan, [&](double t) {
            const double env =
                std::min(1.0, t / 0.004) * std::exp(-3.2 * t) * std::min(1.0, (kLength - t) / 0.1);
            const double index = 1.8 * std::exp(-5.0 * t);
            return level * env * std::sin(kTwoPi * f * t + index * std::sin(kTwoPi * 2.0 * f * t));
        });
    }

    // A closed hi-hat: a short burst of differenced noise.
    void Hat(double startSec, double level, double pan, uint32_t& seed) {
        double previous = 0.0;
        Note(startSec, 0.05, pan, [&](double t) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            const double noise = seed / 4294967296.0 * 2.0 - 1.0;
            const double v = level * std::exp(-90.0 * t) * (noise - previous);
            previous = noise;
            return v;
        });
    }
};

struct Chord {
    int Root;       // MIDI note of the bass
    int Tones[3];   // MIDI notes of the pad
    int Melody[8];  // MIDI notes on the eighths; 0 is a rest
};

// C, G, A minor, F: a melody that climbs over the first two bars and settles over the last two.
constexpr Chord kLoopChords[4] = {
    {36, {60, 64, 67}, {72, 0, 76, 79, 0, 76, 74, 0}},
    {43, {59, 62, 67}, {74, 0, 79, 81, 0, 79, 76, 0}},
    {45, {57, 60, 64}, {76, 0, 72, 74, 0, 72, 69, 0}},
    {41, {57, 60, 65}, {72, 0, 69, 67, 0, 69, 72, 0}},
};

}  // namespace

Pcm SynthesiseDemo() {
    Timeline out;
    uint32_t seed = 0x6F67676Du;

    // Intro: A minor and F pads with sparse bells; every note ends before the loop starts.
    Player intro{out, false};
    const Chord& aMinor = kLoopChords[2];
    const Chord& fMajor = kLoopChords[3];
    for (int bar = 0; bar < 2; ++bar) {
        const Chord& chord = bar == 0 ? aMinor : fMajor;
        const double start = bar * kBarSec;
        for (int tone = 0; tone < 3; ++tone)
            intro.Pad(start, kBarSec - 0.6, chord.Tones[tone], 0.07, (tone - 1) * 0.4);
        intro.Bass(start + 2 * kBeatSec, 2 * kBeatSec - 0.05, chord.Root, 0.12);
        intro.Bell(start + kBeatSec, chord.Tones[2] + 12, 0.05, 0.5);
    }

    // The loop, folded at its end.
    Player loop{out, true};
    for (int bar = 0; bar < 4; ++bar) {
        const Chord& chord = kLoopChords[bar];
        const double start = kLoopStartSec + bar * kBarSec;
        for (int tone = 0; tone < 3; ++tone)
            loop.Pad(start, kBarSec, chord.Tones[tone], 0.07, (tone - 1) * 0.4);
        loop.Bass(start, 2 * kBeatSec - 0.05, chord.Root, 0.2);
        loop.Bass(start + 2 * kBeatSec, 2 * kBeatSec - 0.05, chord.Root + 7, 0.16);
        for (int eighth = 0; eighth < 8; ++eighth) {
            const double at = start + eighth * kBeatSec / 2.0;
            if (chord.Melody[eighth] != 0)
                loop.Bell(at, chord.Melody[eighth], 0.11, eighth % 2 == 0 ? -0.3 : 0.3);
            loop.Hat(at, eighth % 2 == 0 ? 0.05 : 0.03, 0.25, seed);
        }
    }

    // Ending, heard only when the loop is off: a C chord that rings out.
    Player ending{out, false};
    const Chord& cMajor = kLoopChords[0];
    for (int tone = 0; tone < 3; ++tone)
        ending.Pad(kLoopEndSec, 1.2, cMajor.Tones[tone], 0.07, (tone - 1) * 0.4);
    ending.Bass(kLoopEndSec, 1.5, cMajor.Root, 0.2);
    ending.Bell(kLoopEndSec, 84, 0.1, 0.0);

    return out.ToPcm(0.6);
}

std::vector<std::string> DemoComments() {
    char cue[64];
    std::snprintf(cue, sizeof cue, "*looptime,0,%g,%g,-1", kLoopStartSec, kLoopEndSec);
    return {
        "TITLE=oggmix demo",
        "ARTIST=oggmix",
        std::string("COMMENT=") + cue + "\r\n// intro 0-4 s, loop 4-12 s for ever, ending 12-14 s",
    };
}

}  // namespace oggmix::demo
