// CApi.cpp: the C interface: each call looks its player handle up among the open players,
// takes that player's own lock (so that calls from several threads take turns), calls the C++
// player and turns what it throws into a result code and a message. Players still open when
// the program ends are closed at exit, so that a program that forgets oggmix_close still ends
// cleanly with its output complete.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "oggmix/MusicPlayer.h"
#include "oggmix/oggmix.h"

#include "music/platform/LibraryExit.h"

namespace {

// Events handed over by the player but not yet polled, as many as the player itself keeps;
// past that the oldest go, counted.
constexpr size_t kMaxPendingEvents = 65536;

// One open player. Its lock is the C layer's alone: the device's thread never takes it, so a
// call waiting here never holds up the sound. Recursive, since the event callback runs inside
// oggmix_poll with the lock held and may call the player again.
struct PlayerEntry {
    std::recursive_mutex Calls;
    // Everything below is guarded by Calls.
    std::unique_ptr<oggmix::MusicPlayer> Player;  // null once closed
    std::deque<oggmix::MusicEvent> Pending;       // polled, not yet handed over
    uint64_t Dropped = 0;
    oggmix_event_callback Callback = nullptr;
    void* UserData = nullptr;
    // Polls under way on the thread holding Calls (a callback may poll again), and a close
    // asked for from inside one: the player then goes when the outermost poll returns.
    int Polling = 0;
    bool Closing = false;
    // Why each track's tempo tags were not taken, as oggmix_tempo hands it out.
    std::unordered_map<oggmix_track, std::string> TagProblems;
    // The output frame on which the last call that changes what is heard lands.
    int64_t Landed = 0;
};

static_assert(OGGMIX_DEFAULT_LATENCY_MS == oggmix::kDefaultLatencyMs);
static_assert(OGGMIX_DEFAULT_PAUSE_FADE_SEC == oggmix::kDefaultPauseFadeSec);

// The C enums are the C++ ones by value: calls cast between them.
static_assert(OGGMIX_EVENT_TRANSITION_END ==
              static_cast<int>(oggmix::MusicEventKind::TransitionEnd));
static_assert(OGGMIX_QUANTIZE_END == static_cast<int>(oggmix::Quantize::End));
static_assert(OGGMIX_SHAPE_S_CURVE == static_cast<int>(oggmix::FadeShape::SCurve));
static_assert(OGGMIX_ENTRY_CUE == static_cast<int>(oggmix::TransitionOptions::Entry::Cue));
static_assert(OGGMIX_FADE_CROSS == static_cast<int>(oggmix::TransitionOptions::Fade::Cross));
static_assert(OGGMIX_FILTER_WAVE == static_cast<int>(oggmix::ToneFilter::Wave));

thread_local std::string tLastError;

// The open players by handle. A handle is a number never given out twice, never an address,
// so one kept after its player was closed is refused even when a new player is open.
using Registry = std::unordered_map<oggmix_player*, std::shared_ptr<PlayerEntry>>;
std::mutex gPlayersMutex;
Registry gPlayers;          // guarded by gPlayersMutex
uintptr_t gLastHandle = 0;  // guarded by gPlayersMutex

// The entry of an open player, or null; Take also forgets it, so that no call finds it again.
std::shared_ptr<PlayerEntry> Find(oggmix_player* handle, bool Take = false) {
    std::lock_guard guard(gPlayersMutex);
    const auto found = gPlayers.find(handle);
    if (found == gPlayers.end()) return nullptr;
    std::shared_ptr<PlayerEntry> entry = found->second;
    if (Take) gPlayers.erase(found);
    return entry;
}

// Closes every player left open, at exit. Registered once the first player is built, so it
// runs before the destructors of everything that existed by then (this file's registry, and
// whatever the player set up on its first use), which closing a player still needs.
void CloseOpenPlayers() {
    Registry open;
    {
        std::lock_guard guard(gPlayersMutex);
        open.swap(gPlayers);
    }
    // Where the process is ending with its threads stopped, the players are left to it.
    if (oggmix::capi::ThreadsStoppedForExit()) {
        (void)std::make_unique<Registry>(std::move(open)).release();  // never destroyed
        return;
    }
    for (auto& [handle, entry] : open) {
        std::unique_ptr<oggmix::MusicPlayer> closed;  // shut down outside the player's lock
        std::lock_guard guard(entry->Calls);
        closed = std::move(entry->Player);
    }
}

void CloseOpenPlayersAtExit() {
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(CloseOpenPlayers); });
}

