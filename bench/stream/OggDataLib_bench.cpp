// OggDataLib_bench.cpp: one stream rendered block by block through RenderNext, against
// decoding the same stretch of the same file with nothing but libvorbisfile.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "bench/BenchFiles.h"
#include "bench/BenchTable.h"
#include "stream/FilterPresets.h"
#include "stream/SimdLevel.h"

namespace oggmix::bench {
namespace {

// A five-second preset takes about 3.6 s of sound to land (the curve moves by the frames
// loaded, not emitted); switching every 16 blocks (3.0 s) keeps every point moving.
constexpr int32_t kBlocksPerPresetSwitch = 16;

struct StreamSetup {
    bool FilterMoving = false;
    bool GainControl = false;
    // The level the stream renders on; the active one when unset.
    std::optional<SimdLevel> Level = std::nullopt;
    bool Fading = false;  // fade and pan ramps running all the time
};

// Five-second fades between full and a tenth (never so low that the stream pauses) and pans
// from side to side, one after another.
constexpr int32_t kBlocksPerFade = 27;

void ApplyPreset(TOggData& stream, const char* caption) {
    const FilterPreset& preset = *FindFilterPreset(caption);
    const auto& v = preset.Values;
    stream.SetFilterCurve4(v[0], v[1], v[2], v[3], kFilterPresetSeconds);
}

FigureWork StreamWork(const BenchFile& file, StreamSetup setup) {
    std::shared_ptr<TOggData> stream = PlayingStream(file);
    auto floor = std::make_shared<FloorDecoder>(file);
    if (setup.GainControl) stream->SetAGC(1.0f);
    FigureWork work;
    if (setup.Level) {
        work.Candidate = [stream, level = *setup.Level] {
            const SimdLevel active = ActiveSimdLevel();
            SetSimdLevel(level);
            (void)stream->RenderNext(0);
            SetSimdLevel(active);
        };
    } else {
        work.Candidate = [stream] { (void)stream->RenderNext(0); };
    }
    work.Baseline = [floor] { floor->DecodeBlock(); };
    if (setup.Fading) {
        auto blocks = std::make_shared<int32_t>(0);
        work.BeforeUnit = [stream, blocks] {
            const int32_t n = (*blocks)++;
            if (n % kBlocksPerFade != 0) return;
            const bool down = (n / kBlocksPerFade) % 2 == 0;
            stream->Fade(down ? 0.1f : 1.0f, 5.0f);
            stream->SetPan(down ? -0.8f : 0.8f, 5.0f);
        };
    }
    if (setup.FilterMoving) {
        auto blocks = std::make_shared<int32_t>(0);
        work.BeforeUnit = [stream, blocks] {
            const int32_t n = (*blocks)++;
            if (n % kBlocksPerPresetSwitch == 0)
                ApplyPreset(*stream,
                            (n / kBlocksPerPresetSwitch) % 2 == 0 ? "LowReso" : "HighReso");
        };
    }
    return work;
}

void AddStreamFigure(const std::string& name, const std::string& caption,
                     const BenchFile& (*file)(), StreamSetup setup, double target,
                     const char* floorCaption = "") {
    FigureDef def;
    def.Name = name;
    def.Caption = caption;
    def.BaselineText = "decode floor";
    def.Target = target;
    def.FloorCaption = floorCaption;
    def.Iterations = BlocksPerFile();
    AddFigure(def, [file, setup] { return StreamWork(file(), setup); });
}

// The filter with gain control again on each level the processor runs.
void AddLevelFigures(const std::string& name, const BenchFile& (*file)()) {
    for (const SimdLevel level : {SimdLevel::Scalar, SimdLevel::Sse2, SimdLevel::Avx2}) {
        if (static_cast<int32_t>(level) > static_cast<int32_t>(SupportedSimdLevel())) continue;
        const std::string levelName = SimdLevelName(level);
        AddStreamFigure(name + "/" + levelName, "  the same on the " + levelName + " kernels", file,
                        {true, true, level}, 0.0);
    }
}

// The loop end lies a tenth of a second into the block that starts at kCueBlockStartSec; the
// zero-length cue's end is a time at which the decoder used to land a frame before the cue.
constexpr float kCueBlockStartSec = 29.9f;
constexpr const char* kZeroLengthCue = "COMMENT=*looptime,0,30.0000204,30.0000204,-1";
constexpr const char* kOrdinaryCue = "COMMENT=*looptime,0,20.0,30.0000204,-1";

// Blocks that hold a cue's end: one with a cue that would jump onto itself, against one with
// an ordinary jump back. Each block starts from a seek made before it, untimed.
void AddCueFigure() {
    FigureDef def;
    def.Name = "render/stereo/zero-length-cue";
    def.Caption = "render 44.1 kHz stereo, a zero-length cue in the block";
    def.BaselineText = "the same with one jump";
    def.Target = 1.0;
    def.Iterations = BlocksPerFile();
    AddFigure(def, [] {
        std::shared_ptr<TOggData> still =
            PlayingStream(WithComments(StereoFile(), {kZeroLengthCue}));
        std::shared_ptr<TOggData> jumping =
            PlayingStream(WithComments(StereoFile(), {kOrdinaryCue}));
        FigureWork work;
        work.Candidate = [still] { (void)still->RenderNext(0); };
        work.Baseline = [jumping] { (void)jumping->RenderNext(0); };
        work.BeforeUnit = [still, jumping] {
            still->Seek(kCueBlockStartSec, true);
            jumping->Seek(kCueBlockStartSec, true);
        };
        return work;
    });
}

// Seeks of a converted stream: a position prepared off the lock (untimed) and swapped in,
// against the exact seek, which restarts the converter under the lock. The candidate's time
// bounds how long it holds FLock from above: it includes freeing what it swapped out, after
// the lock is released.
constexpr int32_t kSeeksPerRepetition = 1000;

void AddSeekFigure() {
    FigureDef def;
    def.Name = "seek/stereo48/prepared";
    def.Caption = "seek 48 kHz stereo, converted: ApplyPosition of a prepared position";
    def.BaselineText = "SeekFrame";
    def.Unit = FigureUnit::Call;
    def.Iterations = kSeeksPerRepetition;
    AddFigure(def, [] {
        std::shared_ptr<TOggData> prepared = PlayingStream(Stereo48File());
        std::shared_ptr<TOggData> exact = PlayingStream(Stereo48File());
        auto next = std::make_shared<std::unique_ptr<PreparedPosition>>();
        auto frame = std::make_shared<int64_t>(0);
        FigureWork work;
        work.Candidate = [prepared, next] { prepared->ApplyPosition(std::move(*next), true); };
        work.Baseline = [exact, frame] { exact->SeekFrame(*frame, true); };
        work.BeforeUnit = [prepared, next, frame] {
            // Steps of 0.37 s across the file, so no two seeks land alike.
            *frame = (*frame + 17783) % std::max<int64_t>(1, prepared->PcmTotal());
            *next = prepared->PreparePosition(*frame);
        };
        return work;
    });
}

}  // namespace

void AddStreamFigures() {
    AddStreamFigure("render/stereo/defaults", "render 44.1 kHz stereo, defaults", &StereoFile, {},
                    1.05, "decode floor 44.1 kHz stereo (ov_read, 4096-byte reads), per block");
    AddStreamFigure("render/stereo/filter", "render 44.1 kHz stereo, filter moving", &StereoFile,
                    {true, false}, 0.0);
    AddStreamFigure("render/stereo/fading", "render 44.1 kHz stereo, fade and pan ramping",
                    &StereoFile, {.Fading = true}, 0.0);
    AddStreamFigure("render/stereo/agc", "render 44.1 kHz stereo, gain control on", &StereoFile,
                    {false, true}, 0.0);
    AddStreamFigure("render/stereo/filter+agc",
                    "render 44.1 kHz stereo, filter moving + gain control", &StereoFile,
                    {true, true}, 1.25);
    AddLevelFigures("render/stereo/filter+agc", &StereoFile);
    AddStreamFigure("render/mono22/defaults", "render 22.05 kHz mono, defaults", &MonoFile, {}, 0.0,
                    "decode floor 22.05 kHz mono (ov_read, 4096-byte reads), per block");
    AddStreamFigure("render/mono22/filter+agc",
                    "render 22.05 kHz mono, filter moving + gain control", &MonoFile, {true, true},
                    2.0);
    AddLevelFigures("render/mono22/filter+agc", &MonoFile);
    AddCueFigure();
    AddStreamFigure("render/stereo48/defaults", "render 48 kHz stereo, converted", &Stereo48File,
                    {}, 1.30, "decode floor 48 kHz stereo (ov_read, 4096-byte reads), per block");
    AddStreamFigure("render/mono32/defaults", "render 32 kHz mono, converted", &Mono32File, {},
                    1.40, "decode floor 32 kHz mono (ov_read, 4096-byte reads), per block");
    AddSeekFigure();
}

}  // namespace oggmix::bench
