/* oggmix/oggmix.h: the music player for games, as a C interface (liboggmix.so), for C and
 * for every language that can call C (Python ctypes, C#, Rust, game engines). It is the C++
 * oggmix::MusicPlayer behind opaque handles: see oggmix/MusicPlayer.h for what each call does.
 *
 * Threads: any call from any thread. Each player takes its calls one at a time (a lock of
 *          this layer, which the device's thread never takes, so a call never holds up the
 *          sound): calls from several threads on one player are safe, and each waits for the
 *          one before. The event callback runs on the thread calling oggmix_poll, inside it,
 *          and may call its player again (oggmix_close too: the player goes when the poll
 *          returns). Calling another player from a callback can deadlock with that player's
 *          callback calling back. Several players may be open at once, each with its own
 *          device stream; players still open when the program ends (returning from main,
 *          exit) are closed then, so their output is complete. Below, "Threads:" says where a
 *          call differs.
 * Errors:  every call that can fail returns an oggmix_result; on a failure
 *          oggmix_last_error() holds an English message (per thread, until the next failure).
 *          A player handle used after oggmix_close, or a track after oggmix_unload, is an
 *          error, never a crash.
 * Units:   seconds as double; volume 1.0 = as recorded; pan -1 left .. +1 right; output
 *          frames count the player's 44100 Hz output from its start (int64_t); source frames
 *          are at the track's own rate. Frames and times as far as 2^48 frames (about 200
 *          years) are taken; past it they are refused or clamped as each call says, never
 *          wrapped. An enum holding a number outside its values is refused. */
#ifndef OGGMIX_OGGMIX_H
#define OGGMIX_OGGMIX_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct oggmix_player oggmix_player; /* a handle, never given out twice */
typedef uint32_t oggmix_track;              /* 0: no track */

typedef enum oggmix_result {
    OGGMIX_OK = 0,
    OGGMIX_ERROR_INVALID_ARGUMENT = 1,
    OGGMIX_ERROR_INVALID_TRACK = 2,
    OGGMIX_ERROR_FILE_NOT_FOUND = 3,
    OGGMIX_ERROR_READ_FAILED = 4,
    OGGMIX_ERROR_NOT_OGG_VORBIS = 5,
    OGGMIX_ERROR_UNSUPPORTED = 6,
    OGGMIX_ERROR_NO_DECODER = 7,
    OGGMIX_ERROR_NO_DEVICE = 8,
    OGGMIX_ERROR_TOO_MANY_PLAYING = 9,
    OGGMIX_ERROR_INTERNAL = 10,
    OGGMIX_ERROR_INVALID_PLAYER = 11 /* null, closed, or never opened */
} oggmix_result;

typedef struct oggmix_options {
    /* "pulse", "sdl", "null", "wav:PATH", "offline" (nothing pulls: oggmix_render_offline
     * mixes); NULL or "": OGGMIX_AUDIO, else "pulse" where a PulseAudio or PipeWire server
     * answers, else "sdl" */
    const char* backend;
    const char* decoder_path; /* NULL or "": libvorbisfile, linked in */
    int32_t block_frames;     /* 1024 .. 8192, a multiple of 4 */
    int require_device;       /* 0: play silently when the device cannot be opened */
    int32_t latency_ms;       /* held by the device, 10 .. 1000; 0: OGGMIX_DEFAULT_LATENCY_MS */
} oggmix_options;

typedef enum oggmix_tone_filter {
    OGGMIX_FILTER_OFF,
    OGGMIX_FILTER_LOW_PASS,
    OGGMIX_FILTER_HIGH_PASS,
    OGGMIX_FILTER_LOW_RESO,
    OGGMIX_FILTER_HIGH_RESO,
    OGGMIX_FILTER_LO_HI_PASS,
    OGGMIX_FILTER_MIDDLE_RESO,
    OGGMIX_FILTER_WAVE
} oggmix_tone_filter;

typedef enum oggmix_event_kind {
    OGGMIX_EVENT_LOOPED = 0, /* cue_index: the loop tag, -1 the track's end */
    OGGMIX_EVENT_ENDED = 1,
    OGGMIX_EVENT_DEVICE_LOST = 2, /* track 0; reason; playback goes on unheard */
    OGGMIX_EVENT_DEVICE_BACK = 3, /* track 0 */
    /* Told ahead, as soon as mixed (at least a block before they are heard): */
    OGGMIX_EVENT_BEAT = 4,             /* a beat of a track with a tempo: bar, beat_in_bar */
    OGGMIX_EVENT_BAR = 5,              /* the first beat of a bar (its beat event comes too) */
    OGGMIX_EVENT_CUE_REACHED = 6,      /* a loop cue's end is reached and it jumps */
    OGGMIX_EVENT_TRANSITION_START = 7, /* track: the destination; frame: where it begins */
    OGGMIX_EVENT_TRANSITION_END = 8    /* track: the destination; the source is stopped */
} oggmix_event_kind;