oggmix_result Fail(oggmix_result result, std::string message) {
    tLastError = std::move(message);
    return result;
}

oggmix_result InvalidPlayer() {
    return Fail(OGGMIX_ERROR_INVALID_PLAYER,
                "the player handle is null, closed, or was never opened");
}

// Runs body against the player under its lock, mapping every exception to a result. A close
// asked for from inside the player's poll is carried out here, once that poll is over.
template <class Body>
oggmix_result Call(oggmix_player* handle, Body&& body) {
    const std::shared_ptr<PlayerEntry> entry = Find(handle);
    if (!entry) return InvalidPlayer();
    std::unique_ptr<oggmix::MusicPlayer> closed;  // shut down last, once the lock is let go
    std::lock_guard guard(entry->Calls);
    if (!entry->Player) return InvalidPlayer();  // closed while this call waited
    oggmix_result result = OGGMIX_OK;
    try {
        body(*entry);
    } catch (const oggmix::MusicError& e) {
        result = Fail(static_cast<oggmix_result>(e.Code()), e.what());
    } catch (const std::bad_alloc&) {
        result = Fail(OGGMIX_ERROR_INTERNAL, "out of memory");
    } catch (const std::exception& e) {
        result = Fail(OGGMIX_ERROR_INTERNAL, e.what());
    }
    if (entry->Closing && entry->Polling == 0) closed = std::move(entry->Player);
    return result;
}

oggmix_result NullArgument(const char* name) {
    return Fail(OGGMIX_ERROR_INVALID_ARGUMENT, std::string(name) + " must not be NULL");
}

oggmix::Track T(oggmix_track track) { return oggmix::Track{track}; }

// A C caller may pass any int as an enum. In C++ reading an enum that holds a number outside
// its values is undefined, so the number is read from the enum's bytes and checked before it
// becomes a C++ one.
template <class CEnum>
int RawValue(const CEnum& value) {
    static_assert(sizeof(CEnum) == sizeof(int));
    int raw = 0;
    std::memcpy(&raw, &value, sizeof raw);
    return raw;
}

template <class CEnum>
bool OutOfRange(const CEnum& value, CEnum last) {
    const int raw = RawValue(value);
    return raw < 0 || raw > static_cast<int>(last);
}

oggmix_result BadEnum(const char* name, int value) {
    return Fail(OGGMIX_ERROR_INVALID_ARGUMENT,
                std::string(name) + " " + std::to_string(value) + " is not one of its values");
}

oggmix::FadeLength ToFadeLength(oggmix_fade_length length) {
    return {.Seconds = length.seconds, .Beats = length.beats};
}

// Seconds from now for a moment on the steady clock; a moment never set (the device's events)
// reads as now.
double SecondsFrom(std::chrono::steady_clock::time_point when,
                   std::chrono::steady_clock::time_point now) {
    if (when == std::chrono::steady_clock::time_point{}) return 0.0;
    return std::chrono::duration<double>(when - now).count();
}

oggmix_event ToC(const oggmix::MusicEvent& event, std::chrono::steady_clock::time_point now) {
    return {static_cast<oggmix_event_kind>(event.Kind),
            event.Which.Id,
            event.CueIndex,
            event.Frame,
            SecondsFrom(event.HeardAt, now),
            event.Bar,
            event.BeatInBar,
            static_cast<oggmix_device_reason>(event.Reason)};
}

void Give(int64_t value, int64_t* out) {
    if (out != nullptr) *out = value;
}

