#pragma once
// oggmix/MusicPlayer.h: music for a game in one object. A MusicPlayer opens a sound device
// stream of its own and runs a mixer that the device pulls; tracks are Ogg Vorbis files held in memory,
// named by handles, played with fades, cross-fades, loops (the files' own loop tags), volume,
// pan, a tone filter and gain control. Positions are those of the music being heard; loop and
// end events, and the sound device going away and coming back, reach the game on its own
// thread through Poll.
//
// Threads: every call for one player on one thread (the game's); the player mixes on the
//          device's thread. Several players may live in one process, each with its own device
//          stream; nothing is shared between them. The read-outs (Position, IsPlaying, Poll,
//          HeardFrame, MixedFrame, Delivery) read what the device's thread published after its
//          last pull and never make it wait; a call that changes what is heard holds the mixer
//          for a moment.
// Errors:  every failure throws MusicError with an English message; no call ends the process.
// Latency: a change (pause, fade, cross-fade, seek) lands on the first frame the device has
//          not taken yet and is heard after what the device holds (PlayerOptions::LatencyMs).
// Idle:    with nothing playing or scheduled the player rests (its pulse stream corked, the
//          null device's thread asleep, nothing of its own waking) while the output clock goes
//          on in real time; the next call that may start sound wakes it.
// Units:   seconds as double; volumes 1.0 = as recorded; pan -1 left .. +1 right. A value
//          within 1e-9 of a range's end (a float ramp's -6.7e-16) is taken as that end.
// This header needs only the standard library.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace oggmix {

// What went wrong, for code that reacts to causes (the C interface returns these numbers).
enum class MusicErrorCode : int32_t {
    InvalidArgument = 1,  // a value out of range
    InvalidTrack = 2,     // a handle that was never loaded here, or was unloaded
    FileNotFound = 3,
    ReadFailed = 4,  // the file exists but cannot be read
    NotOggVorbis = 5,
    Unsupported = 6,     // Ogg Vorbis in a format the player cannot play
    NoDecoder = 7,       // the decoding library was not found or is unusable
    NoDevice = 8,        // the sound device cannot be opened
    TooManyPlaying = 9,  // every mixer slot holds a playing track
    Internal = 10,
};

class MusicError : public std::runtime_error {
public:
    MusicError(MusicErrorCode Code, const std::string& Message)
        : std::runtime_error(Message), FCode(Code) {}
    [[nodiscard]] MusicErrorCode Code() const noexcept { return FCode; }

private:
    MusicErrorCode FCode;
};

// A loaded track. Handles are unique in the process: one from another player, or from a player
// that is gone, is refused with InvalidTrack rather than reaching another track.
struct Track {
    uint32_t Id = 0;  // 0: no track
    friend bool operator==(Track, Track) = default;
};

struct PlayerOptions {
    // Where the sound goes: "pulse", "sdl", "null", "wav:PATH", "manual" (tests) or "offline"
    // (nothing pulls; RenderOffline mixes on the caller's thread); empty: the
    // environment variable OGGMIX_AUDIO (read, never written), else "pulse" where a PulseAudio
    // or PipeWire server answers, else "sdl".
    std::string Backend;
    // Empty: libvorbisfile, linked into oggmix. Otherwise the path of a decoding library with
    // the wu_ entry points (libwuvorbis.so) that the game ships; this player alone binds it.
    std::string DecoderPath;
    // What the sound device holds between the mix and the listener, in ms (10 .. 1000); 0: the
    // default, kDefaultLatencyMs. pulse: the server's target length, refilled in requests as
    // large as leave it 75 ms and at least half of it, so a longer latency costs less CPU;
    // sdl: its period, the power of two of frames nearest it; null, wav and manual ignore it.
    // Shorter answers sooner and costs more; too short gaps on a busy machine. A change is
    // heard after about this much.
    int32_t LatencyMs = 0;
    // Frames per block, 1024 .. 8192 (a multiple of 4): shorter is quicker to respond, but
    // below 2048 a busy machine may deliver blocks late (heard as gaps; see Delivery).
    int32_t BlockFrames = 2048;
    // False: when the device cannot be opened, play silently (everything else runs as usual)
    // and report it through DeviceAvailable and DeviceStatus.
    bool RequireDevice = true;
};

struct PlayOptions {
    bool Loop = true;        // loop the whole track, and follow its loop tags for ever
    double FadeInSec = 0.0;  // 0: at full volume at once
};

enum class ToneFilter { Off, LowPass, HighPass, LowReso, HighReso, LoHiPass, MiddleReso, Wave };

