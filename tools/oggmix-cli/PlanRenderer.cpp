// PlanRenderer.cpp: a MusicPlayer on the "offline" back end, driven by the plan's steps.
#include "tools/oggmix-cli/PlanRenderer.h"

#include <oggmix/MusicPlayer.h>
#include <oggmix/MusicSetPlayer.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/PcmFormat.h"
#include "base/Utf8Path.h"
#include "base/platform/Platform.h"
#include "tools/oggmix-cli/Command.h"
#include "tools/oggmix-cli/MessageText.h"
#include "tools/oggmix-cli/OutputFile.h"
#include "tools/oggmix-cli/Progress.h"
#include "tools/oggmix-cli/WavWriter.h"

namespace oggmix::cli {
namespace {

constexpr int64_t kChunkFrames = 4096;

struct EventLine {
    int64_t Frame;
    std::string Text;  // everything after the frame
};

const char* KindName(MusicEventKind kind) {
    switch (kind) {
        case MusicEventKind::Beat: return "beat";
        case MusicEventKind::Bar: return "bar";
        case MusicEventKind::CueReached: return "cue";
        case MusicEventKind::Looped: return "looped";
        case MusicEventKind::Ended: return "ended";
        case MusicEventKind::TransitionStart: return "transition-start";
        case MusicEventKind::TransitionEnd: return "transition-end";
        case MusicEventKind::DeviceLost:
        case MusicEventKind::DeviceBack: break;  // an offline render has no device
    }
    return nullptr;
}

std::string DetailOf(const MusicEvent& event) {
    switch (event.Kind) {
        case MusicEventKind::Beat:
        case MusicEventKind::Bar:
            return std::to_string(event.Bar) + "." + std::to_string(event.BeatInBar);
        case MusicEventKind::CueReached:
        case MusicEventKind::Looped: return std::to_string(event.CueIndex);
        default: return "-";
    }
}

PlayerOptions Offline() {
    PlayerOptions options;
    options.Backend = "offline";
    return options;
}

class PlanRun {
public:
    PlanRun(const std::string& wavPath, int64_t lengthFrames, const std::optional<MusicSet>& set,
            std::optional<uint64_t> seed)
        : FPlayer(Offline()),
          FWav(wavPath, lengthFrames),
          FLength(lengthFrames),
          FProgress(lengthFrames),
          FChunk(2 * kChunkFrames) {
        if (!set) return;
        FSet.emplace(FPlayer, *set);
        if (seed) FSet->SetPlaylistSeed(*seed);
        if (!set->InitialState.empty()) FSet->SetState(set->InitialState);
        for (const SetTrack& track : set->Tracks) Name(track.Name, FSet->TrackOf(track.Name));
    }

    // Mixes the output up to frame (or the end), collecting the events of what was mixed.
    // False when the WAV cannot be written.
    [[nodiscard]] bool RenderTo(int64_t frame) {
        frame = std::min(frame, FLength);
        while (FWav.FramesWritten() < frame) {
            const int64_t frames = std::min(kChunkFrames, frame - FWav.FramesWritten());
            const std::span<int16_t> chunk =
                std::span(FChunk).first(static_cast<size_t>(2 * frames));
            FPlayer.RenderOffline(chunk);
            if (!FWav.Write(chunk)) return false;
            for (const MusicEvent& event : FPlayer.Poll()) Keep(event);
            if (FSet)
                for (const SetEvent& event : FSet->Update()) Keep(event);
            FProgress.Update(FWav.FramesWritten());
        }
        return true;
    }

    void Do(const PlanStep& step) {
        std::visit([this](const auto& action) { Call(action); }, step.Action);
    }

    [[nodiscard]] bool FinishWav() { return FWav.Finish(); }

    // The events heard within the output, by frame, those of one frame in the order told.
    [[nodiscard]] bool WriteEvents(const std::string& path) {
        std::stable_sort(FEvents.begin(), FEvents.end(),
                         [](const EventLine& a, const EventLine& b) { return a.Frame < b.Frame; });
        std::ofstream out(PathFromUtf8(path), std::ios::binary);
        for (const EventLine& line : FEvents)
            if (line.Frame < FLength) out << line.Frame << ' ' << line.Text << '\n';
        out.close();
        return static_cast<bool>(out);
    }

private:
    void Keep(const MusicEvent& event) {
        const char* kind = KindName(event.Kind);
        if (kind == nullptr) return;
        const auto named = FNames.find(event.Which.Id);
        const std::string name = named == FNames.end() ? "-" : named->second;
        FEvents.push_back({event.Frame, std::string(kind) + ' ' + name + ' ' + DetailOf(event)});
    }

