// PlayerCost.cpp: oggmix_player_cost [SECONDS]: what the game player costs, in real time.
//   - CPU of the process while one track plays SECONDS through a private PulseAudio server at
//     the default latency and at 20 ms, beside its peers run in turn in the same run: a bare
//     libpulse client decoding the same file on the server's requests with the same buffer
//     (oggmix_peer_pulse, the floor) and SDL_mixer's Mix_PlayMusic (oggmix_peer_sdl_mixer),
//     each a child process measured by its own CPU;
//   - CPU while 8 tracks with a tone filter and gain control play, divided by the thread CPU
//     of decoding the same music with libvorbisfile alone (once per track);
//   - CPU of an open player with nothing playing, over 20 s, on pulse and on null;
//   - the memory (resident) a player with no track loaded adds to the process;
//   - the mixer lock as the device's thread meets it: on the manual back end a thread advances
//     the device by 256-frame periods as fast as it can (each advance that crosses a half
//     mixes a block inside the call) while 8 tracks of 48 kHz music (converted) play and the
//     game thread seeks 1000 times; each mixing call's wall time less its thread CPU time is
//     its time off the processor: waiting on the lock, or preempted (the run without seeks
//     shows how much preemption alone gives).
// Run on the machine in the state to be judged; the figures are printed.
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchFiles.h"
#include "oggmix/MusicPlayer.h"
#include "sound/platform/ManualAudio.h"
#include "tests/support/OggFixture.h"
#include "tests/support/SoundServer.h"
#include "tests/support/TestPaths.h"

namespace {

using namespace oggmix;
using Clock = std::chrono::steady_clock;

double ProcessCpuSec() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto sec = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
    };
    return sec(usage.ru_utime) + sec(usage.ru_stime);
}

double ThreadCpuSec() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

Track LoadFile(MusicPlayer& player, const bench::BenchFile& file) {
    return player.Load(std::as_bytes(std::span(file.Ogg)), "bench");
}

// The process's CPU over seconds of wall time, polling as a game does once a frame (or not
// at all: what the player costs by itself).
double CpuWhile(MusicPlayer& player, double seconds, bool poll = true) {
    const double cpuBefore = ProcessCpuSec();
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (poll && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
        (void)player.Poll();
    }
    std::this_thread::sleep_until(end);
    return ProcessCpuSec() - cpuBefore;
}

// The CPU (user + system) a peer program took to play path for seconds at latencyMs; -1 when
// it failed.
double PeerCpuSec(const std::string& program, const std::string& path, int32_t latencyMs,
                  double seconds) {
    const std::string latency = std::to_string(latencyMs);
    const std::string length = std::to_string(seconds);
    std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>(path.c_str()),
                            const_cast<char*>(latency.c_str()), const_cast<char*>(length.c_str()),
                            nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return -1.0;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1.0;
    const auto sec = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
    };
    return sec(usage.ru_utime) + sec(usage.ru_stime);
}

// The process's CPU while one track plays for seconds through pulse at latencyMs.
double OneTrackCpuSec(double seconds, int32_t latencyMs) {
    PlayerOptions options;
    options.Backend = "pulse";
    options.LatencyMs = latencyMs;
    MusicPlayer player(options);
    player.Play(LoadFile(player, bench::StereoFile()));
    return CpuWhile(player, seconds, false);
}

// One track at latencyMs: the player, the bare libpulse floor and SDL_mixer, in turn.
void OneTrackAgainstPeers(double seconds, int32_t latencyMs, const std::string& path) {
    const double playerSec = OneTrackCpuSec(seconds, latencyMs);
    const std::string dir = test::ExecutableDir();
    const double floorSec = PeerCpuSec(dir + "/oggmix_peer_pulse", path, latencyMs, seconds);
    const double mixerSec = PeerCpuSec(dir + "/oggmix_peer_sdl_mixer", path, latencyMs, seconds);
    const auto perSec = [&](double cpu) { return 1000.0 * cpu / seconds; };
    std::printf(
        "1 track, %d ms latency, %.0f s: player %.2f ms CPU per s; bare libpulse floor %.2f; "
        "SDL_mixer %.2f; player / floor %.2f (target <= 1.1), player / SDL_mixer %.2f "
        "(target < 1)\n",
        latencyMs, seconds, perSec(playerSec), perSec(floorSec), perSec(mixerSec),
        playerSec / floorSec, playerSec / mixerSec);
}