enum class MusicEventKind {
    Looped,      // playback jumped back: CueIndex is the loop tag's index, -1 the track's end
    Ended,       // a track played without looping reached its end and stopped
    DeviceLost,  // the device plays nothing (Reason says why); the music goes on in real time
    DeviceBack,  // the sound device plays again, the music where the clock has got to
    // Told ahead, as soon as mixed (at least a block before they are heard), with the output
    // frame and the time at which they will be heard:
    Beat,             // a beat of a track with a tempo: Bar and BeatInBar say which
    Bar,              // the first beat of a bar (its Beat event comes too)
    CueReached,       // a loop cue's end is reached and it jumps (CueIndex)
    TransitionStart,  // Which: the destination; Frame: where the transition begins
    TransitionEnd,    // Which: the destination; the fades are over, the source is stopped
};

// Why the sound device plays nothing (DeviceLost).
enum class DeviceLossReason : int32_t {
    None = 0,
    Gone = 1,       // the device or its server went away, or could not be opened
    Suspended = 2,  // the sink it plays to was suspended
    Moved = 3,      // the stream was moved to a sink that is suspended
    Stalled = 4,    // the server stopped taking sound, with no reason given
};

struct MusicEvent {
    MusicEventKind Kind;
    Track Which;  // no track (Id 0) for the device's events
    int32_t CueIndex = -1;
    // The output frame on which it is heard (see MusicPlayer::HeardFrame), and when: for
    // Looped and Ended the moment they were heard; for the events told ahead, when they will be.
    int64_t Frame = 0;
    std::chrono::steady_clock::time_point HeardAt{};
    int64_t Bar = 0;                                   // Beat, Bar: the bar, from 0
    int32_t BeatInBar = 0;                             // Beat, Bar: the beat within the bar, from 0
    DeviceLossReason Reason = DeviceLossReason::None;  // DeviceLost: why
};

// Blocks handed to the sound device (a block begun counts), and the gaps the device played for
// want of sound where its back end can tell (PulseAudio reports each; 0 elsewhere).
struct DeliveryStats {
    uint64_t WrittenBlocks = 0;
    uint64_t LateBlocks = 0;
    // The longest the device's thread has waited for the player (a call of the game holding
    // the mixer's lock), in microseconds.
    int64_t LongestWaitUs = 0;
    // The longest one pull of the device took (waiting and mixing), in microseconds.
    int64_t LongestPullUs = 0;
    // Calls refused for want of room: every slot playing, the schedule full.
    uint64_t RefusedCalls = 0;
};

// A loop cue of a track, in source frames at the track's own rate: playback reaching EndFrame
// goes on at StartFrame, Count times (-1 for ever).
struct LoopCue {
    int32_t Index = 0;  // the loop tag's index, 0 .. 15
    int64_t StartFrame = 0;
    int64_t EndFrame = 0;
    int32_t Count = 0;
};

// A track's tempo: beats per minute (any decimal number, rounded to a millionth), beats per
// bar, and the source frame of beat 0 (0 .. 2^48). Beat k lies on the source frame nearest to
// FirstBeatFrame + k * 60 * rate / Bpm (a tie rounds up), computed from k, so nothing drifts.
// The beats follow the track through its loop jumps. Read from the file's comments BPM,
// BEATSPERBAR and FIRSTBEAT (a sample number) where present; Bpm 0: no tempo.
struct Tempo {
    double Bpm = 0.0;
    int32_t BeatsPerBar = 4;
    int64_t FirstBeatFrame = 0;
    // From TempoOf: why a tempo tag of the file was not taken (that value keeps its default),
    // empty when each was; it stays while the game sets a tempo of its own. SetTempo ignores it.
    std::string TagProblem{};
};

// When a scheduled change lands, on the grid of a track with a tempo (or its loop and end).
enum class Quantize {
    Now,      // the first frame not yet mixed
    Beat,     // the next beat
    Bar,      // the next bar line
    Bars,     // the next line of every N bars, counted from bar 0
    LoopEnd,  // where the track would jump back by the loop cue it is in (or its end)
    End,      // the end of the track
};

enum class FadeShape { Linear, EqualPower, SCurve };

// A fade's length: in seconds, or in beats of the grid's tempo when Beats is above 0.
struct FadeLength {
    double Seconds = 0.0;
    double Beats = 0.0;
};