/* Why the sound device plays nothing (device lost events). */
typedef enum oggmix_device_reason {
    OGGMIX_DEVICE_PLAYS = 0,
    OGGMIX_DEVICE_GONE = 1,      /* the device or its server went away, or could not be opened */
    OGGMIX_DEVICE_SUSPENDED = 2, /* the sink it plays to was suspended */
    OGGMIX_DEVICE_MOVED = 3,     /* the stream was moved to a sink that is suspended */
    OGGMIX_DEVICE_STALLED = 4    /* the server stopped taking sound, with no reason given */
} oggmix_device_reason;

typedef struct oggmix_event {
    oggmix_event_kind kind;
    oggmix_track track;
    int32_t cue_index;
    /* The output frame on which it is heard, and when, in seconds from the poll that handed
     * it out: negative for looped and ended (heard already), positive for the events told
     * ahead; 0 for the device's events. */
    int64_t frame;
    double seconds_from_now;
    int64_t bar;                 /* beat, bar: the bar, from 0 */
    int32_t beat_in_bar;         /* beat, bar: the beat within the bar, from 0 */
    oggmix_device_reason reason; /* device lost: why */
} oggmix_event;

typedef void (*oggmix_event_callback)(const oggmix_event* event, void* user_data);

/* A loop cue, in source frames at the track's own rate: playback reaching end_frame goes on
 * at start_frame, count times (-1 for ever). */
typedef struct oggmix_loop_cue {
    int32_t index; /* the loop tag's index, 0 .. 15 */
    int64_t start_frame;
    int64_t end_frame;
    int32_t count;
} oggmix_loop_cue;

/* A track's tempo: beats per minute (rounded to a millionth; 0: none), beats per bar, and the
 * source frame of beat 0 (0 .. 2^48). Read from the file's comments BPM, BEATSPERBAR and
 * FIRSTBEAT. No typedef: oggmix_tempo is the call that reads it. */
struct oggmix_tempo {
    double bpm;
    int32_t beats_per_bar;
    int64_t first_beat_frame;
    /* From oggmix_tempo: why a tempo tag of the file was not taken (that value keeps its
     * default), "" when each was; valid until the track is unloaded or the player closed.
     * oggmix_set_tempo ignores it. */
    const char* tag_problem;
};

/* When a scheduled change lands, on the grid of a track with a tempo (or its loop and end). */
typedef enum oggmix_quantize {
    OGGMIX_QUANTIZE_NOW,      /* the first frame not yet mixed */
    OGGMIX_QUANTIZE_BEAT,     /* the next beat */
    OGGMIX_QUANTIZE_BAR,      /* the next bar line */
    OGGMIX_QUANTIZE_BARS,     /* the next line of every n bars, counted from bar 0 */
    OGGMIX_QUANTIZE_LOOP_END, /* where the track would jump back (or its end) */
    OGGMIX_QUANTIZE_END       /* the end of the track */
} oggmix_quantize;

typedef enum oggmix_fade_shape {
    OGGMIX_SHAPE_LINEAR,
    OGGMIX_SHAPE_EQUAL_POWER,
    OGGMIX_SHAPE_S_CURVE
} oggmix_fade_shape;

/* A fade's length: in seconds, or in beats of the grid's tempo when beats is above 0. */
typedef struct oggmix_fade_length {
    double seconds;
    double beats;
} oggmix_fade_length;

/* Where a transition's destination starts. */
typedef enum oggmix_entry {
    OGGMIX_ENTRY_START,     /* its start */
    OGGMIX_ENTRY_SAME,      /* the source's position */
    OGGMIX_ENTRY_SAME_BEAT, /* the same beat within the bar, on its own grid */
    OGGMIX_ENTRY_CUE        /* the start of loop cue cue_index */
} oggmix_entry;

/* None: cut on the frame. In: the destination fades in (the source is cut). Out: the source
 * fades out while the destination starts at full volume. Cross (the default): both. A length
 * of 0 cuts whatever the kind, so a length alone cross-fades. */
typedef enum oggmix_fade {
    OGGMIX_FADE_NONE,
    OGGMIX_FADE_IN,
    OGGMIX_FADE_OUT,
    OGGMIX_FADE_CROSS
} oggmix_fade;

