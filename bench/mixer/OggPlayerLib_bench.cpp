// OggPlayerLib_bench.cpp: the mixer with several playing streams, against rendering the same
// streams one by one without mixing them.
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "bench/BenchTable.h"
#include "mixer/OggPlayerLib.h"

namespace oggmix::bench {
namespace {

constexpr int32_t kMixerSlots = 8;

// Stream i starts i / count of the way into the file, so the streams play different music.
float StartSec(int32_t index, int32_t count) {
    return static_cast<float>(kMusicSec * index / count);
}

FigureWork MixerWork(int32_t streamCount) {
    struct Rig {
        std::vector<std::unique_ptr<TOggData>> Mixed;
        std::vector<std::unique_ptr<TOggData>> Alone;
        std::unique_ptr<TOggPlayer> Player;
        ~Rig() {
            if (Player) Player->Reset();  // empties the slots before the streams go
        }
    };
    auto rig = std::make_shared<Rig>();
    rig->Player = std::make_unique<TOggPlayer>(kBufferBytes, kMixerSlots);
    for (int32_t i = 0; i < streamCount; ++i) {
        rig->Mixed.push_back(PlayingStream(StereoFile(), StartSec(i, streamCount)));
        rig->Alone.push_back(PlayingStream(StereoFile(), StartSec(i, streamCount)));
        rig->Player->SetSlot(i, rig->Mixed.back().get(), true);
    }
    FigureWork work;
    work.Candidate = [rig] { rig->Player->RenderNext(); };
    work.Baseline = [rig] {
        for (auto& stream : rig->Alone) (void)stream->RenderNext(0);
    };
    return work;
}

void AddMixerFigure(int32_t streamCount, double target) {
    FigureDef def;
    def.Name = "mixer/" + std::to_string(streamCount);
    def.Caption = "mixer, " + std::to_string(streamCount) + " streams playing";
    def.BaselineText = "their renders";
    def.Target = target;
    def.Iterations = BlocksPerFile() / 2;
    AddFigure(def, [streamCount] { return MixerWork(streamCount); });
}

}  // namespace

void AddMixerFigures() {
    AddMixerFigure(2, 0.0);
    AddMixerFigure(8, 1.03);
}

}  // namespace oggmix::bench
