// MusicPlayer.cpp: opening and closing the player, loading and unloading tracks, and the
// refill thread's hooks that record what each block holds.
#include <cstdlib>
#include <new>
#include <optional>

#include "base/Exceptions.h"
#include "music/DecoderSearch.h"
#include "music/MusicPlayer_Impl.h"
#include "sound/platform/AudioBackend.h"
#include "sound/platform/DeviceStatus.h"

namespace oggmix {
namespace {

// The decoding library is bound once for the whole process, so one player at a time.
std::atomic<bool> gPlayerOpen{false};
// Handles are unique in the process, so that a stale one never names another track.
std::atomic<uint32_t> gNextTrackId{1};

// The sound device reads OGGMIX_AUDIO when it opens; a chosen back end stands in for it that
// long, and the variable is put back afterwards.
class ScopedBackend {
public:
    explicit ScopedBackend(const std::string& name) {
        if (name.empty()) return;
        if (const char* previous = std::getenv("OGGMIX_AUDIO")) FPrevious = previous;
        setenv("OGGMIX_AUDIO", name.c_str(), 1);
        FSet = true;
    }
    ~ScopedBackend() {
        if (!FSet) return;
        if (FPrevious)
            setenv("OGGMIX_AUDIO", FPrevious->c_str(), 1);
        else
            unsetenv("OGGMIX_AUDIO");
    }
    ScopedBackend(const ScopedBackend&) = delete;
    ScopedBackend& operator=(const ScopedBackend&) = delete;

private:
    bool FSet = false;
    std::optional<std::string> FPrevious;
};

std::unique_ptr<TVOXA> OpenDevice(const std::string& backend) {
    ScopedBackend scoped(backend);
    auto voxa = std::make_unique<TVOXA>(nullptr);
    // Failures of the sound output become exceptions here, never an exit.
    voxa->SetDebugOption({dsoExceptOnError});
    voxa->Loaded();
    return voxa;
}

}  // namespace

MusicPlayer::Impl::OpenClaim::OpenClaim() {
    if (gPlayerOpen.exchange(true))
        throw MusicError(MusicErrorCode::InvalidArgument,
                         "another MusicPlayer is open; only one may exist at a time");
}

MusicPlayer::Impl::OpenClaim::~OpenClaim() { gPlayerOpen.store(false); }

MusicPlayer::Impl::Impl(const PlayerOptions& Options)
    : FBlockFrames(Options.BlockFrames), FHeard(Options.BlockFrames) {
    if (Options.BlockFrames < AudioFeed::kMinBlockFrames ||
        Options.BlockFrames > AudioFeed::kBlockFrames || Options.BlockFrames % 4 != 0)
        throw MusicError(MusicErrorCode::InvalidArgument,
                         "BlockFrames must be 1024 to 8192 frames and a multiple of 4, not " +
                             std::to_string(Options.BlockFrames));
    const std::string decoder = music::FindDecoder(Options.DecoderPath);

    const std::string backend = Options.Backend.empty() ? AudioBackendName() : Options.Backend;
    FBackendName = backend.starts_with("wav:") ? "wav" : backend.starts_with("manual") ? "manual" : backend;
    try {
        FVoxa = OpenDevice(backend);
    } catch (const Exception& e) {
        throw MusicError(MusicErrorCode::NoDevice,
                         "the sound device (" + backend + ") failed: " + e.Message());
    }
    if (!FVoxa->Initialized()) {
        const std::string why = LastAudioBackendError();
        FDeviceStatus = "the sound device (" + backend + ") cannot be opened" +
                        (why.empty() ? std::string() : ": " + why);
        if (Options.RequireDevice) throw MusicError(MusicErrorCode::NoDevice, FDeviceStatus);
        // Silent playback: everything runs, timed as if heard.
        FVoxa = OpenDevice("null");
    }

    try {
        // Started below, once the hooks are in place.
        FFeed = std::make_unique<AudioFeed>(*FVoxa, decoder, 1, false, FBlockFrames);
    } catch (const ERangeError& e) {
        throw MusicError(MusicErrorCode::NoDecoder,
                         "the decoding library " + decoder + " cannot be loaded: " + e.Message());
    } catch (const EVOXA& e) {
        throw MusicError(MusicErrorCode::NoDevice,
                         "the sound device (" + backend + ") failed: " + e.Message());
    }
    if (!FFeed->DecoderUsable())
        throw MusicError(MusicErrorCode::NoDecoder,
                         "the decoding library " + decoder + " lacks entry points");

    TOggPlayer& player = FFeed->Player();
    {
        MixerGuard guard(player);
        player.OnGetPosition = [this](int32_t& position, int32_t& size) {
            FFeed->GetPlayPosition(position, size);
            OnBlockStart();
        };
        player.OnMix = [this](int32_t*, int32_t) { OnBlockMixed(); };
    }
    FFeed->WaveData().SetOnFill([this](TVOXAGenWave* sender, TVOXAChannel* channel, uint32_t offset,
                                       uint32_t size) { OnFill(sender, channel, offset, size); });
    FSeenLosses = CurrentSoundDeviceStatus().Losses;
    FFeed->Start();
}

MusicPlayer::Impl::~Impl() {
    if (!FFeed) return;
    {
        MixerGuard guard(FFeed->Player());
        for (int32_t slot = 0; slot < AudioFeed::kSlotCount; ++slot)
            FFeed->Player().ClearSlot(slot, false);
    }
    // The streams go while the decoding library is still bound; the feed unloads it.
    FTracks.clear();
}

MusicPlayer::Impl::TrackState& MusicPlayer::Impl::Find(Track Which) {
    const auto found = FTracks.find(Which.Id);
    if (found == FTracks.end())
        throw MusicError(MusicErrorCode::InvalidTrack,
                         "track " + std::to_string(Which.Id) +
                             " is not loaded in this player (never loaded, or unloaded)");
    return found->second;
}

std::string MusicPlayer::Impl::Describe(Track Which, const TrackState& State) const {
    return "track " + std::to_string(Which.Id) + " (" + State.Name + ")";
}

std::unique_ptr<TOggData> MusicPlayer::Impl::NewStream() const {
    auto stream = std::make_unique<TOggData>(FFeed->StreamBytes());
    // A game's music comes from many tools: their LOOPSTART tags loop it too, and any rate
    // and channel count plays.
    stream->SetLoopStartTags(true);
    stream->SetConversion(true);
    return stream;
}

Track MusicPlayer::Impl::AddTrack(std::unique_ptr<TOggData> Stream, const std::string& Name) {
    if (!Stream->Renders())
        throw MusicError(MusicErrorCode::Unsupported,
                         Name + ": " + std::to_string(Stream->Rate()) + " Hz with " +
                             std::to_string(Stream->Channels()) +
                             " channels cannot be played (8000 to 192000 Hz, 1 to 8 channels)");
    Stream->Fade(1.0f, 0.0f);
    Stream->SetMasterVolume(static_cast<float>(FMasterVolume));
    const Track track{gNextTrackId.fetch_add(1)};
    TrackState state;
    state.Name = Name;
    state.Stream = std::move(Stream);
    FTracks.emplace(track.Id, std::move(state));
    return track;
}

void MusicPlayer::Impl::EnsureSlot(Track Which, TrackState& State) {
    if (State.Slot >= 0) return;
    TOggPlayer& player = FFeed->Player();
    int32_t chosen = -1;
    for (int32_t slot = 0; slot < AudioFeed::kSlotCount && chosen < 0; ++slot)
        if (FSlotTrack[static_cast<size_t>(slot)] == 0) chosen = slot;
    for (int32_t slot = 0; slot < AudioFeed::kSlotCount && chosen < 0; ++slot)
        if (player.Slots(slot)->GetState(true) < 2) chosen = slot;
    if (chosen < 0)
        throw MusicError(MusicErrorCode::TooManyPlaying, Describe(Which, State) + " cannot play: " +
                                                             std::to_string(kMaxPlayingTracks) +
                                                             " tracks are playing already");
    const auto index = static_cast<size_t>(chosen);
    if (const uint32_t previous = FSlotTrack[index]; previous != 0) FTracks.at(previous).Slot = -1;
    player.SetSlot(chosen, State.Stream.get(), false);
    FSlotTrack[index] = Which.Id;
    State.Slot = chosen;
}

Track MusicPlayer::Load(const std::string& Path) {
    auto stream = FImpl->NewStream();
    try {
        if (!stream->LoadFromFile(Path))
            throw MusicError(MusicErrorCode::FileNotFound, Path + ": no such file");
    } catch (const EInOutError& e) {
        throw MusicError(MusicErrorCode::ReadFailed,
                         Path + ": cannot be read (" + e.Message() + ")");
    } catch (const ERangeError&) {
        throw MusicError(MusicErrorCode::NotOggVorbis, Path + ": not an Ogg Vorbis file");
    } catch (const std::bad_alloc&) {
        throw MusicError(MusicErrorCode::ReadFailed, Path + ": too large to hold in memory");
    }
    return FImpl->AddTrack(std::move(stream), Path);
}

Track MusicPlayer::Load(std::span<const std::byte> Bytes, const std::string& Name) {
    auto stream = FImpl->NewStream();
    const auto* first = reinterpret_cast<const uint8_t*>(Bytes.data());
    try {
        (void)stream->LoadFromStream(
            std::make_unique<MemoryStream>(std::vector<uint8_t>(first, first + Bytes.size())));
    } catch (const ERangeError&) {
        throw MusicError(MusicErrorCode::NotOggVorbis, Name + ": not an Ogg Vorbis file");
    }
    return FImpl->AddTrack(std::move(stream), Name);
}

void MusicPlayer::Unload(Track Which) {
    Impl::TrackState& state = FImpl->Find(Which);
    {
        MixerGuard guard(FImpl->FFeed->Player());
        if (state.Slot >= 0) {
            FImpl->FFeed->Player().ClearSlot(state.Slot, false);
            FImpl->FSlotTrack[static_cast<size_t>(state.Slot)] = 0;
        }
        FImpl->FHeard.DropEvents(Which.Id);
    }
    FImpl->FTracks.erase(Which.Id);
}

// ---- The refill thread's hooks ----

void MusicPlayer::Impl::OnBlockStart() noexcept {
    (void)FHeard.BeginBlock();
    TOggPlayer& player = FFeed->Player();
    for (int32_t slot = 0; slot < AudioFeed::kSlotCount; ++slot) {
        SlotBefore& before = FSlotBefore[static_cast<size_t>(slot)];
        before.TrackId = FSlotTrack[static_cast<size_t>(slot)];
        TOggData* stream = player.Slots(slot);
        if (before.TrackId == 0 || stream == nullptr) continue;
        before.State = stream->GetState(true);
        before.StartSec = stream->GetTime(true);
    }
}

void MusicPlayer::Impl::OnBlockMixed() noexcept {
    TOggPlayer& player = FFeed->Player();
    const int64_t seq = FHeard.CurrentSeq();
    for (int32_t slot = 0; slot < AudioFeed::kSlotCount; ++slot) {
        const SlotBefore& before = FSlotBefore[static_cast<size_t>(slot)];
        TOggData* stream = player.Slots(slot);
        if (before.TrackId == 0 || stream == nullptr) continue;
        music::BlockObservation seen;
        seen.StartSec = before.StartSec;
        seen.StateBefore = before.State;
        seen.StateAfter = stream->GetState(true);
        seen.EndSec = stream->GetTime(true);
        seen.LengthSec = stream->TotalTime();
        for (size_t i = 0; i < seen.Cues.size(); ++i) {
            const TLoopCue& cue = stream->Cues()[i];
            seen.Cues[i] = {cue.LoopStart, cue.LoopEnd, cue.Count != 0};
        }
        const music::ClassifiedBlock block =
            music::ClassifyBlock(seen, FBlockFrames, Track{before.TrackId});
        if (!block.Record) continue;
        music::BlockRecord record = *block.Record;
        record.Seq = seq;
        FHeard.Add(record);
        if (block.Event) FHeard.PushEvent(seq, block.EventFrame, *block.Event);
    }
}

void MusicPlayer::Impl::OnFill(TVOXAGenWave* Sender, TVOXAChannel* Channel, uint32_t Offset,
                               uint32_t Size) {
    const uint64_t before = FFeed->WrittenBlocks();
    FFeed->FillWave(Sender, Channel, Offset, Size);
    // Only this thread renders, so the block just mixed is the latest one.
    if (FFeed->WrittenBlocks() != before)
        FHeard.Written(Offset < static_cast<uint32_t>(FFeed->Player().BlockBytes()) ? 0 : 1,
                       FHeard.CurrentSeq());
}

// ---- Opening, status ----

MusicPlayer::MusicPlayer(const PlayerOptions& Options) : FImpl(std::make_unique<Impl>(Options)) {}

MusicPlayer::~MusicPlayer() = default;

bool MusicPlayer::DeviceAvailable() const {
    return FImpl->FDeviceStatus.empty() && !CurrentSoundDeviceStatus().Lost;
}
const std::string& MusicPlayer::DeviceStatus() const noexcept { return FImpl->FDeviceStatus; }
int32_t MusicPlayer::BlockFrames() const noexcept { return FImpl->FBlockFrames; }
const std::string& MusicPlayer::BackendName() const noexcept { return FImpl->FBackendName; }

DeliveryStats MusicPlayer::Delivery() const noexcept {
    return {FImpl->FFeed->WrittenBlocks(), FImpl->FFeed->DroppedBlocks()};
}

}  // namespace oggmix
