// SoundServer.cpp: the servers' command lines and configuration, the monitor's recorder and
// the load.
#include "tests/support/SoundServer.h"

#include <sched.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/RunProgram.h"

namespace oggmix::test {
namespace {

constexpr int32_t kBytesPerFrame = 4;
constexpr int32_t kRate = 44100;
constexpr auto kStartLimit = std::chrono::seconds(20);

void WriteText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

// The daemon, a null sink that drives the graph at 44100 Hz, and what the session manager
// and the clients need; nothing that looks for devices or a desktop portal. Real-time
// scheduling where allowed, as a desktop's PipeWire (and PulseAudio) has it.
constexpr const char* kPipeWireConf = R"(context.properties = {
    core.daemon = true
    core.name = pipewire-0
    link.max-buffers = 16
    default.clock.rate = 44100
    default.clock.allowed-rates = [ 44100 ]
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = spa-node-factory
        args = { factory.name = support.node.driver node.name = Dummy-Driver
                 node.group = pipewire.dummy priority.driver = 20000 } }
    { factory = adapter
        args = { factory.name = support.null-audio-sink node.name = oggmix_test
                 media.class = Audio/Sink object.linger = true audio.position = [ FL FR ]
                 audio.rate = 44100 monitor.channel-volumes = true node.driver = true
                 priority.driver = 30000 priority.session = 30000 } }
]
)";

constexpr const char* kWirePlumberConf = R"(context.properties = {
  log.level = 2
  wireplumber.script-engine = lua-scripting
}
context.spa-libs = {
  audio.convert.* = audioconvert/libspa-audioconvert
  support.* = support/libspa-support
}
context.modules = [
  { name = libpipewire-module-protocol-native }
  { name = libpipewire-module-client-node }
  { name = libpipewire-module-client-device }
  { name = libpipewire-module-adapter }
  { name = libpipewire-module-metadata }
  { name = libpipewire-module-session-manager }
]
wireplumber.components = [
  { name = libwireplumber-module-lua-scripting, type = module }
  { name = main.lua, type = config/lua }
  { name = policy.lua, type = config/lua }
]
)";

// Replaces the packaged file of the same name: no device monitors, and no flatpak portal (it
// needs a D-Bus session).
constexpr const char* kWirePlumberEnable =
    R"(default_access.properties["enable-flatpak-portal"] = false
load_module("metadata")
default_access.enable()
device_defaults.enable()
stream_defaults.enable()
)";

std::string PipeWirePulseConf(const std::string& socket) {
    return R"(context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-protocol-pulse
        args = { server.address = [ "unix:)" +
           socket + R"(" ] } }
]
)";
}

}  // namespace

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    const std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

uintmax_t SizeOf(const std::string& path) {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

int64_t MonotonicUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1'000'000 + now.tv_nsec / 1000;
}

SoundServer::SoundServer(Kind kind, std::string folder)
    : FKind(kind), FFolder(std::move(folder)), FSocket(FFolder + "/native") {
    const std::string runtime = FFolder + "/run";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    // The server and its clients keep their state in the folder, never the user's.
    setenv("HOME", FFolder.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (FFolder + "/config").c_str(), 1);
    setenv("PIPEWIRE_CONFIG_DIR", (FFolder + "/config/pipewire").c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + FSocket).c_str(), 1);
    unsetenv("PIPEWIRE_REMOTE");
    unsetenv("PIPEWIRE_RUNTIME_DIR");
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (FKind == Kind::PipeWire) WritePipeWireConfig();
}

SoundServer::~SoundServer() { (void)Stop(SIGTERM); }

void SoundServer::WritePipeWireConfig() const {
    const std::string config = FFolder + "/config";
    WriteText(config + "/pipewire/pipewire.conf", kPipeWireConf);
    WriteText(config + "/pipewire/pipewire-pulse.conf", PipeWirePulseConf(FSocket));
    WriteText(config + "/wireplumber/wireplumber.conf", kWirePlumberConf);
    WriteText(config + "/wireplumber/main.lua.d/90-enable-all.lua", kWirePlumberEnable);
}