typedef struct oggmix_transition_options {
    oggmix_quantize when; /* on the source's grid */
    int32_t bars;         /* for OGGMIX_QUANTIZE_BARS */
    oggmix_entry start_at;
    int32_t cue_index; /* for OGGMIX_ENTRY_CUE */
    oggmix_fade fade;
    oggmix_fade_length length;
    oggmix_fade_shape shape;
    oggmix_track bridge; /* 0, or played once from the frame; the destination starts after it */
    int loop;            /* the destination loops */
} oggmix_transition_options;

#define OGGMIX_DEFAULT_PAUSE_FADE_SEC 0.015
#define OGGMIX_DEFAULT_LATENCY_MS 100

/* The defaults: backend chosen as above, libvorbisfile, 2048-frame blocks, device required,
 * the default latency. Threads: any, no player. */
void oggmix_default_options(oggmix_options* options);
/* options NULL: the defaults. On success *player is the new player. */
oggmix_result oggmix_open(const oggmix_options* options, oggmix_player** player);
/* Stops the sound and frees the player and its tracks, once a call under way on another thread
 * is over; the handle is refused from then on. From inside the player's event callback the
 * poll hands out no more events, and the player goes when the poll returns. */
oggmix_result oggmix_close(oggmix_player* player);

oggmix_result oggmix_load_file(oggmix_player* player, const char* path, oggmix_track* track);
/* The bytes are copied; name is what messages call them (NULL: "data"). */
oggmix_result oggmix_load_memory(oggmix_player* player, const void* bytes, size_t size,
                                 const char* name, oggmix_track* track);
oggmix_result oggmix_unload(oggmix_player* player, oggmix_track track);

oggmix_result oggmix_play(oggmix_player* player, oggmix_track track, int loop, double fade_in_sec);
oggmix_result oggmix_stop(oggmix_player* player, oggmix_track track, double fade_out_sec);
oggmix_result oggmix_pause(oggmix_player* player, oggmix_track track, double fade_sec);
oggmix_result oggmix_resume(oggmix_player* player, oggmix_track track, double fade_sec);
oggmix_result oggmix_cross_fade(oggmix_player* player, oggmix_track from, oggmix_track to,
                                double seconds, int loop);
/* From 0 seconds; past the track's end (however far) is its end. */
oggmix_result oggmix_seek(oggmix_player* player, oggmix_track track, double seconds);

/* 0 .. 2, at once (oggmix_set_volume) or reached over seconds. */
oggmix_result oggmix_set_volume(oggmix_player* player, oggmix_track track, double volume);
oggmix_result oggmix_set_volume_fade(oggmix_player* player, oggmix_track track, double volume,
                                     double seconds);
oggmix_result oggmix_set_pan(oggmix_player* player, oggmix_track track, double pan, double seconds);
oggmix_result oggmix_set_tone_filter(oggmix_player* player, oggmix_track track,
                                     oggmix_tone_filter filter, double seconds);
oggmix_result oggmix_set_gain_control(oggmix_player* player, oggmix_track track, double level);
oggmix_result oggmix_set_master_volume(oggmix_player* player, double volume);
oggmix_result oggmix_set_limiter(oggmix_player* player, int32_t min, int32_t max, int32_t down,
                                 int32_t hold_frames);
oggmix_result oggmix_reset_limiter(oggmix_player* player);

oggmix_result oggmix_position(oggmix_player* player, oggmix_track track, double* seconds);
oggmix_result oggmix_length(oggmix_player* player, oggmix_track track, double* seconds);
oggmix_result oggmix_is_playing(oggmix_player* player, oggmix_track track, int* playing);
/* The loop cues the track follows: *count of them, read one by one at position 0 .. count - 1
 * in index order (a position past the last is OGGMIX_ERROR_INVALID_ARGUMENT). */
oggmix_result oggmix_cue_count(oggmix_player* player, oggmix_track track, size_t* count);
oggmix_result oggmix_cue(oggmix_player* player, oggmix_track track, size_t position,
                         oggmix_loop_cue* cue);

/* Copies up to capacity events heard since the last poll into events and their number into
 * *count; the rest wait for the next poll, up to 65536 of them: past that the oldest are
 * dropped and counted (oggmix_dropped_events). The callback, if set, runs inside the poll, on
 * its thread, for each event as it is copied. */
oggmix_result oggmix_poll(oggmix_player* player, oggmix_event* events, size_t capacity,
                          size_t* count);
oggmix_result oggmix_set_event_callback(oggmix_player* player, oggmix_event_callback callback,
                                        void* user_data);
/* The events dropped unpolled since the player opened. */
oggmix_result oggmix_dropped_events(oggmix_player* player, uint64_t* dropped);

/* 1 while the device plays, 0 while the player plays silently (no device from the start, or
 * a lost one); *status says why a device could not be opened (empty text when it opened),
 * valid until the player is closed. */
oggmix_result oggmix_device_status(oggmix_player* player, int* available, const char** status);

