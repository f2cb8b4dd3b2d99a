// voxa_log_probe: runs the sound output's error path as a program of its own, so that tests
// can check the log file that lands beside it. Usage:
//   voxa_log_probe BITS COMMAND...
// BITS is the DebugOption byte; commands run in order:
//   check:HEX:MESSAGE   CheckResult with the 32-bit value HEX
//   report:MESSAGE      ReportError
//   channel:INDEX       GetChannel on a component on the manual device
//   threads:N:M         N threads report M lines each at once
//   release-device      destroys a component whose device holds one reference too many
// An EVOXA is printed as "EVOXA:<message>" on standard output and the next command runs;
// an EInOutError is printed likewise and ends the program with status 3.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sound/voxa.h"

using namespace oggmix;

namespace {

std::unique_ptr<TVOXA> MakeVoxa(TVOXADebugOption options) {
    auto voxa = std::make_unique<TVOXA>(nullptr);
    voxa->SetDebugOption(options);
    voxa->Loaded();
    return voxa;
}

void Run(const std::string& command, TVOXADebugOption options) {
    const auto colon = command.find(':');
    const std::string verb = command.substr(0, colon);
    const std::string rest = colon == std::string::npos ? "" : command.substr(colon + 1);
    if (verb == "check") {
        const auto second = rest.find(':');
        const auto value = static_cast<HRESULT>(std::stoul(rest.substr(0, second), nullptr, 16));
        std::printf("result:%X\n",
                    static_cast<uint32_t>(CheckResult(value, rest.substr(second + 1))));
    } else if (verb == "report") {
        ReportError(rest);
    } else if (verb == "channel") {
        const auto voxa = MakeVoxa(options);
        std::printf("channel:%s\n", voxa->GetChannel(std::stoi(rest)) ? "found" : "none");
    } else if (verb == "threads") {
        const auto second = rest.find(':');
        const int threads = std::stoi(rest.substr(0, second));
        const int lines = std::stoi(rest.substr(second + 1));
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([t, lines] {
                for (int k = 0; k < lines; ++k)
                    ReportError("スレッド" + std::to_string(t) + " 行" + std::to_string(k));
            });
        for (auto& worker : workers) worker.join();
    } else if (verb == "release-device") {
        auto voxa = MakeVoxa(options);
        IDirectSound8* device = voxa->DirectSound();
        device->AddRef();  // the device outlives the component by this reference
        voxa.reset();
        device->Release();
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    setenv("OGGMIX_AUDIO", "manual", 1);
    const auto options = TVOXADebugOption::FromBits(static_cast<uint8_t>(std::atoi(argv[1])));
    TVOXA(nullptr).SetDebugOption(options);  // the unit's flags follow the last writer
    for (int i = 2; i < argc; ++i) {
        try {
            Run(argv[i], options);
        } catch (const EVOXA& e) {
            std::printf("EVOXA:%s\n", e.what());
        } catch (const EInOutError& e) {
            std::printf("EInOutError:%s\n", e.what());
            return 3;
        }
        std::fflush(stdout);
    }
    return 0;
}
