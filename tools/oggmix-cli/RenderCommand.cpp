// RenderCommand.cpp: `oggmix-cli render`: mixes files offline, as fast as they decode, into a
// WAV file; with --stream, one file through the stream's own narrow output instead.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "base/PcmFormat.h"
#include "mixer/OggPlayerLib.h"
#include "stream/OggDataLib.h"
#include "tools/oggmix-cli/Command.h"
#include "tools/oggmix-cli/CommandLine.h"
#include "tools/oggmix-cli/MessageText.h"
#include "tools/oggmix-cli/MixOptions.h"
#include "tools/oggmix-cli/OutputFile.h"
#include "tools/oggmix-cli/PlanRenderer.h"
#include "tools/oggmix-cli/Progress.h"
#include "tools/oggmix-cli/RenderPlan.h"
#include "tools/oggmix-cli/StreamFiles.h"
#include "tools/oggmix-cli/WavWriter.h"

namespace oggmix::cli {
namespace {

constexpr int32_t kStreamChunkBytes = 4096;

// Where rendering stops: a fixed number of frames, or (no-loop without a length) the first
// block after which nothing plays, but never beyond the end of the longest file.
struct RenderLength {
    int64_t Frames = 0;
    bool StopWhenSilent = false;
};

// Whether a FILE or an option of the mixing path is given (--seconds serves both paths).
bool MixesFiles(const CommandLine& line) {
    const MixOptions& mix = line.Mix;
    return !line.Files.empty() || line.StreamOnly || mix.HighestSlot() >= 0 || mix.MasterVolume ||
           mix.Limiter || mix.NoLoop || mix.LoopTags || mix.Resample;
}

std::string CheckLength(const CommandLine& line) {
    // Rounded as a double: a length past the 64-bit frame count has no llround.
    if (line.Mix.Seconds && std::round(*line.Mix.Seconds * kFramesPerSecond) >
                                static_cast<double>(WavWriter::kMaxFrames))
        return "--seconds is too long for a WAV file";
    return {};
}

// Parses args into out; returns an empty string or what is wrong.
std::string ParseArgs(std::span<const std::string> args, CommandLine& out) {
    if (std::string error = ParseCommandLine(kRender, args, out); !error.empty()) return error;
    if (out.OutPath.empty()) return "no output file given (-o OUT.wav)";
    if (out.Seed && out.SetPath.empty()) return "--seed needs --set";
    if (!out.ScriptPath.empty()) {
        if (MixesFiles(out)) return "--script takes no FILE and none of the mix options";
        if (out.EventsPath == out.OutPath) return "--events and -o name the same file";
        return CheckLength(out);
    }
    if (!out.EventsPath.empty()) return "--events needs --script";
    if (!out.SetPath.empty()) return "--set needs --script";
    if (std::string error = CheckMixFiles(out); !error.empty()) return error;
    if (out.StreamOnly && out.Files.size() != 1) return "--stream takes exactly one FILE";
    if (out.StreamOnly && out.Mix.Limiter) return "--limiter needs the mixer, not --stream";
    return CheckLength(out);
}

// --script: the plan is read and checked whole before anything renders.
int RunScript(const CommandLine& args) {
    std::optional<MusicSet> set;
    if (!args.SetPath.empty()) {
        try {
            set = LoadSet(args.SetPath);
        } catch (const MusicSetError& error) {
            for (const std::string& problem : error.Problems())
                std::fprintf(stderr, "oggmix-cli: %s\n", Printable(problem).c_str());
            return kExitUsage;
        } catch (const MusicError& error) {
            std::fprintf(stderr, "oggmix-cli: %s\n", Printable(error.what()).c_str());
            return kExitFailure;
        }
    }
    RenderPlan plan;
    if (const PlanProblem problem = ReadRenderPlan(args.ScriptPath, plan, std::move(set));
        !problem.Message.empty()) {
        std::fprintf(stderr, "oggmix-cli: %s\n", problem.Message.c_str());
        if (!problem.BadLine) return kExitFailure;
        // The line says what is wrong; the whole usage would bury it.
        std::fputs("oggmix-cli: the plan's lines are described by oggmix-cli render --help\n",
                   stderr);
        return kExitUsage;
    }
    const int64_t length = plan.LengthFrames(args.Mix.Seconds);
    if (length > WavWriter::kMaxFrames)
        return UsageError("render", args.ScriptPath + ": the plan is too long for a WAV file");
    std::optional<uint64_t> seed;
    if (args.Seed) seed = static_cast<uint64_t>(*args.Seed);
    return RenderPlanToFiles(plan, {args.OutPath, args.EventsPath, length, seed});
}

RenderLength LengthOf(const MixOptions& mix,
                      const std::vector<std::unique_ptr<TOggData>>& streams) {
    if (mix.Seconds) return {std::llround(*mix.Seconds * kFramesPerSecond), false};
    int64_t longest = 0;
    for (const auto& stream : streams) longest = std::max(longest, OutputFrames(*stream));
    return {std::min(longest, WavWriter::kMaxFrames), mix.NoLoop};
}

bool AnyPlaying(const std::vector<std::unique_ptr<TOggData>>& streams) {
    return std::any_of(streams.begin(), streams.end(),
                       [](const auto& stream) { return stream->GetState(true) >= 2; });
}

// The stream path alone: narrow output of the stream's own Render.
bool RenderStream(TOggData& stream, const CommandLine& args, RenderLength length, WavWriter& wav) {
    ApplyStreamOptions(args.Mix, stream);
    stream.Play(!args.Mix.NoLoop, true);
    Progress progress(length.Frames);
    std::vector<int16_t> chunk(kStreamChunkBytes / kBytesPerSample);
    while (wav.FramesWritten() < length.Frames) {
        const int64_t frames = std::min<int64_t>(BytesToFrames(kStreamChunkBytes),
                                                 length.Frames - wav.FramesWritten());
        const int32_t bytes = FramesToBytes(static_cast<int32_t>(frames));
        stream.Render(chunk.data(), bytes, 0, false, true);
        if (!wav.Write(std::span(chunk).first(static_cast<size_t>(bytes / kBytesPerSample))))
            return false;
        progress.Update(wav.FramesWritten());
        if (length.StopWhenSilent && stream.GetState(true) < 2) break;
    }
    return true;
}

// Every file in its own slot, mixed block by block.
bool RenderMix(const std::vector<std::unique_ptr<TOggData>>& streams, const CommandLine& args,
               RenderLength length, WavWriter& wav) {
    TOggPlayer mixer(kMixBufferBytes, kMixSlots);
    for (size_t slot = 0; slot < streams.size(); ++slot)
        mixer.SetSlot(static_cast<int32_t>(slot), streams[slot].get(), true);
    ApplyMixOptions(args.Mix, mixer);
    mixer.PlayAll(!args.Mix.NoLoop);

    Progress progress(length.Frames);
    bool ok = true;
    while (ok && wav.FramesWritten() < length.Frames) {
        mixer.RenderNext();
        const int64_t frames = std::min<int64_t>(BytesToFrames(mixer.BlockBytes()),
                                                 length.Frames - wav.FramesWritten());
        ok = wav.Write(std::span(mixer.GetBlock(), static_cast<size_t>(2 * frames)));
        progress.Update(wav.FramesWritten());
        if (length.StopWhenSilent && !AnyPlaying(streams)) break;
    }
    return ok;  // the mixer goes first and empties its slots; the caller's streams stay
}

int Run(std::span<const std::string> argv) {
    CommandLine args;
    if (const std::string error = ParseArgs(argv, args); !error.empty())
        return UsageError("render", error);
    if (!args.ScriptPath.empty()) return RunScript(args);
    if (!BindDecoderBesideExecutable()) return kExitFailure;
    const std::vector<std::unique_ptr<TOggData>> streams =
        LoadStreamFiles(args.Files, kMixBufferBytes, args.Mix.Resample);
    if (streams.empty()) return kExitFailure;

    try {
        OutputFile out(args.OutPath);
        const RenderLength length = LengthOf(args.Mix, streams);
        WavWriter wav(out.Path(), length.Frames);
        const bool rendered = args.StreamOnly ? RenderStream(*streams.front(), args, length, wav)
                                              : RenderMix(streams, args, length, wav);
        if (rendered && wav.Finish() && out.Place()) return kExitOk;
        std::fprintf(stderr, "oggmix-cli: %s: cannot write\n", Printable(args.OutPath).c_str());
    } catch (const Exception& e) {
        std::fprintf(stderr, "oggmix-cli: %s\n", e.what());
    }
    return kExitFailure;
}

const bool kRegistered = RegisterCommand(
    {"render", kRender,
     "oggmix-cli render [OPTIONS] FILE [FILE...] -o OUT.wav\n"
     "  oggmix-cli render --script PLAN [--events EVENTS.txt] [--seconds S] -o OUT.wav\n"
     "  oggmix-cli render --set SET.json --script PLAN [--events EVENTS.txt] [--seed N]\n"
     "      -o OUT.wav",
     "mixes the files (slots 0, 1, ... in order, at most 8) into a 16-bit stereo\n"
     "44100 Hz WAV file, as fast as they decode; with --script, renders the plan's\n"
     "calls through the game player instead",
     Run,
     "PLAN: a call of the game player a line, SECONDS COMMAND ARGS..., SECONDS the\n"
     "output time of the call (never less than the line before's):\n"
     "  load NAME FILE              tempo NAME BPM BEATS_PER_BAR FIRST_BEAT_FRAME\n"
     "  layer GROUP NAME...         play NAME [loop=0|1] [fade=S] [at=FRAME]\n"
     "  transition FROM TO when=now|beat|bar|bars:N|loopend|end\n"
     "      [to=start|same|samebeat|cue:N] [fade=S|Nbeats] [fadekind=cross|in|out]\n"
     "      [shape=linear|power|scurve] [via=NAME] [loop=0|1]\n"
     "  volume NAME V [fade=S|Nbeats] [when=now|beat|bar]\n"
     "  stinger NAME grid=NAME when=beat|bar [pickup=FRAMES] [cooldown=S]\n"
     "  stop NAME [fade=S]    pause NAME    resume NAME    seek NAME S    end\n"
     "With --set, the set's tracks are names too, and:\n"
     "  state STATE    param NAME VALUE [fade=S]    stinger NAME (the set's)\n"
     "A word may be quoted: \"dir with space/take#2.ogg\" (\\\" and \\\\ inside). A '#'\n"
     "that starts a word, outside quotes, starts a comment; inside a word it is text.\n"
     "The player's ranges: V 0 to 2; fades and cooldowns 0 to 3600 s, or up to\n"
     "10000 beats; BPM above 0 and below 10000; BEATS_PER_BAR 1 to 64; bars:N 1 to\n"
     "1024; cue:N 0 to 15. The whole plan is checked before anything renders.\n"});

}  // namespace
}  // namespace oggmix::cli
