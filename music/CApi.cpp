// CApi.cpp: the C interface: each call looks its player handle up among the open players,
// calls the C++ player and turns what it throws into a result code and a message. Players still
// open when the program ends are closed at exit, so that a program that forgets oggmix_close
// still ends cleanly with its output complete.
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "oggmix/MusicPlayer.h"
#include "oggmix/oggmix.h"

namespace {

struct PlayerEntry {
    std::unique_ptr<oggmix::MusicPlayer> Player;
    std::deque<oggmix_event> Pending;  // polled, not yet handed over
    oggmix_event_callback Callback = nullptr;
    void* UserData = nullptr;
};

static_assert(OGGMIX_DEFAULT_LATENCY_MS == oggmix::kDefaultLatencyMs);
static_assert(OGGMIX_DEFAULT_PAUSE_FADE_SEC == oggmix::kDefaultPauseFadeSec);

thread_local std::string tLastError;

// The open players by handle. A handle is a number never given out twice, never an address,
// so one kept after its player was closed is refused even when a new player is open.
std::mutex gPlayersMutex;
std::unordered_map<oggmix_player*, std::unique_ptr<PlayerEntry>> gPlayers;
uintptr_t gLastHandle = 0;  // guarded by gPlayersMutex

// Closes every player left open, at exit. Registered once the first player is built, so it
// runs before the destructors of everything that existed by then (this file's registry, and
// whatever the player set up on its first use), which closing a player still needs.
void CloseOpenPlayers() {
    std::unordered_map<oggmix_player*, std::unique_ptr<PlayerEntry>> open;
    {
        std::lock_guard guard(gPlayersMutex);
        open.swap(gPlayers);
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

// Runs body against the player, mapping every exception to a result.
template <class Body>
oggmix_result Call(oggmix_player* player, Body&& body) {
    PlayerEntry* entry = nullptr;
    {
        std::lock_guard guard(gPlayersMutex);
        const auto found = gPlayers.find(player);
        if (found == gPlayers.end())
            return Fail(OGGMIX_ERROR_INVALID_PLAYER,
                        "the player handle is null, closed, or was never opened");
        entry = found->second.get();
    }
    try {
        body(*entry);
        return OGGMIX_OK;
    } catch (const oggmix::MusicError& e) {
        return Fail(static_cast<oggmix_result>(e.Code()), e.what());
    } catch (const std::bad_alloc&) {
        return Fail(OGGMIX_ERROR_INTERNAL, "out of memory");
    } catch (const std::exception& e) {
        return Fail(OGGMIX_ERROR_INTERNAL, e.what());
    }
}

oggmix_result NullArgument(const char* name) {
    return Fail(OGGMIX_ERROR_INVALID_ARGUMENT, std::string(name) + " must not be NULL");
}

oggmix::Track T(oggmix_track track) { return oggmix::Track{track}; }

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
        settings.Backend = options->backend != nullptr ? options->backend : "";
        settings.DecoderPath = options->decoder_path != nullptr ? options->decoder_path : "";
        settings.BlockFrames = options->block_frames;
        settings.RequireDevice = options->require_device != 0;
        settings.LatencyMs = options->latency_ms;
    }
    try {
        auto entry = std::make_unique<PlayerEntry>();
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
    std::unique_ptr<PlayerEntry> closing;
    {
        std::lock_guard guard(gPlayersMutex);
        const auto found = gPlayers.find(player);
        if (found == gPlayers.end())
            return Fail(OGGMIX_ERROR_INVALID_PLAYER,
                        "the player handle is null, closed, or was never opened");
        closing = std::move(found->second);
        gPlayers.erase(found);
    }
    return OGGMIX_OK;  // the player shuts down here, outside the registry's lock
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
    return Call(player, [&](PlayerEntry& p) { p.Player->Unload(T(track)); });
}

oggmix_result oggmix_play(oggmix_player* player, oggmix_track track, int loop, double fade_in_sec) {
    return Call(player, [&](PlayerEntry& p) {
        p.Player->Play(T(track), {.Loop = loop != 0, .FadeInSec = fade_in_sec});
    });
}

oggmix_result oggmix_stop(oggmix_player* player, oggmix_track track, double fade_out_sec) {
    return Call(player, [&](PlayerEntry& p) { p.Player->Stop(T(track), fade_out_sec); });
}

oggmix_result oggmix_pause(oggmix_player* player, oggmix_track track, double fade_sec) {
    return Call(player, [&](PlayerEntry& p) { p.Player->Pause(T(track), fade_sec); });
}

oggmix_result oggmix_resume(oggmix_player* player, oggmix_track track, double fade_sec) {
    return Call(player, [&](PlayerEntry& p) { p.Player->Resume(T(track), fade_sec); });
}

oggmix_result oggmix_cross_fade(oggmix_player* player, oggmix_track from, oggmix_track to,
                                double seconds, int loop) {
    return Call(player,
                [&](PlayerEntry& p) { p.Player->CrossFade(T(from), T(to), seconds, loop != 0); });
}

oggmix_result oggmix_seek(oggmix_player* player, oggmix_track track, double seconds) {
    return Call(player, [&](PlayerEntry& p) { p.Player->Seek(T(track), seconds); });
}

oggmix_result oggmix_set_volume(oggmix_player* player, oggmix_track track, double volume) {
    return oggmix_set_volume_fade(player, track, volume, 0.0);
}

oggmix_result oggmix_set_volume_fade(oggmix_player* player, oggmix_track track, double volume,
                                     double seconds) {
    return Call(player, [&](PlayerEntry& p) { p.Player->SetVolume(T(track), volume, seconds); });
}

oggmix_result oggmix_set_pan(oggmix_player* player, oggmix_track track, double pan,
                             double seconds) {
    return Call(player, [&](PlayerEntry& p) { p.Player->SetPan(T(track), pan, seconds); });
}

oggmix_result oggmix_set_tone_filter(oggmix_player* player, oggmix_track track,
                                     oggmix_tone_filter filter, double seconds) {
    return Call(player, [&](PlayerEntry& p) {
        p.Player->SetToneFilter(T(track), static_cast<oggmix::ToneFilter>(filter), seconds);
    });
}

oggmix_result oggmix_set_gain_control(oggmix_player* player, oggmix_track track, double level) {
    return Call(player, [&](PlayerEntry& p) { p.Player->SetGainControl(T(track), level); });
}

oggmix_result oggmix_set_master_volume(oggmix_player* player, double volume) {
    return Call(player, [&](PlayerEntry& p) { p.Player->SetMasterVolume(volume); });
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
        for (const oggmix::MusicEvent& event : p.Player->Poll())
            p.Pending.push_back(
                {static_cast<oggmix_event_kind>(event.Kind), event.Which.Id, event.CueIndex});
        while (*count < capacity && !p.Pending.empty()) {
            events[*count] = p.Pending.front();
            p.Pending.pop_front();
            if (p.Callback != nullptr) p.Callback(&events[*count], p.UserData);
            ++*count;
        }
    });
}

oggmix_result oggmix_set_event_callback(oggmix_player* player, oggmix_event_callback callback,
                                        void* user_data) {
    return Call(player, [&](PlayerEntry& p) {
        p.Callback = callback;
        p.UserData = user_data;
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
                              uint64_t* late_blocks) {
    if (written_blocks == nullptr || late_blocks == nullptr) return NullArgument("a count");
    return Call(player, [&](PlayerEntry& p) {
        const oggmix::DeliveryStats stats = p.Player->Delivery();
        *written_blocks = stats.WrittenBlocks;
        *late_blocks = stats.LateBlocks;
    });
}

const char* oggmix_last_error(void) { return tLastError.c_str(); }

}  // extern "C"
