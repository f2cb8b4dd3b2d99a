/* Plays a file on the back end given and returns from main without closing the player: the
 * library must close it at exit, with the sound heard so far kept. */
#include <oggmix/oggmix.h>

#include <stdio.h>
#include <time.h>

int main(int argc, char** argv) {
    oggmix_options options;
    oggmix_player* player = NULL;
    oggmix_track track = 0;
    struct timespec half_second = {0, 500000000L};
    if (argc != 3) return fprintf(stderr, "usage: exit_with_player_open BACKEND FILE.ogg\n"), 2;
    oggmix_default_options(&options);
    options.backend = argv[1];
    if (oggmix_open(&options, &player) || oggmix_load_file(player, argv[2], &track) ||
        oggmix_play(player, track, 1, 0.0)) {
        fprintf(stderr, "exit_with_player_open: %s\n", oggmix_last_error());
        return 1;
    }
    nanosleep(&half_second, NULL);
    printf("left open\n");
    return 0;
}
