/* SdlMixerPeer.c: oggmix_peer_sdl_mixer FILE LATENCY_MS SECONDS: SDL_mixer playing FILE with
 * Mix_PlayMusic (looped) for SECONDS, its chunk the power of two of frames nearest
 * LATENCY_MS, as the sdl back end picks its period. SDL reaches the server through its own
 * audio driver (SDL_AUDIODRIVER). */
#include <SDL.h>
#include <SDL_mixer.h>
#include <stdio.h>
#include <stdlib.h>

static int ChunkFrames(int latencyMs) {
    const int frames = latencyMs * 44100 / 1000;
    int below = 64;
    while (below * 2 <= frames) below *= 2;
    return frames - below < below / 2 ? below : 2 * below;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: oggmix_peer_sdl_mixer FILE LATENCY_MS SECONDS\n");
        return 2;
    }
    const int latencyMs = atoi(argv[2]);
    const double seconds = atof(argv[3]);
    if (SDL_Init(SDL_INIT_AUDIO) != 0 ||
        Mix_OpenAudio(44100, AUDIO_S16SYS, 2, ChunkFrames(latencyMs)) != 0) {
        fprintf(stderr, "oggmix_peer_sdl_mixer: %s\n", SDL_GetError());
        return 1;
    }
    Mix_Music* music = Mix_LoadMUS(argv[1]);
    if (music == NULL || Mix_PlayMusic(music, -1) != 0) {
        fprintf(stderr, "oggmix_peer_sdl_mixer: %s\n", Mix_GetError());
        return 1;
    }
    SDL_Delay((Uint32)(seconds * 1000));
    Mix_HaltMusic();
    Mix_FreeMusic(music);
    Mix_CloseAudio();
    SDL_Quit();
    return 0;
}
