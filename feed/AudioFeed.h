#pragma once
// AudioFeed.h: the player's audio path, written once for every host (oggmix-cli play and the
// test application's form): a streaming sound buffer on channel 0 of a sound component,
// refilled one block at a time from a TOggPlayer whose slots hold the host's streams.
//
// Start-up (constructor), in order: bind the decoding library; create the 44100 Hz 16-bit
// stereo wave data of two blocks and bind FillWave; create the mixer (two blocks, 8 slots) and
// bind GetPlayPosition; create the stream objects (a block of wide frames each, in no slot);
// attach the wave data to channel 0 and play it (unless StartPlaying is false: then Start
// does, once the host has loaded and started its streams, so that the first block the
// channel requests is music). From then on the mixer's blocks are heard, silence while no
// slot plays.
// Shutdown (destructor), in order: stop channel 0 and detach it; unbind FillWave and free the
// wave data (which ends its notification thread); empty the streams' slots; free the streams,
// then the mixer; unload the decoding library.
//
// Threads: construction, destruction and every use of Player()/Stream() on the UI thread;
//          FillWave, CanWriteBlock and GetPlayPosition on the notification thread.
// Locks:   FillWave takes none of its own (RenderNext takes the mixer's, GetPlayPosition runs
//          under it).
// Memory:  construction allocates; FillWave does not.
// Lifetime: the TVOXA outlives the feed and has been loaded (its channels exist).
// Errors:  a missing decoding library throws ERangeError before anything else is created.

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "mixer/OggPlayerLib.h"
#include "sound/voxa.h"
#include "stream/OggDataLib.h"

namespace oggmix {

class AudioFeed {
public:
    static constexpr uint32_t kRingBytes = 65536;  // about 371.5 ms; a block is half of it
    static constexpr int32_t kMixerBytes = 65536;
    static constexpr int32_t kSlotCount = 8;
    static constexpr int32_t kStreamBytes = 65536;
    // The block the sizes above give; a host may ask for shorter blocks, for less latency.
    static constexpr int32_t kBlockFrames = kRingBytes / 8;
    static constexpr int32_t kMinBlockFrames = 1024;

    // DecoderPath: the decoding library (libwuvorbis.so). StreamCount: 1 .. kSlotCount.
    // BlockFrames: kMinBlockFrames .. kBlockFrames, a multiple of 4; ring, mixer and streams
    // are sized for it (a stream put into a slot needs StreamBytes()).
    AudioFeed(TVOXA& Voxa, const std::string& DecoderPath, int32_t StreamCount,
              bool StartPlaying = true, int32_t BlockFrames = kBlockFrames);
    ~AudioFeed();
    AudioFeed(const AudioFeed&) = delete;
    AudioFeed& operator=(const AudioFeed&) = delete;

    [[nodiscard]] TOggPlayer& Player() noexcept { return *FPlayer; }
    [[nodiscard]] TOggData& Stream(int32_t Index) {
        return *FOggData.at(static_cast<size_t>(Index));
    }
    [[nodiscard]] int32_t StreamCount() const noexcept {
        return static_cast<int32_t>(FOggData.size());
    }
    [[nodiscard]] TVOXAWaveData& WaveData() noexcept { return *FWaveData; }
    [[nodiscard]] int32_t BlockFrames() const noexcept { return FBlockFrames; }
    // The BufferSize of a stream that may go into the mixer's slots.
    [[nodiscard]] int32_t StreamBytes() const noexcept { return FBlockFrames * 8; }
    // Attaches the wave data to channel 0 and plays it; nothing when it already plays.
    void Start();
    // False when the decoding library lacks an entry point (loading a file will then fail).
    [[nodiscard]] bool DecoderUsable() const noexcept { return FDecoderUsable; }

    // The fill routine: renders the mixer's next block (always) and writes it into the
    // requested half if the device has not reached that half yet; otherwise the block is
    // dropped and the half keeps its previous contents. At most one mixer block is written.
    void FillWave(TVOXAGenWave* Sender, TVOXAChannel* Channel, uint32_t Offset, uint32_t Size);
    // The cursor test of FillWave on Sender's sound buffer (false without one).
    [[nodiscard]] bool CanWriteBlock(TVOXAGenWave* Sender, uint32_t Offset, uint32_t Size);
    // Offset .. Offset + Size may be written when neither cursor lies inside it (its first
    // byte excluded) and the write cursor has not wrapped ahead of the play cursor.
    [[nodiscard]] static bool CanWriteBlockAt(uint32_t Play, uint32_t Write, uint32_t Offset,
                                              uint32_t Size) noexcept;
    // The mixer's position callback: the play cursor and the ring size in bytes (0, 0 without
    // a sound buffer).
    void GetPlayPosition(int32_t& Position, int32_t& Size);

    // Fill requests so far, and how each ended. Any thread; a written or dropped fill is
    // counted after it has finished with the mixer's block (release, read with acquire).
    [[nodiscard]] uint64_t RequestedBlocks() const noexcept { return FRequested.load(); }
    [[nodiscard]] uint64_t WrittenBlocks() const noexcept { return FWritten.load(); }
    [[nodiscard]] uint64_t DroppedBlocks() const noexcept { return FDropped.load(); }
    // What ended the refill thread, or null while it runs.
    [[nodiscard]] std::exception_ptr RefillFailure() const;

private:
    // Unloads the decoding library when the feed goes, also after a failed start-up.
    struct DecoderBinding {
        ~DecoderBinding() { FreeVorbisFileDLL(); }
    };

    TVOXA& FVoxa;
    int32_t FBlockFrames;
    // Declared so that destruction after a failed start-up follows the shutdown order too.
    DecoderBinding FDecoder;
    bool FDecoderUsable = false;
    std::unique_ptr<TOggPlayer> FPlayer;
    std::vector<std::unique_ptr<TOggData>> FOggData;
    std::unique_ptr<TVOXAWaveData> FWaveData;
    bool FStarted = false;
    std::atomic<uint64_t> FRequested{0};
    std::atomic<uint64_t> FWritten{0};
    std::atomic<uint64_t> FDropped{0};
};

}  // namespace oggmix