struct TransitionOptions {
    Quantize When = Quantize::Bar;
    int32_t Bars = 1;  // for Quantize::Bars
    // Where the destination starts: its start, the source's position, the same beat within
    // the bar (on the destination's grid), or the start of loop cue CueIndex.
    enum class Entry { Start, Same, SameBeat, Cue } StartAt = Entry::Start;
    int32_t CueIndex = 0;
    // None: cut on the frame. In: the destination fades in (the source is cut). Out: the
    // source fades out from the frame while the destination starts at full volume. Cross: both.
    // A Length of 0 cuts whatever the kind, so a Length alone cross-fades.
    enum class Fade { None, In, Out, Cross } FadeKind = Fade::Cross;
    FadeLength Length;
    FadeShape Shape = FadeShape::Linear;
    // Played once from the transition's frame; the destination starts where it ends.
    Track Bridge{};
    bool Loop = true;  // the destination loops
};

// A timed volume change: reached over Length, starting Now or on the next Beat or Bar of the
// track's own grid (a layer: its group's).
struct VolumeChange {
    FadeLength Length;
    Quantize When = Quantize::Now;  // Now, Beat or Bar
};

struct StingerOptions {
    Track Grid{};                    // the track whose beats it lands on
    Quantize When = Quantize::Beat;  // Beat or Bar
    // Frames of the stinger before its own downbeat: it starts that much before the line.
    int64_t PickupFrames = 0;
    // Refused (returns -1) when this stinger's last downbeat is less than this before.
    double CooldownSec = 0.0;
};

inline constexpr double kDefaultPauseFadeSec = 0.015;  // enough that a pause never clicks
inline constexpr int32_t kDefaultLatencyMs = 100;
inline constexpr int32_t kMaxPlayingTracks = 8;

class MusicPlayer {
public:
    explicit MusicPlayer(const PlayerOptions& Options = {});
    ~MusicPlayer();  // stops the sound, frees every track, closes the device
    MusicPlayer(const MusicPlayer&) = delete;
    MusicPlayer& operator=(const MusicPlayer&) = delete;

    // Loads a whole Ogg Vorbis file (stopped, at its start, volume 1). Name is what messages
    // call data given as bytes.
    [[nodiscard]] Track Load(const std::string& Path);
    [[nodiscard]] Track Load(std::span<const std::byte> Bytes, const std::string& Name = "data");
    // A playing track falls silent at once; events of the track not yet polled are dropped.
    void Unload(Track Which);

    // Every call below that changes what is heard lands on an output frame (see the
    // interactive calls) and returns it; at once is the first frame not yet mixed. A call for
    // a track or group withdraws what is still waiting for it: Play, Stop, Pause, Resume,
    // CrossFade, PlayAt, Transition and a stinger withdraw its starts, fades and transitions
    // not yet landed (a transition as a whole, source and destination); a change of a
    // volume, pan, tone filter or gain control withdraws those of the same setting still
    // waiting; Unload everything. A refused call changes nothing.

    // Plays from the present position (a stopped track from its start). A track that is
    // still fading out (Stop, Pause, CrossFade) turns back up from where its fade is, over
    // FadeInSec; one playing at full volume only takes the loop setting.
    int64_t Play(Track Which, const PlayOptions& Options = {});
    // Fades out, then rewinds to the start.
    int64_t Stop(Track Which, double FadeOutSec = 0.0);
    // Fades out and holds the position where the fade fell silent; Resume fades back in
    // from there, with the loop setting of the last Play.
    int64_t Pause(Track Which, double FadeSec = kDefaultPauseFadeSec);
    int64_t Resume(Track Which, double FadeSec = kDefaultPauseFadeSec);
    // Fades From out (then stops it) while To fades in from its present position.
    int64_t CrossFade(Track From, Track To, double Seconds, bool Loop = true);
    int64_t Seek(Track Which, double Seconds);  // from 0; clamped to the track's length

    // 0 .. 2, reached over Seconds (0: at once). A volume of 0 keeps the track playing, unheard.
    int64_t SetVolume(Track Which, double Volume, double Seconds = 0.0);
    int64_t SetPan(Track Which, double Pan, double Seconds = 0.0);
    int64_t SetToneFilter(Track Which, ToneFilter Filter, double Seconds = 0.5);
    int64_t SetGainControl(Track Which, double Level);  // 0 off; 1.0 aims at 30000 peaks
    int64_t SetMasterVolume(double Volume);             // 0 .. 2, every track
    // The mix limiter: the envelope is held between Min and Max (peak sample magnitude), falls
    // by Down / 256 per 32 frames after HoldFrames without a rise.
    void SetLimiter(int32_t Min, int32_t Max, int32_t Down, int32_t HoldFrames);
    void ResetLimiter();

