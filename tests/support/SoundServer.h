#pragma once
// SoundServer.h: private sound servers for end-to-end tests, and what the tests do with them.
// A SoundServer runs a PulseAudio server, or PipeWire with its session manager and its
// PulseAudio server, from a folder of its own: a null sink "oggmix_test" at 44100 Hz (so that
// what it plays reaches its monitor unchanged), the PulseAudio protocol on a private socket,
// no D-Bus session and no real device. Constructing it points this process and the programs
// it starts at that server (HOME, XDG_RUNTIME_DIR, XDG_CONFIG_HOME, PULSE_SERVER). The
// processes are started and stopped by their process ids.
// MonitorRecorder records the sink's monitor with parec at 10 ms, as voice chat and screen
// recorders ask; BusyCores loads the processors as a parallel build does.
// Threads: the test's. Memory: allocates. Errors: std::runtime_error when a program cannot be
// started.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace oggmix::test {

// The program's full path on PATH, or empty.
[[nodiscard]] std::string FindProgram(const std::string& name);
// Waits until done() holds; false when limit passed first.
[[nodiscard]] bool WaitUntil(const std::function<bool()>& done,
                             std::chrono::milliseconds limit = std::chrono::seconds(60));
// The file's size, 0 when it does not exist.
[[nodiscard]] uintmax_t SizeOf(const std::string& path);
// The monotonic clock in microseconds, as oggmix-cli's position log writes it.
[[nodiscard]] int64_t MonotonicUs();

class SoundServer {
public:
    enum class Kind { PulseAudio, PipeWire };
    static constexpr const char* kSink = "oggmix_test";
    static constexpr const char* kMonitor = "oggmix_test.monitor";

    // Writes the configuration into folder and sets the environment; starts nothing.
    SoundServer(Kind kind, std::string folder);
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // The programs this kind needs that are not installed (with pactl and parec), by name.
    [[nodiscard]] std::vector<std::string> MissingPrograms() const;
    // Empty when every program is there; otherwise "not installed (scripts/install-deps):"
    // and their names, for a test to skip with (or to fail with, in CI).
    [[nodiscard]] std::string MissingMessage() const;
    // Starts the server; true once its sink is listed.
    [[nodiscard]] bool Start();
    // Sends signal to every process of the server (the PulseAudio server first) and waits:
    // the PulseAudio server's exit status, or 128 + the signal that ended it.
    int Stop(int signal);
    [[nodiscard]] const std::string& Socket() const noexcept { return FSocket; }
    [[nodiscard]] Kind GetKind() const noexcept { return FKind; }

private:
    void WritePipeWireConfig() const;

    const Kind FKind;
    const std::string FFolder;
    const std::string FSocket;
    std::vector<std::unique_ptr<Child>> FProcesses;  // the PulseAudio server last
};

// parec on the test sink's monitor, and when each of its frames reached the monitor: the
// recording's size is sampled against the clock, and the frame k arrived at Start + k / rate,
// Start being the earliest that every sample allows (the least-delayed delivery; a busy
// machine only delays).
class MonitorRecorder {
public:
    MonitorRecorder(const std::string& parec, std::string path);
    ~MonitorRecorder() { Stop(); }
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    void Stop();
    [[nodiscard]] const std::string& Path() const { return FPath; }
    // The clock (us) at which frame 0 of the recording reached the monitor.
    [[nodiscard]] std::optional<int64_t> StartUs() const;

private:
    void Watch();

    const std::string FPath;
    Child FParec;
    mutable std::mutex FMutex;
    std::optional<int64_t> FStartUs;  // guarded by FMutex
    std::atomic<bool> FStop{false};
    std::thread FWatch;
};

// Four busy processes on each of the first two processors this test may use; stopped when
// the load goes.
class BusyCores {
public:
    BusyCores();
    [[nodiscard]] size_t Processes() const { return FBusy.size(); }

private:
    std::vector<std::unique_ptr<Child>> FBusy;
};

}  // namespace oggmix::test