std::vector<std::string> SoundServer::MissingPrograms() const {
    std::vector<std::string> needed{"pactl", "parec"};
    if (FKind == Kind::PulseAudio)
        needed.push_back("pulseaudio");
    else
        needed.insert(needed.end(), {"pipewire", "wireplumber", "pipewire-pulse"});
    std::vector<std::string> missing;
    for (const std::string& program : needed)
        if (FindProgram(program).empty()) missing.push_back(program);
    return missing;
}

std::string SoundServer::MissingMessage() const {
    const std::vector<std::string> missing = MissingPrograms();
    if (missing.empty()) return {};
    std::string message = "not installed (scripts/install-deps):";
    for (const std::string& name : missing) message += " " + name;
    return message;
}

bool SoundServer::Start() {
    (void)Stop(SIGTERM);
    std::filesystem::remove(FSocket);
    const auto log = [&](const char* name) { return FFolder + "/" + name + ".log"; };
    if (FKind == Kind::PulseAudio) {
        FProcesses.push_back(std::make_unique<Child>(
            FindProgram("pulseaudio"),
            std::vector<std::string>{
                "-n", "--exit-idle-time=-1", "--disable-shm=yes", "--daemonize=no",
                "--use-pid-file=no", "-L",
                "module-native-protocol-unix socket=" + FSocket + " auth-anonymous=1", "-L",
                std::string("module-null-sink sink_name=") + kSink + " norewinds=1"},
            "/dev/null", log("pulseaudio")));
    } else {
        const std::string daemonSocket = FFolder + "/run/pipewire-0";
        std::filesystem::remove(daemonSocket);
        FProcesses.push_back(std::make_unique<Child>(
            FindProgram("pipewire"), std::vector<std::string>{}, "/dev/null", log("pipewire")));
        if (!WaitUntil([&] { return std::filesystem::exists(daemonSocket); }, kStartLimit))
            return false;
        FProcesses.push_back(std::make_unique<Child>(FindProgram("wireplumber"),
                                                     std::vector<std::string>{}, "/dev/null",
                                                     log("wireplumber")));
        FProcesses.push_back(std::make_unique<Child>(FindProgram("pipewire-pulse"),
                                                     std::vector<std::string>{}, "/dev/null",
                                                     log("pipewire-pulse")));
    }
    const std::string pactl = FindProgram("pactl");
    return WaitUntil(
        [&] {
            const ProgramResult sinks = RunProgram(pactl, {"list", "short", "sinks"});
            return sinks.ExitCode == 0 && sinks.Out.find(kSink) != std::string::npos;
        },
        kStartLimit);
}

int SoundServer::Stop(int signal) {
    int status = -1;
    for (auto process = FProcesses.rbegin(); process != FProcesses.rend(); ++process) {
        const int exit = (*process)->Stop(signal);
        if (process == FProcesses.rbegin()) status = exit;
    }
    FProcesses.clear();
    return status;
}

MonitorRecorder::MonitorRecorder(const std::string& parec, std::string path)
    : FPath(std::move(path)),
      FParec(parec,
             {"--latency-msec=10", "-d", SoundServer::kMonitor, "--format=s16le", "--rate=44100",
              "--channels=2", "--raw"},
             FPath),
      FWatch([this] { Watch(); }) {}

void MonitorRecorder::Stop() {
    FStop.store(true);
    if (FWatch.joinable()) FWatch.join();
    (void)FParec.Stop(SIGTERM);
}

std::optional<int64_t> MonitorRecorder::StartUs() const {
    std::lock_guard guard(FMutex);
    return FStartUs;
}

void MonitorRecorder::Watch() {
    while (!FStop.load()) {
        const int64_t now = MonotonicUs();
        const auto frames = static_cast<int64_t>(SizeOf(FPath) / kBytesPerFrame);
        if (frames > 0) {
            const int64_t start = now - frames * 1'000'000 / kRate;
            std::lock_guard guard(FMutex);
            FStartUs = FStartUs ? std::min(*FStartUs, start) : start;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

BusyCores::BusyCores() {
    const std::string taskset = FindProgram("taskset");
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (taskset.empty() || sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
    int cores = 0;
    for (int cpu = 0; cpu < CPU_SETSIZE && cores < 2; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) continue;
        ++cores;
        for (int i = 0; i < 4; ++i)
            FBusy.push_back(std::make_unique<Child>(
                taskset, std::vector<std::string>{"-c", std::to_string(cpu), "yes"}));
    }
}

}  // namespace oggmix::test
