// Resources: a thousand loads, plays and closes in a row, into one stream object that stays in
// its mixer slot (as the application reloads a channel) and into a new object each time, leave
// the heap and the open file descriptors exactly where they started.
#include <gtest/gtest.h>
#include <malloc.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/Exceptions.h"
#include "mixer/OggPlayerLib.h"
#include "stream/OggDataLib.h"
#include "tests/support/OggFixture.h"
#include "tests/support/Signals.h"
#include "tests/support/TestPaths.h"

// Provided by the sanitizer run-times, which keep the heap to themselves.
extern "C" size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

namespace oggmix::test {
namespace {

constexpr int32_t kBufferSize = 16384;
constexpr int kCycles = 1000;
// What the allocator or a library may set up once during the run (an arena's bookkeeping, a
// table filled on first use): far below a leak of the smallest heap chunk, 32 bytes, a cycle.
constexpr size_t kOneTimeSlackBytes = 4096;

size_t HeapInUseBytes() {
    if (__sanitizer_get_current_allocated_bytes != nullptr)
        return __sanitizer_get_current_allocated_bytes();
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Runs work on a thread of its own: the allocator's per-thread cache goes back to the heap when
// the thread ends, so that the heap afterwards holds only what the work left allocated.
void OnItsOwnThread(const std::function<void()>& work) { std::thread(work).join(); }

size_t OpenFileDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

// Files of every kind a user meets: formats, cues, a chain, damage, and files that are refused.
std::vector<std::string> MakeFiles(const TempDir& dir) {
    EncodeOptions cues;
    cues.Comments = {"COMMENT=*looptime,0,0.1,0.3,-1\r\n*loopsample,1,2205,8820,2"};
    std::vector<uint8_t> truncated = EncodeOgg(Music(44100, 2, 0.8, 3));
    truncated.resize(truncated.size() * 3 / 4);
    const std::string text = "*looptime,0,1,2,3";
    return {
        dir.Write("stereo.ogg", EncodeOgg(Music(44100, 2, 0.6, 1), cues)),
        dir.Write("mono.ogg", EncodeOgg(Music(44100, 1, 0.5, 2))),
        dir.Write("half.ogg", EncodeOgg(Sine(22050, 2, 0.5, 330.0), cues)),
        dir.Write("halfmono.ogg", EncodeOgg(Noise(22050, 1, 0.5, 6))),
        dir.Write("48k.ogg", EncodeOgg(Sine(48000, 2, 0.3, 440.0))),
        dir.Write("truncated.ogg", truncated),
        dir.Write("chained.ogg", EncodeChain(Music(44100, 2, 0.4, 4), Music(22050, 1, 0.4, 5))),
        dir.Write("text.ogg", std::vector<uint8_t>(text.begin(), text.end())),
        dir.Write("empty.ogg", {}),
        dir.Path() + "/missing.ogg",
    };
}

// Loads, plays a few blocks with a seek and the display's read-outs, and empties the slot.
// False when the load is refused or finds no file.
bool LoadPlayAndClose(TOggPlayer& player, TOggData& stream, const std::string& file) {
    bool loaded = false;
    try {
        loaded = stream.LoadFromFile(file);
    } catch (const ERangeError&) {
    }
    player.SetSlot(0, &stream, true);
    player.Play(0, true);
    player.RenderNext();
    player.Seek(0, 0.2f);
    player.SetFilterCurve4(0, 2.0f, 1.0f, 0.5f, 1.0f, 0.0f);
    player.RenderNext();
    std::array<float, kSpectrumValueCount> values{};
    player.GetSpectrum(0, values.data());
    (void)player.GetPlayTime(0);
    player.ClearSlot(0, true);
    stream.Close();
    return loaded;
}

TEST(Resources, AThousandLoadsPlaysAndClosesGiveBackEveryByteAndFileDescriptor) {
    BindDecoder();
    TempDir dir;
    const std::vector<std::string> files = MakeFiles(dir);
    TOggPlayer player(kBufferSize, 1);
    TOggData channel(kBufferSize);
    const auto cycle = [&](int i) {
        const std::string& file = files[static_cast<size_t>(i) % files.size()];
        if (i % 2 == 0) return LoadPlayAndClose(player, channel, file);
        const auto fresh = std::make_unique<TOggData>(kBufferSize);
        return LoadPlayAndClose(player, *fresh, file);
    };
    // A first round for whatever the libraries set up once.
    OnItsOwnThread([&] {
        for (int i = 0; i < 2 * static_cast<int>(files.size()); ++i) (void)cycle(i);
    });

    const size_t heapBytes = HeapInUseBytes();
    const size_t descriptors = OpenFileDescriptors();
    int loads = 0;
    OnItsOwnThread([&] {
        for (int i = 0; i < kCycles; ++i) loads += cycle(i) ? 1 : 0;
    });
    // A leak of one heap chunk a cycle would show here eight times over.
    EXPECT_LE(HeapInUseBytes(), heapBytes + kOneTimeSlackBytes);
    EXPECT_EQ(OpenFileDescriptors(), descriptors);
    EXPECT_EQ(loads, kCycles * 7 / 10);  // 7 of every 10 files load
}

}  // namespace
}  // namespace oggmix::test
