/* exit_with_player_open.c: a game that returns from main with a player still open and playing,
 * linked against the Windows package as its README says. It must end: the library cannot wait
 * for its threads while Windows unloads it. */
#include <oggmix/oggmix.h>
#include <stdio.h>

int main(int argc, char** argv) {
    oggmix_player* player = NULL;
    oggmix_track track = 0;
    if (argc != 2) return fprintf(stderr, "usage: exit_with_player_open FILE.ogg\n"), 2;
    if (oggmix_open(NULL, &player) || oggmix_load_file(player, argv[1], &track) ||
        oggmix_play(player, track, 1, 0.0f)) {
        fprintf(stderr, "exit_with_player_open: %s\n", oggmix_last_error());
        return 1;
    }
    puts("returning with the player open");
    return 0;
}
