/* PulsePeer.c: oggmix_peer_pulse FILE LATENCY_MS SECONDS: the floor of delivery through a
 * PulseAudio server. A bare libpulse client decodes FILE with libvorbisfile and writes it on
 * the server's requests, with the buffer the pulse back end asks for at that latency (target
 * length LATENCY_MS, requests as large as leave the server 75 ms, at least half of it),
 * for SECONDS, then exits. One thread: libpulse's plain main loop; the file is read from
 * memory. FILE must be 44100 Hz stereo. */
#include <pulse/pulseaudio.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vorbis/vorbisfile.h>

enum { kRate = 44100, kBytesPerFrame = 4, kHeldFrames = 4410 * 3 / 4 };

typedef struct {
    OggVorbis_File file;
    pa_mainloop* loop;
    size_t bytesLeft;
    int failed;
} Peer;

/* Decodes straight into the server's buffer, looping the file at its end. */
static void OnRequest(pa_stream* stream, size_t bytes, void* user) {
    Peer* peer = user;
    while (bytes > 0 && peer->bytesLeft > 0) {
        void* out = NULL;
        size_t room = bytes < peer->bytesLeft ? bytes : peer->bytesLeft;
        if (pa_stream_begin_write(stream, &out, &room) < 0) break;
        size_t filled = 0;
        while (filled < room) {
            int section = 0;
            long got =
                ov_read(&peer->file, (char*)out + filled, (int)(room - filled), 0, 2, 1, &section);
            if (got == 0 && ov_pcm_seek(&peer->file, 0) == 0) continue;
            if (got <= 0) break;
            filled += (size_t)got;
        }
        filled -= filled % kBytesPerFrame;
        if (filled == 0) {
            pa_stream_cancel_write(stream);
            peer->failed = 1;
            pa_mainloop_quit(peer->loop, 1);
            return;
        }
        pa_stream_write(stream, out, filled, NULL, 0, PA_SEEK_RELATIVE);
        bytes -= filled;
        peer->bytesLeft -= filled < peer->bytesLeft ? filled : peer->bytesLeft;
    }
    if (peer->bytesLeft == 0) pa_mainloop_quit(peer->loop, 0);
}

static void OnStreamState(pa_stream* stream, void* user) {
    Peer* peer = user;
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        peer->failed = 1;
        pa_mainloop_quit(peer->loop, 1);
    }
}

static void OnContextState(pa_context* context, void* user) {
    Peer* peer = user;
    const pa_context_state_t state = pa_context_get_state(context);
    if (!PA_CONTEXT_IS_GOOD(state)) {
        peer->failed = 1;
        pa_mainloop_quit(peer->loop, 1);
    }
}

static char* ReadAll(const char* path, long* size) {
    FILE* f = fopen(path, "rb");
    if (f == NULL) return NULL;
    fseek(f, 0, SEEK_END);
    *size = ftell(f);
    fseek(f, 0, SEEK_SET);
    char* bytes = malloc((size_t)*size);
    if (bytes != NULL && fread(bytes, 1, (size_t)*size, f) != (size_t)*size) {
        free(bytes);
        bytes = NULL;
    }
    fclose(f);
    return bytes;
}

typedef struct {
    const char* bytes;
    long size;
    long at;
} Memory;

static size_t MemoryRead(void* out, size_t size, size_t count, void* source) {
    Memory* m = source;
    size_t want = size * count;
    if (want > (size_t)(m->size - m->at)) want = (size_t)(m->size - m->at);
    memcpy(out, m->bytes + m->at, want);
    m->at += (long)want;
    return size == 0 ? 0 : want / size;
}

static int MemorySeek(void* source, ogg_int64_t offset, int whence) {
    Memory* m = source;
    const long base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->at : m->size;
    if (base + offset < 0 || base + offset > m->size) return -1;
    m->at = (long)(base + offset);
    return 0;
}

static long MemoryTell(void* source) { return ((Memory*)source)->at; }

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: oggmix_peer_pulse FILE LATENCY_MS SECONDS\n");
        return 2;
    }
    const int latencyMs = atoi(argv[2]);
    const double seconds = atof(argv[3]);
    Memory memory = {NULL, 0, 0};
    memory.bytes = ReadAll(argv[1], &memory.size);
    Peer peer;
    memset(&peer, 0, sizeof peer);
    const ov_callbacks callbacks = {MemoryRead, MemorySeek, NULL, MemoryTell};
    if (memory.bytes == NULL || ov_open_callbacks(&memory, &peer.file, NULL, 0, callbacks) != 0) {
        fprintf(stderr, "oggmix_peer_pulse: cannot decode %s\n", argv[1]);
        return 1;
    }
    peer.bytesLeft = (size_t)(seconds * kRate) * kBytesPerFrame;
    peer.loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(peer.loop), "oggmix peer");
    pa_context_set_state_callback(context, OnContextState, &peer);
    if (pa_context_connect(context, NULL, PA_CONTEXT_NOAUTOSPAWN, NULL) < 0) return 1;
    while (pa_context_get_state(context) != PA_CONTEXT_READY)
        if (peer.failed || pa_mainloop_iterate(peer.loop, 1, NULL) < 0) return 1;

    const pa_sample_spec format = {PA_SAMPLE_S16LE, kRate, 2};
    pa_stream* stream = pa_stream_new(context, "oggmix peer", &format, NULL);
    pa_stream_set_state_callback(stream, OnStreamState, &peer);
    pa_stream_set_write_callback(stream, OnRequest, &peer);
    const unsigned targetFrames = (unsigned)(latencyMs * kRate / 1000);
    unsigned requestFrames = targetFrames / 2;
    if (targetFrames > kHeldFrames && targetFrames - kHeldFrames > requestFrames)
        requestFrames = targetFrames - kHeldFrames;
    pa_buffer_attr attr;
    attr.maxlength = (uint32_t)-1;
    attr.tlength = targetFrames * kBytesPerFrame;
    attr.prebuf = (uint32_t)-1;
    attr.minreq = requestFrames * kBytesPerFrame;
    attr.fragsize = (uint32_t)-1;
    const pa_stream_flags_t flags =
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE;
    if (pa_stream_connect_playback(stream, NULL, &attr, flags, NULL, NULL) < 0) return 1;
    int result = 0;
    pa_mainloop_run(peer.loop, &result);
    pa_stream_set_state_callback(stream, NULL, NULL);
    pa_context_set_state_callback(context, NULL, NULL);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_mainloop_free(peer.loop);
    ov_clear(&peer.file);
    free((void*)memory.bytes);
    return peer.failed ? 1 : 0;
}
