// PlaySet.cpp: a MusicSetPlayer on a MusicPlayer of the sound device, driven by keys read
// from standard input (the terminal put in raw mode while it plays): 1-9 switch to the states
// in the order of the file, + and - move the first parameter by 0.1, space triggers the first
// stinger, q quits. A status line shows the state, the change waiting and its bar, the
// parameters and the beat.
#include "tools/oggmix-cli/PlaySet.h"

#include <oggmix/MusicPlayer.h>
#include <oggmix/MusicSet.h>
#include <oggmix/MusicSetPlayer.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "base/platform/Platform.h"
#include "tools/oggmix-cli/Command.h"
#include "tools/oggmix-cli/MessageText.h"

namespace oggmix::cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(10);
constexpr double kParameterStep = 0.1;

std::string Status(MusicPlayer& player, MusicSetPlayer& music) {
    const SetStateNow now = music.State();
    std::string line = "state " + (now.Current.empty() ? std::string("-") : now.Current);
    if (!now.Pending.empty()) {
        line += " -> " + now.Pending;
        const Track source = music.StateTrack(now.Current);
        const Tempo grid = player.TempoOf(source);
        if (grid.Bpm > 0.0) {
            const double bar = static_cast<double>(now.PendingFrame) * grid.Bpm /
                               (60.0 * 44100.0 * grid.BeatsPerBar);
            char text[48];
            std::snprintf(text, sizeof text, " (output bar %.0f)", bar);
            line += text;
        }
    }
    for (const SetParameter& parameter : music.Set().Parameters) {
        char text[64];
        std::snprintf(text, sizeof text, "  %s %.2f", parameter.Name.c_str(),
                      music.Parameter(parameter.Name));
        line += text;
    }
    return line;
}

}  // namespace

int PlaySet(const CommandLine& args, const std::atomic<bool>& stopRequested) {
    try {
        const MusicSet set = LoadSet(args.SetPath);
        MusicPlayer player;
        MusicSetPlayer music(player, set);
        if (!set.InitialState.empty()) music.SetState(set.InitialState);
        const bool shown = isatty(STDERR_FILENO) == 1;
        std::string beat = "-";
        platform::RawKeys keys;
        const Clock::time_point end =
            args.Mix.Seconds ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(*args.Mix.Seconds))
                             : Clock::time_point::max();
        for (bool playing = true;
             playing && Clock::now() < end && !stopRequested.load(std::memory_order_relaxed);
             std::this_thread::sleep_for(kTick)) {
            while (const std::optional<char> key = keys.Next()) {
                if (*key == 'q') playing = false;
                if (*key >= '1' && *key <= '9') {
                    const auto index = static_cast<size_t>(*key - '1');
                    if (index < set.States.size()) music.SetState(set.States[index].Name);
                }
                if ((*key == '+' || *key == '-') && !set.Parameters.empty()) {
                    const std::string& name = set.Parameters.front().Name;
                    music.SetParameter(
                        name,
                        music.Parameter(name) + (*key == '+' ? kParameterStep : -kParameterStep),
                        0.1);
                }
                if (*key == ' ' && !set.Stingers.empty())
                    (void)music.TriggerStinger(set.Stingers.front().Name);
            }
            for (const MusicEvent& event : player.Poll())
                if (event.Kind == MusicEventKind::Beat)
                    beat =
                        std::to_string(event.Bar + 1) + "." + std::to_string(event.BeatInBar + 1);
            for (const SetEvent& event : music.Update())
                if (event.Kind == SetEventKind::StateChanged && !shown)
                    std::printf("%lld state %s %s\n", static_cast<long long>(event.Frame),
                                event.From.empty() ? "-" : event.From.c_str(), event.To.c_str());
            if (shown) {
                std::fprintf(stderr, "\r%s  beat %s\x1b[K", Status(player, music).c_str(),
                             beat.c_str());
                std::fflush(stderr);
            }
        }
        if (shown) std::fputc('\n', stderr);
        std::fflush(stdout);
        return kExitOk;
    } catch (const MusicSetError& error) {
        for (const std::string& problem : error.Problems())
            std::fprintf(stderr, "oggmix-cli: %s\n", Printable(problem).c_str());
        return kExitUsage;
    } catch (const MusicError& error) {
        std::fprintf(stderr, "oggmix-cli play: %s\n", Printable(error.what()).c_str());
    }
    return kExitFailure;
}

}  // namespace oggmix::cli