void PlayingCost(double seconds) {
    const bench::BenchFile& file = bench::StereoFile();
    const double decodeStart = ThreadCpuSec();
    const size_t decodedSamples = test::DecodeReference(file.Ogg).Samples.size();
    const double decodeSec = (ThreadCpuSec() - decodeStart) *
                             (seconds * kFramesPerSecond * 2 / static_cast<double>(decodedSamples));
    std::printf("decoding the file with libvorbisfile alone: %.2f ms CPU per s of music\n",
                1000.0 * decodeSec / seconds);
    for (const int tracks : {8}) {
        PlayerOptions options;
        options.Backend = "pulse";
        MusicPlayer player(options);
        for (int i = 0; i < tracks; ++i) {
            const Track track = LoadFile(player, file);
            if (tracks > 1) {
                player.SetToneFilter(track, ToneFilter::LowPass);
                player.SetGainControl(track, 1.0);
                player.SetVolume(track, 0.3);
            }
            player.Play(track);
            player.Seek(track, 7.0 * i);
        }
        const double cpu = CpuWhile(player, seconds);
        std::printf(
            "%d track(s) playing %.0f s through pulse%s: %.3f s CPU; decoding alone %.3f s;"
            " ratio %.2f (target <= 2); late blocks %llu\n",
            tracks, seconds, tracks > 1 ? " (filter, gain control)" : "", cpu, decodeSec * tracks,
            cpu / (decodeSec * tracks),
            static_cast<unsigned long long>(player.Delivery().LateBlocks));
    }
}

void IdleCost(const std::string& backend) {
    constexpr double kIdleSec = 20.0;
    PlayerOptions options;
    options.Backend = backend;
    MusicPlayer player(options);
    (void)LoadFile(player, bench::StereoFile());
    std::this_thread::sleep_for(std::chrono::seconds(1));  // past the device's start
    const double alone = CpuWhile(player, kIdleSec, false);
    const double polled = CpuWhile(player, kIdleSec);
    std::printf(
        "open player, nothing playing, %s, %.0f s: %.3f %% of a core (target <= 0.05 %%); "
        "with a poll every 16 ms %.3f %%\n",
        backend.c_str(), kIdleSec, 100.0 * alone / kIdleSec, 100.0 * polled / kIdleSec);
}

