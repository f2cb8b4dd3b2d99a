// OggDataLib_Load_fuzz.cpp: any bytes loaded as a music file and, when they load, played
// through a mixer slot as the test application plays it: blocks with the file's own loop cues,
// seeks, pauses, stops, reloads while in the slot, narrow renders, fades, pan, the tone
// filter, the gain control and the display's read-outs, steered by the script at the end of
// the input (FuzzInput.h).
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "base/Clock.h"
#include "base/Exceptions.h"
#include "base/MemoryStream.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "mixer/OggPlayerLib.h"
#include "stream/OggDataLib.h"
#include "tests/support/TestPaths.h"

namespace oggmix::fuzz {
namespace {

// Small blocks (512 frames) keep every input quick; the render path is the same.
constexpr int32_t kBufferSize = 4096;
constexpr int64_t kBlockMs = 12;
constexpr const char* kLoadFailed = "ファイルの読み込みに失敗";

// Loads a copy of bytes; false when it is refused, which must happen with the load message
// and leave the object closed.
bool Load(TOggData& data, const std::vector<uint8_t>& bytes) {
    try {
        Check(data.LoadFromStream(std::make_unique<MemoryStream>(bytes)),
              "a load of a stream reports false");
        Check(data.GetState(true) == 1, "a loaded stream is not stopped");
        return true;
    } catch (const ERangeError& error) {
        Check(std::strcmp(error.what(), kLoadFailed) == 0, "a refusal without the load message");
        Check(data.GetState(true) == 0, "a refused load leaves the object open");
        return false;
    }
}

void RenderBlock(TOggPlayer& player, TOggData& data) {
    player.RenderNext();
    test_clock::Advance(kBlockMs);
    const int16_t* block = player.GetBlock();
    for (int32_t i = 0; i < player.BlockBytes() / 2; ++i)
        Check(block[i] >= -32767, "the mix holds -32768");
    const int32_t state = data.GetState(true);
    Check(state >= 0 && state <= 3, "a play state outside 0..3");
}

void RenderNarrow(TOggData& data, int32_t countBytes) {
    std::array<uint8_t, 4200> out;
    out.fill(0xA5);
    const int32_t done = data.Render(out.data(), countBytes, 0, false, true);
    Check(done >= 0 && done <= countBytes && done % 4 == 0, "a narrow render returns a bad count");
    for (int32_t i = done; i < countBytes; ++i)
        Check(out[i] == 0, "the rest of a render is not zero");
    Check(out[countBytes] == 0xA5, "a narrow render writes past its count");
}

void ChangeSettings(TOggData& data, TOggPlayer& player, uint8_t argument) {
    switch (argument % 4) {
        case 0:
            data.Fade(static_cast<float>(argument / 4) / 4.0f,
                      static_cast<float>(argument / 16) * 0.05f);
            break;
        case 1:
            player.SetFilterCurve4(0, argument & 4 ? 2.0f : 0.0f, 1.0f, argument & 8 ? 0.0f : 2.0f,
                                   1.0f, static_cast<float>(argument / 16) * 0.05f);
            break;
        case 2: data.SetAGC(static_cast<float>(argument) / 31.0f); break;
        default: data.SetPan(static_cast<float>(argument) / 15.5f - 1.0f, 0.02f); break;
    }
}

void ReadDisplay(TOggData& data, TOggPlayer& player, uint8_t argument) {
    test_clock::Advance(argument * 7);
    const float playTime = player.GetPlayTime(0);
    Check(playTime >= 0.0f, "a play time below 0 or NaN");
    (void)player.GetTime(0);
    std::array<float, kSpectrumValueCount> values{};
    player.GetSpectrum(0, values.data());
    player.GetMixSpectrum(values.data());
    const float level = player.GetLevel(2);
    Check(level >= 0.0f && level <= 1.0f, "a level outside 0..1");
    (void)data.Seekable();
}

}  // namespace
}  // namespace oggmix::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    oggmix::test::BindDecoder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace oggmix;
    using namespace oggmix::fuzz;
    FuzzedDataProvider input(data, size);
    std::array<uint8_t, kLoadScriptBytes> script{};
    for (uint8_t& step : script) step = input.ConsumeIntegral<uint8_t>();
    const std::vector<uint8_t> file = input.ConsumeRemainingBytes<uint8_t>();
    // Every input starts at the same moment, so that a finding repeats from its input alone.
    test_clock::Pin(1000);

    TOggData stream(kBufferSize);
    TOggPlayer player(kBufferSize, 1);
    if (!Load(stream, file)) return 0;
    player.SetSlot(0, &stream, true);
    player.Play(0, true);
    for (const uint8_t step : script) {
        const uint8_t argument = StepArgument(step);
        switch (StepAction(step)) {
            case 0:
            case 1: RenderBlock(player, stream); break;
            case 2: player.Play(0, (argument & 1) != 0); break;
            case 3:
                player.Seek(0, stream.TotalTime() * static_cast<float>(argument) / 24.0f);
                break;
            case 4:
                if (argument < 16)
                    player.Pause(0);
                else if (argument < 24)
                    player.Stop(0);
                else if (Load(stream, file))
                    player.Play(0, true);
                break;
            case 5: RenderNarrow(stream, argument * 131 + 1); break;
            case 6: ChangeSettings(stream, player, argument); break;
            default: ReadDisplay(stream, player, argument); break;
        }
    }
    player.ClearSlot(0, true);
    return 0;
}
