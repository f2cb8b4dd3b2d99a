// main.cpp: oggmix-cli's entry: dispatches to the registered subcommands; --help and
// --version; refuses an OGGMIX_SIMD that cannot be met before doing anything else.
#include <algorithm>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/platform/Platform.h"
#include "stream/SimdLevel.h"
#include "tools/oggmix-cli/Command.h"
#include "tools/oggmix-cli/CommandLine.h"

namespace oggmix::cli {
namespace {

std::vector<Command>& Registry() {
    static std::vector<Command> commands;
    return commands;
}

// A command's usage: its synopsis, what it does, and its options from the option table.
std::string UsageOf(const Command& command) {
    std::string text = std::string("  ") + command.Synopsis + "\n      ";
    for (const char c : std::string_view(command.About)) {
        text += c;
        if (c == '\n') text += "      ";
    }
    return text + '\n' + OptionsUsage(command.Id);
}

void PrintUsageTo(std::FILE* out) {
    auto commands = Registry();
    std::sort(commands.begin(), commands.end(),
              [](const Command& a, const Command& b) { return a.Id < b.Id; });
    std::fputs("usage:\n", out);
    for (const Command& command : commands) std::fputs(UsageOf(command).c_str(), out);
    std::fputs("  oggmix-cli --help\n", out);
    std::fputs("  oggmix-cli --version\n", out);
}

void PrintUsage() { PrintUsageTo(stderr); }

// The version and the instruction-set level of the render kernels (OGGMIX_SIMD chooses it).
void PrintVersion() {
    std::printf("oggmix-cli %s\nsimd %s\n", OGGMIX_VERSION, SimdLevelName(ActiveSimdLevel()));
}

}  // namespace

bool RegisterCommand(const Command& command) {
    Registry().push_back(command);
    return true;
}

int UsageError(const char* command, const std::string& message) {
    std::fprintf(stderr, "oggmix-cli %s: %s\n", command, message.c_str());
    PrintUsage();
    return kExitUsage;
}

}  // namespace oggmix::cli

int main(int argc, char** argv) {
    using namespace oggmix::cli;
    const std::vector<std::string> args = oggmix::platform::ProgramArguments(argc, argv);
    oggmix::platform::UseBinaryStdout();
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
        if (!AsksForHelp(rest)) return command.Run(rest);
        std::printf("usage:\n%s", UsageOf(command).c_str());
        if (command.Details != nullptr) std::printf("\n%s", command.Details);
        return kExitOk;
    }
    std::fprintf(stderr, "oggmix-cli: unknown command '%s'\n", args[0].c_str());
    PrintUsage();
    return kExitUsage;
}
