#pragma once
// RenderPlan.h: the plan of `oggmix-cli render --script`: timed calls of the game player, one
// a line, "SECONDS COMMAND ARGS...", read and checked whole before anything renders. SECONDS
// is the output time of the call (frame llround(SECONDS x 44100)), never less than the line
// before. A word may be quoted ("dir with space/x.ogg"; \" and \\ inside); a '#' at the
// start of a word, outside quotes, starts a comment. Names come from `load` and `layer` lines
// and must be defined before a line uses them. Every value the player would refuse for its
// range, or for what a name stands for, is refused here.
// Threads: the main thread. Memory: allocates. Units: output frames at 44100 Hz.

#include <oggmix/MusicPlayer.h>
#include <oggmix/MusicSet.h>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace oggmix::cli {

struct LoadStep {
    std::string Name;
    std::string Path;  // a relative FILE joined to the plan's folder
};
struct TempoStep {
    std::string Name;
    Tempo Grid;
};
struct LayerStep {
    std::string Group;
    std::vector<std::string> Layers;
};
struct PlayStep {
    std::string Name;
    PlayOptions Options;
    std::optional<int64_t> AtFrame;  // PlayAt instead of Play
};
struct TransitionStep {
    std::string From;
    std::string To;
    std::string Via;  // the bridge, or empty
    TransitionOptions Options;
};
struct VolumeStep {
    std::string Name;
    double Volume = 1.0;
    VolumeChange Change;
};
struct StingerStep {
    std::string Name;
    std::string Grid;
    StingerOptions Options;
};
struct StopStep {
    std::string Name;
    double FadeSec = 0.0;
};
struct PauseStep {
    std::string Name;
    bool Resume = false;  // resume rather than pause
};
struct SeekStep {
    std::string Name;
    double Seconds = 0.0;
};

// A music set's calls: a state asked for, a parameter moved, a stinger of the set.
struct SetStateStep {
    std::string State;
};
struct SetParamStep {
    std::string Name;
    double Value = 0.0;
    double FadeSec = 0.0;
};
struct SetStingerStep {
    std::string Name;
};

using PlanAction =
    std::variant<LoadStep, TempoStep, LayerStep, PlayStep, TransitionStep, VolumeStep, StingerStep,
                 StopStep, PauseStep, SeekStep, SetStateStep, SetParamStep, SetStingerStep>;

struct PlanStep {
    int32_t Line = 0;  // from 1, for messages
    int64_t Frame = 0;
    PlanAction Action;
};

struct RenderPlan {
    std::string Path;
    std::vector<PlanStep> Steps;      // in the plan's order, frames never decreasing
    std::optional<int64_t> EndFrame;  // an `end` line
    std::optional<MusicSet> Set;      // the set the plan plays; its tracks are names too

    // The output's length: the end line, else seconds, else 5 s after the last call.
    [[nodiscard]] int64_t LengthFrames(std::optional<double> seconds) const;
};

// What is wrong with a plan: nothing (an empty message), a file that cannot be read, or a bad
// line ("PATH:LINE: what is wrong").
struct PlanProblem {
    std::string Message;
    bool BadLine = false;
};

// Reads and checks the plan at path into out, with the names of set if one is given.
[[nodiscard]] PlanProblem ReadRenderPlan(const std::string& path, RenderPlan& out,
                                         std::optional<MusicSet> set = std::nullopt);

}  // namespace oggmix::cli
