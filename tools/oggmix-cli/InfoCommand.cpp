// InfoCommand.cpp: `oggmix-cli info FILE...`: stream information, comments and loop cues.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "stream/OggDataLib.h"
#include "tools/oggmix-cli/Command.h"
#include "tools/oggmix-cli/StreamFiles.h"

namespace oggmix::cli {
namespace {

constexpr const char* kUsage =
    "  oggmix-cli info FILE... [--loop-tags]\n"
    "      prints each file's vendor, comments, format, length and loop cues\n"
    "      --loop-tags              also read cues from LOOPSTART with LOOPLENGTH or LOOPEND";
constexpr int32_t kStreamBufferBytes = 65536;

// One comment per line: its own line breaks are shown as \r and \n.
std::string Escaped(const std::string& comment) {
    std::string shown;
    shown.reserve(comment.size());
    for (const char c : comment) {
        if (c == '\r')
            shown += "\\r";
        else if (c == '\n')
            shown += "\\n";
        else
            shown += c;
    }
    return shown;
}

void Print(const std::string& path, TOggData& data) {
    std::printf("File: %s\n", path.c_str());
    std::printf("Vendor: %s\n", data.Vendor().c_str());
    for (const std::string& comment : data.Comments())
        std::printf("Comment: %s\n", Escaped(comment).c_str());
    std::printf("Channels: %d\n", data.Channels());
    std::printf("Rate: %d\n", data.Rate());
    std::printf("PcmTotal: %lld\n", static_cast<long long>(data.PcmTotal()));
    std::printf("TotalTime: %.15g\n", static_cast<double>(data.TotalTime()));
    std::printf("TotalSize: %lld\n", static_cast<long long>(data.TotalSize()));
    std::printf("Seekable: %s\n", data.Seekable() ? "yes" : "no");
    if (const std::string reason = SilenceReason(data); reason.empty())
        std::printf("Playable: yes\n");
    else
        std::printf("Playable: no (%s)\n", reason.c_str());
    for (size_t index = 0; index < data.Cues().size(); ++index) {
        const TLoopCue& cue = data.Cues()[index];
        if (cue.Count == 0) continue;
        std::printf("Cue %zu: %.9g %.9g %d\n", index, static_cast<double>(cue.LoopStart),
                    static_cast<double>(cue.LoopEnd), cue.Count);
    }
}

void Fail(const std::string& path, const char* why) {
    std::fflush(stdout);  // keep the order of the two streams on a terminal
    std::fprintf(stderr, "oggmix-cli: %s: %s\n", path.c_str(), why);
}

int UsageError(const std::string& why) {
    std::fprintf(stderr, "oggmix-cli info: %s\n", why.c_str());
    PrintUsage();
    return kExitUsage;
}

int Run(std::span<const std::string> args) {
    std::vector<std::string> files;
    bool loopTags = false;
    bool options = true;
    for (const std::string& arg : args) {
        if (options && arg == "--") {
            options = false;
        } else if (options && (arg == "--help" || arg == "-h")) {
            std::printf("%s\n", kUsage);
            return kExitOk;
        } else if (options && arg == "--loop-tags") {
            loopTags = true;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option '" + arg + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return UsageError("no file given");
    if (!BindDecoderBesideExecutable()) return kExitFailure;

    int status = kExitOk;
    bool first = true;
    TOggData data(kStreamBufferBytes);
    data.SetLoopStartTags(loopTags);
    for (const std::string& path : files) {
        try {
            if (!data.LoadFromFile(path)) {
                Fail(path, "no such file");
                status = kExitFailure;
                continue;
            }
        } catch (const std::exception& e) {
            Fail(path, e.what());
            status = kExitFailure;
            continue;
        }
        if (!first) std::printf("\n");
        first = false;
        Print(path, data);
    }
    data.Close();
    return status;
}

const bool kRegistered = RegisterCommand({"info", 10, kUsage, Run});

}  // namespace
}  // namespace oggmix::cli