// The time (us) each advance that mixed spent off the processor (waiting on the mixer's lock,
// or preempted), while the game thread runs seeks (none: 0).
std::vector<double> MixingCalls(MusicPlayer& player, const std::vector<Track>& tracks, int seeks,
                                uint64_t& lateBlocks) {
    std::atomic<bool> done{false};
    std::vector<double> durations;
    durations.reserve(1 << 20);
    std::thread device([&] {
        const uint64_t before = player.Delivery().WrittenBlocks;
        uint64_t seen = before;
        while (!done.load()) {
            const auto start = Clock::now();
            const double cpuStart = ThreadCpuSec();
            oggmix::ManualAudio::Advance(256);
            const double us =
                std::chrono::duration<double, std::micro>(Clock::now() - start).count() -
                (ThreadCpuSec() - cpuStart) * 1e6;
            const uint64_t written = player.Delivery().WrittenBlocks;
            if (written != seen) durations.push_back(us);
            seen = written;
        }
    });
    std::mt19937 random(7);
    if (seeks > 0) {
        for (int i = 0; i < seeks; ++i) {
            player.Seek(tracks[static_cast<size_t>(i) % tracks.size()],
                        std::uniform_real_distribution<double>(0.0, 55.0)(random));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    } else {
        std::this_thread::sleep_for(std::chrono::seconds(3));
    }
    done = true;
    device.join();
    lateBlocks = player.Delivery().LateBlocks;
    std::sort(durations.begin(), durations.end());
    return durations;
}

void LockWait() {
    PlayerOptions options;
    options.Backend = "manual";
    MusicPlayer player(options);
    std::vector<Track> tracks;
    for (int i = 0; i < kMaxPlayingTracks; ++i) {
        tracks.push_back(LoadFile(player, bench::Stereo48File()));
        player.Play(tracks.back());
    }
    const auto show = [&](const char* what, const std::vector<double>& us, uint64_t late) {
        if (us.empty()) return std::printf("%s: no block mixed\n", what), void();
        std::printf(
            "%s: %zu mixing calls, off the processor: median %.0f us, 99 %% %.0f us, "
            "longest %.0f us; longest wait for the mixer's lock so far %lld us (target <= 100); "
            "late blocks %llu\n",
            what, us.size(), us[us.size() / 2], us[us.size() * 99 / 100], us.back(),
            static_cast<long long>(player.Delivery().LongestWaitUs),
            static_cast<unsigned long long>(late));
    };
    uint64_t late = 0;
    show("8 converted tracks, no seeks", MixingCalls(player, tracks, 0, late), late);
    show("8 converted tracks, 1000 seeks", MixingCalls(player, tracks, 1000, late), late);
}

}  // namespace

// Resident pages of the process, in bytes.
double ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long total = 0;
    long resident = 0;
    statm >> total >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// Ten players at once, so that memory freed by the first (a warm-up for the libraries' own
// first use) does not hide what each takes: resident memory and heap in use, per player.
void EmptyPlayerMemory(const std::string& backend) {
    constexpr int kPlayers = 10;
    PlayerOptions options;
    options.Backend = backend;
    { MusicPlayer warmUp(options); }
    const double residentBefore = ResidentBytes();
    const double heapBefore = static_cast<double>(mallinfo2().uordblks + mallinfo2().hblkhd);
    std::vector<std::unique_ptr<MusicPlayer>> players;
    for (int i = 0; i < kPlayers; ++i) players.push_back(std::make_unique<MusicPlayer>(options));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double heap = static_cast<double>(mallinfo2().uordblks + mallinfo2().hblkhd) - heapBefore;
    std::printf(
        "a player with no track loaded, %s: %.2f MB resident, %.2f MB of heap in use, each of "
        "%d (target <= 2 MB)\n",
        backend.c_str(), (ResidentBytes() - residentBefore) / 1e6 / kPlayers, heap / 1e6 / kPlayers,
        kPlayers);
}

int main(int argc, char** argv) try {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    LockWait();
    IdleCost("null");
    EmptyPlayerMemory("null");
    test::TempDir dir;
    test::SoundServer server(test::SoundServer::Kind::PulseAudio, dir.Path());
    if (!server.Start()) return std::fprintf(stderr, "the sound server did not start\n"), 1;
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    EmptyPlayerMemory("pulse");
    IdleCost("pulse");
    const std::string path = dir.Path() + "/music.ogg";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bench::StereoFile().Ogg.data()),
               static_cast<std::streamsize>(bench::StereoFile().Ogg.size()));
    OneTrackAgainstPeers(seconds, kDefaultLatencyMs, path);
    OneTrackAgainstPeers(seconds, 20, path);
    for (const int32_t latencyMs : {50, 250, 500})
        std::printf("1 track, %d ms latency, %.0f s: player %.2f ms CPU per s\n", latencyMs,
                    seconds, 1000.0 * OneTrackCpuSec(seconds, latencyMs) / seconds);
    PlayingCost(seconds);
    return 0;
} catch (const std::exception& error) {
    std::fprintf(stderr, "oggmix_player_cost: %s\n", error.what());
    return 1;
}
