// main.cpp: oggmix-cli's entry: dispatches to the registered subcommands; --help and
// --version; refuses an OGGMIX_SIMD that cannot be met before doing anything else.
#include <algorithm>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "stream/SimdLevel.h"
#include "tools/oggmix-cli/Command.h"

namespace oggmix::cli {
namespace {

std::vector<Command>& Registry() {
    static std::vector<Command> commands;
    return commands;
}

void PrintUsageTo(std::FILE* out) {
    auto commands = Registry();
    std::sort(commands.begin(), commands.end(),
              [](const Command& a, const Command& b) { return a.Order < b.Order; });
    std::fputs("usage:\n", out);
    for (const Command& command : commands) std::fprintf(out, "%s\n", command.Usage);
    std::fputs("  oggmix-cli --help\n", out);
    std::fputs("  oggmix-cli --version\n", out);
}

// The version and the instruction-set level of the render kernels (OGGMIX_SIMD chooses it).
void PrintVersion() {
    std::printf("oggmix-cli %s\nsimd %s\n", OGGMIX_VERSION, SimdLevelName(ActiveSimdLevel()));
}

// --help or -h among a subcommand's options (those before a "--").
bool WantsHelp(std::span<const std::string> args) {
    const auto options = std::find(args.begin(), args.end(), "--");
    return std::any_of(args.begin(), options,
                       [](const std::string& arg) { return arg == "--help" || arg == "-h"; });
}

}  // namespace

bool RegisterCommand(const Command& command) {
    Registry().push_back(command);
    return true;
}

void PrintUsage() { PrintUsageTo(stderr); }

}  // namespace oggmix::cli

int main(int argc, char** argv) {
    using namespace oggmix::cli;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (const oggmix::SimdChoice simd = oggmix::SimdLevelFromEnvironment(); simd.Refusal) {
        std::fprintf(stderr, "oggmix-cli: %s\n", simd.Refusal);
        return kExitUsage;
    }
    if (args.empty()) {
        PrintUsage();
        return kExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        PrintUsageTo(stdout);
        return kExitOk;
    }
    if (args[0] == "--version") {
        PrintVersion();
        return kExitOk;
    }
    for (const Command& command : Registry()) {
        if (args[0] != command.Name) continue;
        const auto rest = std::span<const std::string>(args).subspan(1);
        if (!WantsHelp(rest)) return command.Run(rest);
        const std::string usage = command.Usage;
        std::printf("usage:\n%s%s", usage.c_str(), usage.ends_with('\n') ? "" : "\n");
        return kExitOk;
    }
    std::fprintf(stderr, "oggmix-cli: unknown command '%s'\n", args[0].c_str());
    PrintUsage();
    return kExitUsage;
}
