// InfoCommand.cpp: `oggmix-cli info FILE...`: stream information, comments and loop cues.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "stream/OggDataLib.h"
#include "tools/oggmix-cli/Command.h"
#include "tools/oggmix-cli/CommandLine.h"
#include "tools/oggmix-cli/StreamFiles.h"

namespace oggmix::cli {
namespace {

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

int Run(std::span<const std::string> args) {
    CommandLine line;
    if (const std::string error = ParseCommandLine(kInfo, args, line); !error.empty())
        return UsageError("info", error);
    if (line.Files.empty()) return UsageError("info", "no file given");
    if (!BindDecoderBesideExecutable()) return kExitFailure;

    int status = kExitOk;
    bool first = true;
    TOggData data(kStreamBufferBytes);
    data.SetLoopStartTags(line.Mix.LoopTags);
    for (const std::string& path : line.Files) {
        try {
            if (!data.LoadFromFile(path)) {
                Fail(path, WhyNotLoaded(path));
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

const bool kRegistered = RegisterCommand(
    {"info", kInfo, "oggmix-cli info FILE... [--loop-tags]",
     "prints each file's vendor, comments, format, length and loop cues", Run, nullptr});

}  // namespace
}  // namespace oggmix::cli
