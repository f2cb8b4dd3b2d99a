"""Explore music switches to combat on a bar line, a drum layer fades in over two beats and a
stinger lands on the next bar; every beat is printed as soon as it is known, before it is heard."""
import sys
import time

import oggmix


def print_beats(player, seconds):
    """A game's frame loop: polls every 10 ms for a while, printing each beat (bar.beat, 1.1
    the first)."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for event in player.poll():
            if event.kind == oggmix.EventKind.BEAT:
                until = event.heard_at - time.monotonic()
                print(f"beat at frame {event.frame}, {event.bar + 1}.{event.beat + 1}, "
                      f"heard in {until:.3f} s")
        time.sleep(0.01)


def main(argv):
    if len(argv) != 5:
        print("usage: adaptive_music.py EXPLORE.ogg COMBAT.ogg DRUMS.ogg STINGER.ogg",
              file=sys.stderr)
        return 2
    try:
        with oggmix.Player() as player:  # opens the sound device that OGGMIX_AUDIO names
            explore, combat, drums, stinger = (player.load(path) for path in argv[1:])
            for track in (explore, combat):
                if track.tempo is None:  # a file without BPM tags
                    track.tempo = oggmix.Tempo(120.0)
            # The drums are a layer of the combat music, as long as it, on the same playhead;
            # they wait silent until the fight heats up.
            fight = player.make_layer_group([combat, drums])
            drums.set_volume(0.0)

            explore.play()
            print_beats(player, 1.0)
            combat_frame = player.transition(explore, fight)  # a cut on the next bar
            print(f"combat from frame {combat_frame}")
            print_beats(player, 2.0)
            drums.set_volume_timed(1.0, beats=2.0)
            print_beats(player, 1.0)
            stinger_frame = player.play_stinger(stinger, fight, when=oggmix.Quantize.BAR)
            print(f"stinger at frame {stinger_frame}")
            print_beats(player, 3.0)  # the next bar can be a whole bar away
    except oggmix.OggmixError as error:
        print(f"adaptive_music.py: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