// The options as C spells them, checked before the player sees them (its messages would
// name the C++ fields).
oggmix_result CheckOptions(const oggmix_options& options) {
    const int32_t block = options.block_frames;
    if (block < 1024 || block > 8192 || block % 4 != 0)
        return Fail(
            OGGMIX_ERROR_INVALID_ARGUMENT,
            "block_frames must be 1024 to 8192 and a multiple of 4, not " + std::to_string(block));
    const int32_t latency = options.latency_ms;
    if (latency != 0 && (latency < 10 || latency > 1000))
        return Fail(
            OGGMIX_ERROR_INVALID_ARGUMENT,
            "latency_ms must be 10 to 1000 (0: the default), not " + std::to_string(latency));
    return OGGMIX_OK;
}

// Keeps the player's new events for the polls to come, the oldest dropped past the cap.
void KeepEvents(PlayerEntry& p) {
    for (const oggmix::MusicEvent& event : p.Player->Poll()) {
        if (p.Pending.size() == kMaxPendingEvents) {
            p.Pending.pop_front();
            ++p.Dropped;
        }
        p.Pending.push_back(event);
    }
}

}  // namespace

extern "C" {

void oggmix_default_options(oggmix_options* options) {
    if (options == nullptr) return;
    const oggmix::PlayerOptions defaults;
    *options = {nullptr, nullptr, defaults.BlockFrames, defaults.RequireDevice ? 1 : 0,
                defaults.LatencyMs};
}

oggmix_result oggmix_open(const oggmix_options* options, oggmix_player** player) {
    if (player == nullptr) return NullArgument("player");
    *player = nullptr;
    oggmix::PlayerOptions settings;
    if (options != nullptr) {
        if (const oggmix_result refused = CheckOptions(*options); refused != OGGMIX_OK)
            return refused;
        settings.Backend = options->backend != nullptr ? options->backend : "";
        settings.DecoderPath = options->decoder_path != nullptr ? options->decoder_path : "";
        settings.BlockFrames = options->block_frames;
        settings.RequireDevice = options->require_device != 0;
        settings.LatencyMs = options->latency_ms;
    }
    try {
        auto entry = std::make_shared<PlayerEntry>();
        entry->Player = std::make_unique<oggmix::MusicPlayer>(settings);
        CloseOpenPlayersAtExit();
        std::lock_guard guard(gPlayersMutex);
        *player = reinterpret_cast<oggmix_player*>(++gLastHandle);
        gPlayers.emplace(*player, std::move(entry));
        return OGGMIX_OK;
    } catch (const oggmix::MusicError& e) {
        return Fail(static_cast<oggmix_result>(e.Code()), e.what());
    } catch (const std::exception& e) {
        return Fail(OGGMIX_ERROR_INTERNAL, e.what());
    }
}

oggmix_result oggmix_close(oggmix_player* player) {
    const std::shared_ptr<PlayerEntry> entry = Find(player, true);
    if (!entry) return InvalidPlayer();
    std::unique_ptr<oggmix::MusicPlayer> closed;  // shut down last, once the lock is let go
    std::lock_guard guard(entry->Calls);
    entry->Closing = true;
    // From inside the player's own poll (its callback): the poll closes it when it returns.
    if (entry->Polling == 0) closed = std::move(entry->Player);
    return OGGMIX_OK;
}

oggmix_result oggmix_load_file(oggmix_player* player, const char* path, oggmix_track* track) {
    if (path == nullptr) return NullArgument("path");
    if (track == nullptr) return NullArgument("track");
    return Call(player, [&](PlayerEntry& p) { *track = p.Player->Load(path).Id; });
}

oggmix_result oggmix_load_memory(oggmix_player* player, const void* bytes, size_t size,
                                 const char* name, oggmix_track* track) {
    if (bytes == nullptr && size > 0) return NullArgument("bytes");
    if (track == nullptr) return NullArgument("track");
    return Call(player, [&](PlayerEntry& p) {
        const std::span data(static_cast<const std::byte*>(bytes), size);
        *track = p.Player->Load(data, name != nullptr ? name : "data").Id;
    });
}

oggmix_result oggmix_unload(oggmix_player* player, oggmix_track track) {
    return Call(player, [&](PlayerEntry& p) {
        p.Player->Unload(T(track));
        p.TagProblems.erase(track);
    });
}

oggmix_result oggmix_play(oggmix_player* player, oggmix_track track, int loop, double fade_in_sec) {
    return Call(player, [&](PlayerEntry& p) {
        p.Landed = p.Player->Play(T(track), {.Loop = loop != 0, .FadeInSec = fade_in_sec});
    });
}

oggmix_result oggmix_stop(oggmix_player* player, oggmix_track track, double fade_out_sec) {
    return Call(player, [&](PlayerEntry& p) { p.Landed = p.Player->Stop(T(track), fade_out_sec); });
}

oggmix_result oggmix_pause(oggmix_player* player, oggmix_track track, double fade_sec) {
    return Call(player, [&](PlayerEntry& p) { p.Landed = p.Player->Pause(T(track), fade_sec); });
}

oggmix_result oggmix_resume(oggmix_player* player, oggmix_track track, double fade_sec) {
    return Call(player, [&](PlayerEntry& p) { p.Landed = p.Player->Resume(T(track), fade_sec); });
}

oggmix_result oggmix_cross_fade(oggmix_player* player, oggmix_track from, oggmix_track to,
                                double seconds, int loop) {
    return Call(player, [&](PlayerEntry& p) {
        p.Landed = p.Player->CrossFade(T(from), T(to), seconds, loop != 0);
    });
}

oggmix_result oggmix_seek(oggmix_player* player, oggmix_track track, double seconds) {
    return Call(player, [&](PlayerEntry& p) { p.Landed = p.Player->Seek(T(track), seconds); });
}

oggmix_result oggmix_set_volume(oggmix_player* player, oggmix_track track, double volume) {
    return oggmix_set_volume_fade(player, track, volume, 0.0);
}

oggmix_result oggmix_set_volume_fade(oggmix_player* player, oggmix_track track, double volume,
                                     double seconds) {
    return Call(player,
                [&](PlayerEntry& p) { p.Landed = p.Player->SetVolume(T(track), volume, seconds); });
}

oggmix_result oggmix_set_pan(oggmix_player* player, oggmix_track track, double pan,
                             double seconds) {
    return Call(player,
                [&](PlayerEntry& p) { p.Landed = p.Player->SetPan(T(track), pan, seconds); });
}

oggmix_result oggmix_set_tone_filter(oggmix_player* player, oggmix_track track,
                                     oggmix_tone_filter filter, double seconds) {
    if (OutOfRange(filter, OGGMIX_FILTER_WAVE)) return BadEnum("filter", RawValue(filter));
    return Call(player, [&](PlayerEntry& p) {
        p.Landed = p.Player->SetToneFilter(
            T(track), static_cast<oggmix::ToneFilter>(RawValue(filter)), seconds);
    });
}

oggmix_result oggmix_set_gain_control(oggmix_player* player, oggmix_track track, double level) {
    return Call(player,
                [&](PlayerEntry& p) { p.Landed = p.Player->SetGainControl(T(track), level); });
}

oggmix_result oggmix_set_master_volume(oggmix_player* player, double volume) {
    return Call(player, [&](PlayerEntry& p) { p.Landed = p.Player->SetMasterVolume(volume); });
}

oggmix_result oggmix_set_limiter(oggmix_player* player, int32_t min, int32_t max, int32_t down,
                                 int32_t hold_frames) {
    return Call(player, [&](PlayerEntry& p) { p.Player->SetLimiter(min, max, down, hold_frames); });
}

oggmix_result oggmix_reset_limiter(oggmix_player* player) {
    return Call(player, [&](PlayerEntry& p) { p.Player->ResetLimiter(); });
}

oggmix_result oggmix_position(oggmix_player* player, oggmix_track track, double* seconds) {
    if (seconds == nullptr) return NullArgument("seconds");
    return Call(player, [&](PlayerEntry& p) { *seconds = p.Player->Position(T(track)); });
}

oggmix_result oggmix_length(oggmix_player* player, oggmix_track track, double* seconds) {
    if (seconds == nullptr) return NullArgument("seconds");
    return Call(player, [&](PlayerEntry& p) { *seconds = p.Player->Length(T(track)); });
}

oggmix_result oggmix_is_playing(oggmix_player* player, oggmix_track track, int* playing) {
    if (playing == nullptr) return NullArgument("playing");
    return Call(player, [&](PlayerEntry& p) { *playing = p.Player->IsPlaying(T(track)); });
}

oggmix_result oggmix_cue_count(oggmix_player* player, oggmix_track track, size_t* count) {
    if (count == nullptr) return NullArgument("count");
    return Call(player, [&](PlayerEntry& p) { *count = p.Player->Cues(T(track)).size(); });
}

oggmix_result oggmix_cue(oggmix_player* player, oggmix_track track, size_t position,
                         oggmix_loop_cue* cue) {
    if (cue == nullptr) return NullArgument("cue");
    return Call(player, [&](PlayerEntry& p) {
        const std::vector<oggmix::LoopCue> cues = p.Player->Cues(T(track));
        if (position >= cues.size())
            throw oggmix::MusicError(oggmix::MusicErrorCode::InvalidArgument,
                                     "cue position " + std::to_string(position) +
                                         " is past the track's " + std::to_string(cues.size()) +
                                         " loop cues");
        const oggmix::LoopCue& found = cues[position];
        *cue = {found.Index, found.StartFrame, found.EndFrame, found.Count};
    });
}

oggmix_result oggmix_poll(oggmix_player* player, oggmix_event* events, size_t capacity,
                          size_t* count) {
    if (count == nullptr) return NullArgument("count");
    if (events == nullptr && capacity > 0) return NullArgument("events");
    *count = 0;
    return Call(player, [&](PlayerEntry& p) {
        KeepEvents(p);
        const auto now = std::chrono::steady_clock::now();
        ++p.Polling;
        // Handed out one by one, so that a callback that closes the player ends the poll.
        while (*count < capacity && !p.Pending.empty() && !p.Closing) {
            events[*count] = ToC(p.Pending.front(), now);
            p.Pending.pop_front();
            if (p.Callback != nullptr) p.Callback(&events[*count], p.UserData);
            ++*count;
        }
        --p.Polling;
    });
}

oggmix_result oggmix_set_event_callback(oggmix_player* player, oggmix_event_callback callback,
                                        void* user_data) {
    return Call(player, [&](PlayerEntry& p) {
        p.Callback = callback;
        p.UserData = user_data;
    });
}

oggmix_result oggmix_dropped_events(oggmix_player* player, uint64_t* dropped) {
    if (dropped == nullptr) return NullArgument("dropped");
    return Call(player, [&](PlayerEntry& p) {
        KeepEvents(p);
        *dropped = p.Dropped;
    });
}

oggmix_result oggmix_device_status(oggmix_player* player, int* available, const char** status) {
    if (available == nullptr) return NullArgument("available");
    return Call(player, [&](PlayerEntry& p) {
        *available = p.Player->DeviceAvailable() ? 1 : 0;
        if (status != nullptr) *status = p.Player->DeviceStatus().c_str();
    });
}

oggmix_result oggmix_backend_name(oggmix_player* player, const char** name) {
    if (name == nullptr) return NullArgument("name");
    return Call(player, [&](PlayerEntry& p) { *name = p.Player->BackendName().c_str(); });
}

oggmix_result oggmix_delivery(oggmix_player* player, uint64_t* written_blocks,
                              uint64_t* late_blocks, int64_t* longest_pull_us,
                              uint64_t* refused_calls) {
    if (written_blocks == nullptr || late_blocks == nullptr) return NullArgument("a count");
    return Call(player, [&](PlayerEntry& p) {
        const oggmix::DeliveryStats stats = p.Player->Delivery();
        *written_blocks = stats.WrittenBlocks;
        *late_blocks = stats.LateBlocks;
        if (longest_pull_us != nullptr) *longest_pull_us = stats.LongestPullUs;
        if (refused_calls != nullptr) *refused_calls = stats.RefusedCalls;
    });
}

oggmix_result oggmix_heard_frame(oggmix_player* player, int64_t* frame) {
    if (frame == nullptr) return NullArgument("frame");
    return Call(player, [&](PlayerEntry& p) { *frame = p.Player->HeardFrame(); });
}

oggmix_result oggmix_mixed_frame(oggmix_player* player, int64_t* frame) {
    if (frame == nullptr) return NullArgument("frame");
    return Call(player, [&](PlayerEntry& p) { *frame = p.Player->MixedFrame(); });
}

oggmix_result oggmix_landed_frame(oggmix_player* player, int64_t* frame) {
    if (frame == nullptr) return NullArgument("frame");
    return Call(player, [&](PlayerEntry& p) { *frame = p.Landed; });
}

oggmix_result oggmix_next_beat(oggmix_player* player, oggmix_track track, int64_t* frame) {
    if (frame == nullptr) return NullArgument("frame");
    return Call(player, [&](PlayerEntry& p) { *frame = p.Player->NextBeat(T(track)); });
}

oggmix_result oggmix_next_bar(oggmix_player* player, oggmix_track track, int64_t* frame) {
    if (frame == nullptr) return NullArgument("frame");
    return Call(player, [&](PlayerEntry& p) { *frame = p.Player->NextBar(T(track)); });
}

oggmix_result oggmix_when_heard(oggmix_player* player, int64_t frame, double* seconds_from_now) {
    if (seconds_from_now == nullptr) return NullArgument("seconds_from_now");
    return Call(player, [&](PlayerEntry& p) {
        const auto when = p.Player->WhenHeard(frame);
        *seconds_from_now =
            std::chrono::duration<double>(when - std::chrono::steady_clock::now()).count();
    });
}

oggmix_result oggmix_play_at(oggmix_player* player, oggmix_track track, int64_t frame, int loop,
                             double fade_in_sec, int64_t* heard_frame) {
    return Call(player, [&](PlayerEntry& p) {
        Give(p.Player->PlayAt(T(track), frame, {.Loop = loop != 0, .FadeInSec = fade_in_sec}),
             heard_frame);
    });
}

oggmix_result oggmix_set_tempo(oggmix_player* player, oggmix_track track,
                               const struct oggmix_tempo* tempo) {
    if (tempo == nullptr) return NullArgument("tempo");
    return Call(player, [&](PlayerEntry& p) {
        p.Player->SetTempo(T(track), {.Bpm = tempo->bpm,
                                      .BeatsPerBar = tempo->beats_per_bar,
                                      .FirstBeatFrame = tempo->first_beat_frame});
    });
}

oggmix_result oggmix_tempo(oggmix_player* player, oggmix_track track, struct oggmix_tempo* tempo) {
    if (tempo == nullptr) return NullArgument("tempo");
    return Call(player, [&](PlayerEntry& p) {
        oggmix::Tempo grid = p.Player->TempoOf(T(track));
        // Kept per track, so that the text outlives the call; the same text each time, so
        // that a pointer handed out before stays good.
        std::string& problem = p.TagProblems[track];
        if (problem != grid.TagProblem) problem = std::move(grid.TagProblem);
        *tempo = {grid.Bpm, grid.BeatsPerBar, grid.FirstBeatFrame, problem.c_str()};
    });
}

oggmix_result oggmix_make_layer_group(oggmix_player* player, const oggmix_track* layers,
                                      size_t count, oggmix_track* group) {
    if (layers == nullptr && count > 0) return NullArgument("layers");
    if (group == nullptr) return NullArgument("group");
    return Call(player, [&](PlayerEntry& p) {
        std::vector<oggmix::Track> tracks;
        for (size_t i = 0; i < count; ++i) tracks.push_back(T(layers[i]));
        *group = p.Player->MakeLayerGroup(tracks).Id;
    });
}

oggmix_transition_options oggmix_default_transition_options(void) {
    const oggmix::TransitionOptions defaults;
    return {static_cast<oggmix_quantize>(defaults.When),
            defaults.Bars,
            static_cast<oggmix_entry>(defaults.StartAt),
            defaults.CueIndex,
            static_cast<oggmix_fade>(defaults.FadeKind),
            {defaults.Length.Seconds, defaults.Length.Beats},
            static_cast<oggmix_fade_shape>(defaults.Shape),
            defaults.Bridge.Id,
            defaults.Loop ? 1 : 0};
}

oggmix_result oggmix_transition(oggmix_player* player, oggmix_track from, oggmix_track to,
                                const oggmix_transition_options* options, int64_t* frame) {
    const oggmix_transition_options o =
        options != nullptr ? *options : oggmix_default_transition_options();
    if (OutOfRange(o.when, OGGMIX_QUANTIZE_END)) return BadEnum("when", RawValue(o.when));
    if (OutOfRange(o.start_at, OGGMIX_ENTRY_CUE)) return BadEnum("start_at", RawValue(o.start_at));
    if (OutOfRange(o.fade, OGGMIX_FADE_CROSS)) return BadEnum("fade", RawValue(o.fade));
    if (OutOfRange(o.shape, OGGMIX_SHAPE_S_CURVE)) return BadEnum("shape", RawValue(o.shape));
    using Options = oggmix::TransitionOptions;
    const Options settings{.When = static_cast<oggmix::Quantize>(o.when),
                           .Bars = o.bars,
                           .StartAt = static_cast<Options::Entry>(o.start_at),
                           .CueIndex = o.cue_index,
                           .FadeKind = static_cast<Options::Fade>(o.fade),
                           .Length = ToFadeLength(o.length),
                           .Shape = static_cast<oggmix::FadeShape>(o.shape),
                           .Bridge = T(o.bridge),
                           .Loop = o.loop != 0};
    return Call(player, [&](PlayerEntry& p) {
        Give(p.Player->Transition(T(from), T(to), settings), frame);
    });
}

oggmix_result oggmix_set_volume_timed(oggmix_player* player, oggmix_track track, double volume,
                                      oggmix_fade_length length, oggmix_quantize when,
                                      int64_t* frame) {
    if (OutOfRange(when, OGGMIX_QUANTIZE_END)) return BadEnum("when", RawValue(when));
    const oggmix::VolumeChange change{.Length = ToFadeLength(length),
                                      .When = static_cast<oggmix::Quantize>(when)};
    return Call(player, [&](PlayerEntry& p) {
        Give(p.Player->SetVolume(T(track), volume, change), frame);
    });
}

oggmix_result oggmix_play_stinger(oggmix_player* player, oggmix_track stinger, oggmix_track grid,
                                  oggmix_quantize when, int64_t pickup_frames, double cooldown_sec,
                                  int64_t* frame) {
    if (OutOfRange(when, OGGMIX_QUANTIZE_END)) return BadEnum("when", RawValue(when));
    const oggmix::StingerOptions options{.Grid = T(grid),
                                         .When = static_cast<oggmix::Quantize>(when),
                                         .PickupFrames = pickup_frames,
                                         .CooldownSec = cooldown_sec};
    return Call(player,
                [&](PlayerEntry& p) { Give(p.Player->PlayStinger(T(stinger), options), frame); });
}

oggmix_result oggmix_render_offline(oggmix_player* player, int16_t* interleaved, size_t frames) {
    if (interleaved == nullptr && frames > 0) return NullArgument("interleaved");
    if (frames > SIZE_MAX / 2)
        return Fail(OGGMIX_ERROR_INVALID_ARGUMENT,
                    std::to_string(frames) + " frames do not fit in memory");
    return Call(player, [&](PlayerEntry& p) {
        p.Player->RenderOffline(std::span(interleaved, frames * 2));
    });
}

const char* oggmix_last_error(void) { return tLastError.c_str(); }

}  // extern "C"