    // The position in the track of the sound being heard, in seconds.
    [[nodiscard]] double Position(Track Which);
    [[nodiscard]] double Length(Track Which);
    // The loop cues the track follows, in index order; empty when it has none.
    [[nodiscard]] std::vector<LoopCue> Cues(Track Which);
    // Heard now (a fade-out counts until it is silent), or a start is waiting for its frame.
    [[nodiscard]] bool IsPlaying(Track Which);

    // ---- Interactive music: the output clock, tempo, scheduled changes, layers, stingers ----
    // Output frames count the player's 44100 Hz output from its start. Every change below
    // lands on its exact frame; each call returns the output frame on which it is heard.
    // A change asked for on a frame already mixed lands on the next qualifying frame that
    // can still be honoured, never between two.

    // The output frame being heard now, and the first not yet mixed (the earliest any change
    // can land on).
    [[nodiscard]] int64_t HeardFrame();
    [[nodiscard]] int64_t MixedFrame();
    // When output frame Frame is (or was) heard, on the steady clock; a frame past 2^48 frames
    // (about 200 years) either way is taken as that.
    [[nodiscard]] std::chrono::steady_clock::time_point WhenHeard(int64_t Frame);
    // Plays the track from output frame Frame on (the next frame that can be, if mixed); a
    // frame past 2^48 is refused.
    int64_t PlayAt(Track Which, int64_t Frame, const PlayOptions& Options = {});

    void SetTempo(Track Which, const Tempo& Grid);
    [[nodiscard]] Tempo TempoOf(Track Which);

    // A group of layers: tracks of the same length that share one playhead. The handle names
    // the group wherever a track is taken (Play, Stop, Pause, Resume, Seek, Transition,
    // PlayAt); they start, pause, seek and loop together, whatever their volumes. The group
    // follows the tempo of its first layer.
    [[nodiscard]] Track MakeLayerGroup(const std::vector<Track>& Layers);

    // From one track or group to another, on the frame When gives (on From's grid). The
    // latest request wins: a transition from a destination still waiting for its frame
    // goes from that request's source, on its frame (a to b waiting, then b to c: a goes to c
    // where it would have gone to b, and b is never heard); one from the same source again
    // replaces the earlier one. A destination already playing goes on playing and jumps to
    // its entry with a 5 ms dip on either side of the jump. A transition between a group and
    // one of its own layers, or from a track to itself, is refused.
    int64_t Transition(Track From, Track To, const TransitionOptions& Options = {});
    // The volume of a track or layer reached over a fade timed as Change says.
    int64_t SetVolume(Track Which, double Volume, const VolumeChange& Change);
    // Plays Stinger once on top, its downbeat on the next beat or bar of the grid; -1 when
    // refused within the stinger's own cooldown. Triggered again while it sounds, it dips out
    // over 5 ms where it starts anew (and comes back up over 5 ms); triggered again before its
    // start, the new start replaces the one waiting.
    int64_t PlayStinger(Track Stinger, const StingerOptions& Options);
    // The output frame of the track's (a group: its first layer's) next beat or bar not yet
    // mixed: the earliest a change can land on it. -1 while it is silent or fading out.
    [[nodiscard]] int64_t NextBeat(Track Which);
    [[nodiscard]] int64_t NextBar(Track Which);

    // Only with PlayerOptions::Backend "offline": mixes the next frames into Interleaved
    // (left, right) at once, as a device would have pulled them; the output clock moves by
    // as many frames, and the events of those frames are due.
    void RenderOffline(std::span<int16_t> Interleaved);

    // Events since the last poll, each once: the device's first, then the tracks' in the
    // order heard (the events told ahead in the order of their frames). The callback, if set, is called for each of them from inside Poll, before
    // Poll returns them. A failure of the mixing thread throws here.
    std::vector<MusicEvent> Poll();
    void SetEventCallback(std::function<void(const MusicEvent&)> Callback);

    // False while playing silently: without a device from the start, while it is lost, or
    // while it plays nothing (a suspended sink; see the DeviceLost event's Reason).
    [[nodiscard]] bool DeviceAvailable() const;
    // Empty when the device opened; otherwise why it could not be opened.
    [[nodiscard]] const std::string& DeviceStatus() const noexcept;
    [[nodiscard]] int32_t BlockFrames() const noexcept;
    // The sound back end pulling now: "pulse", "sdl", "null", "wav", "manual" or "offline";
    // "null" while the silent stand-in plays (no device from the start, or a lost one).
    [[nodiscard]] const std::string& BackendName() const noexcept;
    [[nodiscard]] DeliveryStats Delivery() const noexcept;

private:
    struct Impl;
    std::unique_ptr<Impl> FImpl;
};

}  // namespace oggmix