    void Keep(const SetEvent& event) {
        switch (event.Kind) {
            case SetEventKind::StateChanged:
                FEvents.push_back({event.Frame, "state " + (event.From.empty() ? "-" : event.From) +
                                                    ' ' + event.To});
                break;
            case SetEventKind::PlaylistAdvanced:
                FEvents.push_back({event.Frame, "playlist " + event.Name + ' ' + event.Item});
                break;
            case SetEventKind::Ducked: {
                char db[32];
                std::snprintf(db, sizeof db, "%g", event.Db);
                FEvents.push_back({event.Frame, "duck " + event.Name + ' ' + db});
                break;
            }
        }
    }

    Track Named(const std::string& name) const { return FTracks.at(name); }
    void Name(const std::string& name, Track track) {
        FTracks[name] = track;
        FNames[track.Id] = name;
    }

    void Call(const LoadStep& step) { Name(step.Name, FPlayer.Load(step.Path)); }
    void Call(const TempoStep& step) { FPlayer.SetTempo(Named(step.Name), step.Grid); }
    void Call(const LayerStep& step) {
        std::vector<Track> layers;
        for (const std::string& layer : step.Layers) layers.push_back(Named(layer));
        Name(step.Group, FPlayer.MakeLayerGroup(layers));
    }
    void Call(const PlayStep& step) {
        if (step.AtFrame)
            FPlayer.PlayAt(Named(step.Name), *step.AtFrame, step.Options);
        else
            FPlayer.Play(Named(step.Name), step.Options);
    }
    void Call(const TransitionStep& step) {
        TransitionOptions options = step.Options;
        if (!step.Via.empty()) options.Bridge = Named(step.Via);
        FPlayer.Transition(Named(step.From), Named(step.To), options);
    }
    void Call(const VolumeStep& step) {
        FPlayer.SetVolume(Named(step.Name), step.Volume, step.Change);
    }
    void Call(const StingerStep& step) {
        StingerOptions options = step.Options;
        options.Grid = Named(step.Grid);
        FPlayer.PlayStinger(Named(step.Name), options);
    }
    void Call(const StopStep& step) { FPlayer.Stop(Named(step.Name), step.FadeSec); }
    void Call(const PauseStep& step) {
        if (step.Resume)
            FPlayer.Resume(Named(step.Name));
        else
            FPlayer.Pause(Named(step.Name));
    }
    void Call(const SeekStep& step) { FPlayer.Seek(Named(step.Name), step.Seconds); }
    void Call(const SetStateStep& step) { FSet->SetState(step.State); }
    void Call(const SetParamStep& step) { FSet->SetParameter(step.Name, step.Value, step.FadeSec); }
    void Call(const SetStingerStep& step) { FSet->TriggerStinger(step.Name); }

    MusicPlayer FPlayer;
    std::optional<MusicSetPlayer> FSet;  // after the player: unloads its tracks first
    WavWriter FWav;
    int64_t FLength;
    Progress FProgress;
    std::vector<int16_t> FChunk;
    std::map<std::string, Track> FTracks;
    std::unordered_map<uint32_t, std::string> FNames;
    std::vector<EventLine> FEvents;
};

}  // namespace

int RenderPlanToFiles(const RenderPlan& plan, const PlanOutput& output) {
    const PlanStep* current = nullptr;
    const auto cannotWrite = [](const std::string& path) {
        std::fprintf(stderr, "oggmix-cli: %s: cannot write\n", Printable(path).c_str());
        return kExitFailure;
    };
    try {
        OutputFile wav(output.WavPath);
        std::optional<OutputFile> events;
        if (!output.EventsPath.empty()) events.emplace(output.EventsPath);
        PlanRun run(wav.Path(), output.LengthFrames, plan.Set, output.Seed);
        bool written = true;
        for (const PlanStep& step : plan.Steps) {
            if (step.Frame >= output.LengthFrames) break;
            current = nullptr;  // a failure while mixing belongs to no line
            written = run.RenderTo(step.Frame);
            if (!written) break;
            current = &step;
            run.Do(step);
        }
        current = nullptr;
        if (!(written && run.RenderTo(output.LengthFrames) && run.FinishWav()))
            return cannotWrite(output.WavPath);
        if (events && !run.WriteEvents(events->Path())) return cannotWrite(output.EventsPath);
        if (!wav.Place()) return cannotWrite(output.WavPath);
        if (events && !events->Place()) return cannotWrite(output.EventsPath);
        return kExitOk;
    } catch (const MusicError& error) {
        if (current != nullptr)
            std::fprintf(stderr, "oggmix-cli: %s:%d: %s\n", Printable(plan.Path).c_str(),
                         current->Line, Printable(error.what()).c_str());
        else
            std::fprintf(stderr, "oggmix-cli: %s: %s\n", Printable(plan.Path).c_str(),
                         Printable(error.what()).c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "oggmix-cli: %s\n", Printable(error.what()).c_str());
    }
    return kExitFailure;
}

}  // namespace oggmix::cli
