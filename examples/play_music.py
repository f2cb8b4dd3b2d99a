"""Plays a looping track, cross-fades to another, pauses, resumes and prints positions."""
import sys
import time

import oggmix


def main(argv):
    if len(argv) != 3:
        print("usage: play_music.py FIRST.ogg SECOND.ogg", file=sys.stderr)
        return 2
    try:
        with oggmix.Player() as player:  # opens the sound device that OGGMIX_AUDIO names
            first, second = player.load(argv[1]), player.load(argv[2])
            first.play(loop=True, fade_in_sec=0.5)
            time.sleep(1.5)
            player.cross_fade(first, second, 1.0)
            time.sleep(1.5)
            second.pause()
            time.sleep(0.5)
            print(f"paused at {second.position:.3f} s")
            time.sleep(0.5)
            print(f"still at {second.position:.3f} s")
            second.resume()
            time.sleep(1.0)
            print(f"playing at {second.position:.3f} s")
    except oggmix.OggmixError as error:
        print(f"play_music.py: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
