/* Plays a looping track, cross-fades to another, pauses, resumes and prints positions. */
#include <oggmix/oggmix.h>

#include <stdio.h>
#include <time.h>

static void wait_ms(long ms) {
    struct timespec t = {ms / 1000, ms % 1000 * 1000000L};
    nanosleep(&t, NULL);
}

int main(int argc, char** argv) {
    oggmix_player* player = NULL;
    oggmix_track first = 0, second = 0;
    double at = 0.0;
    if (argc != 3) return fprintf(stderr, "usage: play_music_c FIRST.ogg SECOND.ogg\n"), 2;
    if (oggmix_open(NULL, &player) || oggmix_load_file(player, argv[1], &first) ||
        oggmix_load_file(player, argv[2], &second)) {
        fprintf(stderr, "play_music_c: %s\n", oggmix_last_error());
        return oggmix_close(player), 1;
    }
    oggmix_play(player, first, 1, 0.5);
    wait_ms(1500);
    oggmix_cross_fade(player, first, second, 1.0, 1);
    wait_ms(1500);
    oggmix_pause(player, second, OGGMIX_DEFAULT_PAUSE_FADE_SEC);
    wait_ms(500);
    oggmix_position(player, second, &at), printf("paused at %.3f s\n", at);
    wait_ms(500);
    oggmix_position(player, second, &at), printf("still at %.3f s\n", at);
    oggmix_resume(player, second, OGGMIX_DEFAULT_PAUSE_FADE_SEC);
    wait_ms(1000);
    oggmix_position(player, second, &at), printf("playing at %.3f s\n", at);
    return oggmix_close(player);
}