/* The sound back end in use: "pulse", "sdl", "null", "wav", "manual" or "offline"; valid
 * until the player is closed. */
oggmix_result oggmix_backend_name(oggmix_player* player, const char** name);

/* Blocks handed to the sound device so far (a block begun counts), the gaps the device
 * played for want of sound where its back end can tell (PulseAudio reports each; 0 elsewhere),
 * the longest one pull of the device took in microseconds, and the calls refused for want of
 * room (every slot playing, the schedule full); longest_pull_us and refused_calls may be
 * NULL. */
oggmix_result oggmix_delivery(oggmix_player* player, uint64_t* written_blocks,
                              uint64_t* late_blocks, int64_t* longest_pull_us,
                              uint64_t* refused_calls);

/* ---- Interactive music. Every change lands on its exact output frame and gives it back in
 * *frame (which may be NULL): a change asked for on a frame already mixed lands on the next
 * one that qualifies. ---- */

/* The output frame being heard now, and the first not yet mixed (the earliest a change can
 * land on). */
oggmix_result oggmix_heard_frame(oggmix_player* player, int64_t* frame);
oggmix_result oggmix_mixed_frame(oggmix_player* player, int64_t* frame);
/* The output frame on which the player's last call that changes what is heard lands
 * (oggmix_play, oggmix_stop, oggmix_pause, oggmix_resume, oggmix_cross_fade, oggmix_seek, the
 * volume, pan, tone filter, gain control and master volume calls: the first frame not yet
 * mixed when they were called). */
oggmix_result oggmix_landed_frame(oggmix_player* player, int64_t* frame);
/* The output frame of the track's (a group's: its first layer's) next beat or bar not yet
 * mixed, -1 while it is silent or fading out; an error when it has no tempo. */
oggmix_result oggmix_next_beat(oggmix_player* player, oggmix_track track, int64_t* frame);
oggmix_result oggmix_next_bar(oggmix_player* player, oggmix_track track, int64_t* frame);
/* When output frame is (or was) heard: seconds from now, negative for the past; a frame past
 * 2^48 either way is taken as that. */
oggmix_result oggmix_when_heard(oggmix_player* player, int64_t frame, double* seconds_from_now);
/* Plays the track from output frame on (the next that can be, if mixed); a frame past 2^48
 * is refused. */
oggmix_result oggmix_play_at(oggmix_player* player, oggmix_track track, int64_t frame, int loop,
                             double fade_in_sec, int64_t* heard_frame);

oggmix_result oggmix_set_tempo(oggmix_player* player, oggmix_track track,
                               const struct oggmix_tempo* tempo);
oggmix_result oggmix_tempo(oggmix_player* player, oggmix_track track, struct oggmix_tempo* tempo);

/* A group of count layers (tracks of the same length) sharing one playhead; *group names it
 * wherever a track is taken. It follows the tempo of its first layer. */
oggmix_result oggmix_make_layer_group(oggmix_player* player, const oggmix_track* layers,
                                      size_t count, oggmix_track* group);

/* On the next bar, to the destination's start, looping; a cross-fade of length 0 (a cut) until
 * a length is set. Threads: any, no player. */
oggmix_transition_options oggmix_default_transition_options(void);
/* From one track or group to another; options NULL: the defaults. */
oggmix_result oggmix_transition(oggmix_player* player, oggmix_track from, oggmix_track to,
                                const oggmix_transition_options* options, int64_t* frame);
/* The volume (0 .. 2) of a track or layer, reached over length, from now or the next beat or
 * bar of its grid (a layer: its group's). */
oggmix_result oggmix_set_volume_timed(oggmix_player* player, oggmix_track track, double volume,
                                      oggmix_fade_length length, oggmix_quantize when,
                                      int64_t* frame);
/* Plays stinger once on top, its downbeat on the next beat or bar of grid's tempo, starting
 * pickup_frames before it; *frame is -1 (and the result OGGMIX_OK) when refused because the
 * last stinger's downbeat is less than cooldown_sec before. */
oggmix_result oggmix_play_stinger(oggmix_player* player, oggmix_track stinger, oggmix_track grid,
                                  oggmix_quantize when, int64_t pickup_frames, double cooldown_sec,
                                  int64_t* frame);
/* Only on the "offline" back end: mixes the next frames into interleaved (left, right: room
 * for 2 * frames values) at once, on the calling thread; the output clock moves on by as
 * many, and the events of those frames are due. */
oggmix_result oggmix_render_offline(oggmix_player* player, int16_t* interleaved, size_t frames);

/* The message of this thread's last failure ("" before any). Threads: any, no player. */
const char* oggmix_last_error(void);

#ifdef __cplusplus
}
#endif

#endif /* OGGMIX_OGGMIX_H */
